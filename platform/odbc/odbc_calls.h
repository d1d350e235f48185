#pragma once
// The ODBC calls that take or give text, in each system's form: the narrow calls on POSIX,
// where they carry the logic's UTF-8 as it is (posix/odbc_calls_posix.cpp); the wide calls on
// Windows, whose narrow calls speak the ANSI code page, with the text converted from and to
// UTF-8 (win/odbc_calls_win.cpp). The build chooses the file, and the folder of odbc_headers.h.

#include "odbc_headers.h"

#include <iterator>
#include <string>

namespace offline_upgrade {

SQLRETURN OdbcExecDirect(SQLHSTMT stmt, const std::string &text);
SQLRETURN OdbcDriverConnect(SQLHDBC dbc, const std::string &connectionString);

// Diagnostic record number record of handle: its SQLSTATE, native error and message. False when
// there is no such record.
bool OdbcDiagnosticRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                          std::string &state, SQLINTEGER &native, std::string &message);

// The next name of the driver manager's driver list (direction SQL_FETCH_FIRST or
// SQL_FETCH_NEXT). False at the end of the list or on a failure.
bool OdbcNextDriver(SQLHENV env, SQLUSMALLINT direction, std::string &name);

// The text of column of the fetched row, whole: long texts come in pieces. A NULL gives "".
// Returns the code of the first SQLGetData that failed, else SQL_SUCCESS.
SQLRETURN OdbcColumnText(SQLHSTMT stmt, SQLUSMALLINT column, std::string &text);

// The pieces of a column's text in units of Unit (char or wchar_t), read as cType; for
// OdbcColumnText of both systems.
template <typename Unit>
SQLRETURN OdbcReadPieces(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                         std::basic_string<Unit> &text)
{
    Unit buffer[512];
    for (;;) {
        SQLLEN indicator = 0; // in bytes
        const SQLRETURN rc = SQLGetData(stmt, column, cType, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc))
            return rc;
        if (indicator == SQL_NULL_DATA)
            break;
        // Each piece but the last fills the buffer up to its NUL.
        const bool whole = rc == SQL_SUCCESS;
        if (whole && indicator != SQL_NO_TOTAL && indicator < static_cast<SQLLEN>(sizeof buffer))
            text.append(buffer, static_cast<size_t>(indicator) / sizeof(Unit));
        else
            text.append(buffer, std::size(buffer) - 1);
        if (whole)
            break;
    }
    return SQL_SUCCESS;
}

} // namespace offline_upgrade
