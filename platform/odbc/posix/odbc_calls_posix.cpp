// ODBC's narrow calls: on POSIX they carry the logic's UTF-8 text as it is.

#include "platform/odbc/odbc_calls.h"

namespace offline_upgrade {

SQLRETURN OdbcExecDirect(SQLHSTMT stmt, const std::string &text)
{
    return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR *>(const_cast<char *>(text.c_str())),
                         static_cast<SQLINTEGER>(text.size()));
}

SQLRETURN OdbcDriverConnect(SQLHDBC dbc, const std::string &connectionString)
{
    return SQLDriverConnect(
        dbc, nullptr, reinterpret_cast<SQLCHAR *>(const_cast<char *>(connectionString.c_str())),
        SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
}

bool OdbcDiagnosticRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                          std::string &state, SQLINTEGER &native, std::string &message)
{
    SQLCHAR stateText[6] = {};
    SQLCHAR messageText[1024] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, record, stateText, &native, messageText,
                                       sizeof messageText, &length);
    if (!SQL_SUCCEEDED(rc))
        return false;
    state = reinterpret_cast<const char *>(stateText);
    message = reinterpret_cast<const char *>(messageText);
    return true;
}

bool OdbcNextDriver(SQLHENV env, SQLUSMALLINT direction, std::string &name)
{
    // A longer name is cut (the call then reports SQL_SUCCESS_WITH_INFO); no real one is.
    SQLCHAR nameText[512] = {};
    SQLCHAR attributes[2048] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    const SQLRETURN rc = SQLDrivers(env, direction, nameText, sizeof nameText, &nameLength,
                                    attributes, sizeof attributes, &attributesLength);
    if (!SQL_SUCCEEDED(rc))
        return false;
    name = reinterpret_cast<const char *>(nameText);
    return true;
}

SQLRETURN OdbcColumnText(SQLHSTMT stmt, SQLUSMALLINT column, std::string &text)
{
    text.clear();
    return OdbcReadPieces(stmt, column, SQL_C_CHAR, text);
}

} // namespace offline_upgrade
