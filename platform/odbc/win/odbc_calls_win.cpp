// ODBC's wide calls: on Windows the narrow calls speak the ANSI code page, not the logic's
// UTF-8, so every text goes through the wide calls, converted here (wide.h).

#include "platform/odbc/odbc_calls.h"

#include "platform/win/wide.h"

#include <iterator>

namespace offline_upgrade {

SQLRETURN OdbcExecDirect(SQLHSTMT stmt, const std::string &text)
{
    std::wstring wide = Widen(text);
    return SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR *>(wide.data()),
                          static_cast<SQLINTEGER>(wide.size()));
}

SQLRETURN OdbcDriverConnect(SQLHDBC dbc, const std::string &connectionString)
{
    std::wstring wide = Widen(connectionString);
    return SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR *>(wide.data()),
                             static_cast<SQLSMALLINT>(wide.size()), nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT);
}

bool OdbcDiagnosticRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                          std::string &state, SQLINTEGER &native, std::string &message)
{
    wchar_t stateText[6] = {};
    wchar_t messageText[1024] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc =
        SQLGetDiagRecW(type, handle, record, reinterpret_cast<SQLWCHAR *>(stateText), &native,
                       reinterpret_cast<SQLWCHAR *>(messageText),
                       static_cast<SQLSMALLINT>(std::size(messageText)), &length);
    if (!SQL_SUCCEEDED(rc))
        return false;
    state = Narrow(stateText);
    message = Narrow(messageText);
    return true;
}

bool OdbcNextDriver(SQLHENV env, SQLUSMALLINT direction, std::string &name)
{
    // A longer name is cut (the call then reports SQL_SUCCESS_WITH_INFO); no real one is.
    wchar_t nameText[512] = {};
    wchar_t attributes[2048] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    const SQLRETURN rc =
        SQLDriversW(env, direction, reinterpret_cast<SQLWCHAR *>(nameText),
                    static_cast<SQLSMALLINT>(std::size(nameText)), &nameLength,
                    reinterpret_cast<SQLWCHAR *>(attributes),
                    static_cast<SQLSMALLINT>(std::size(attributes)), &attributesLength);
    if (!SQL_SUCCEEDED(rc))
        return false;
    name = Narrow(nameText);
    return true;
}

SQLRETURN OdbcColumnText(SQLHSTMT stmt, SQLUSMALLINT column, std::string &text)
{
    std::wstring wide;
    const SQLRETURN rc = OdbcReadPieces(stmt, column, SQL_C_WCHAR, wide);
    text = Narrow(wide);
    return rc;
}

} // namespace offline_upgrade
