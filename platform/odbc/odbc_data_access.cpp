#include "platform/odbc/odbc_data_access.h"

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/odbc/odbc_connection_string.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cwchar>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 15;

#ifdef _WIN32
// On Windows the narrow calls speak the ANSI code page, not the logic's UTF-8: every text goes
// through the wide calls instead, converted here.
std::wstring Wide(const std::string &text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8(const wchar_t *text, size_t length)
{
    if (length == 0)
        return {};
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

SQLRETURN ExecDirect(SQLHSTMT stmt, const std::string &text)
{
    std::wstring wide = Wide(text);
    return SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR *>(wide.data()),
                          static_cast<SQLINTEGER>(wide.size()));
}

SQLRETURN DriverConnect(SQLHDBC dbc, const std::string &text)
{
    std::wstring wide = Wide(text);
    return SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR *>(wide.data()),
                             static_cast<SQLSMALLINT>(wide.size()), nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT);
}
#else
SQLRETURN ExecDirect(SQLHSTMT stmt, const std::string &text)
{
    return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR *>(const_cast<char *>(text.c_str())),
                         static_cast<SQLINTEGER>(text.size()));
}

SQLRETURN DriverConnect(SQLHDBC dbc, const std::string &text)
{
    return SQLDriverConnect(dbc, nullptr,
                            reinterpret_cast<SQLCHAR *>(const_cast<char *>(text.c_str())), SQL_NTS,
                            nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
}
#endif

// Every diagnostic record of a handle, as "[SQLSTATE] (native error N) message" lines.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::string text;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
#ifdef _WIN32
        wchar_t state[6] = {};
        wchar_t message[1024] = {};
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, reinterpret_cast<SQLWCHAR *>(state),
                                            &native, reinterpret_cast<SQLWCHAR *>(message),
                                            static_cast<SQLSMALLINT>(std::size(message)), &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        const std::string stateText = Utf8(state, std::wcslen(state));
        const std::string messageText = Utf8(message, std::wcslen(message));
#else
        SQLCHAR state[6] = {};
        SQLCHAR message[1024] = {};
        const SQLRETURN rc =
            SQLGetDiagRec(type, handle, record, state, &native, message, sizeof message, &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        const std::string stateText = reinterpret_cast<const char *>(state);
        const std::string messageText = reinterpret_cast<const char *>(message);
#endif
        if (!text.empty())
            text += '\n';
        text += '[' + stateText + "] (native error " + std::to_string(native) + ") " + messageText;
    }
    return text.empty() ? "no diagnostics" : text;
}

[[noreturn]] void Fail(const std::string &what, SQLSMALLINT type, SQLHANDLE handle)
{
    throw KxError(what + ": " + Diagnostics(type, handle));
}

struct StatementFree {
    void operator()(void *stmt) const { SQLFreeHandle(SQL_HANDLE_STMT, stmt); }
};
using StatementHandle = std::unique_ptr<void, StatementFree>;

StatementHandle NewStatement(const OdbcConnection &connection)
{
    if (!connection.Connected())
        throw KxError("the database connection is not open");
    SQLHANDLE stmt = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.Handle(), &stmt)))
        Fail("cannot make a statement", SQL_HANDLE_DBC, connection.Handle());
    return StatementHandle(stmt);
}

// SQL_NO_DATA is what a searched UPDATE or DELETE that touched no row returns: no failure.
bool Succeeded(SQLRETURN rc)
{
    return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
}

} // namespace

OdbcDriverLists ListOdbcDrivers()
{
    OdbcDriverLists lists;
    lists.Drivers32 = ListOdbcDrivers32();
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return lists;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT attributesLength = 0;
        // A longer name is cut (the call then reports SQL_SUCCESS_WITH_INFO); no real one is.
#ifdef _WIN32
        wchar_t name[512] = {};
        wchar_t attributes[2048] = {};
        const SQLRETURN rc =
            SQLDriversW(env, direction, reinterpret_cast<SQLWCHAR *>(name),
                        static_cast<SQLSMALLINT>(std::size(name)), &nameLength,
                        reinterpret_cast<SQLWCHAR *>(attributes),
                        static_cast<SQLSMALLINT>(std::size(attributes)), &attributesLength);
        if (!SQL_SUCCEEDED(rc))
            break;
        lists.Drivers.push_back(Utf8(name, std::wcslen(name)));
#else
        SQLCHAR name[512] = {};
        SQLCHAR attributes[2048] = {};
        const SQLRETURN rc = SQLDrivers(env, direction, name, sizeof name, &nameLength, attributes,
                                        sizeof attributes, &attributesLength);
        if (!SQL_SUCCEEDED(rc))
            break;
        lists.Drivers.emplace_back(reinterpret_cast<const char *>(name));
#endif
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return lists;
}

OdbcConnection::OdbcConnection(std::function<OdbcDriverLists()> drivers)
    : drivers_(std::move(drivers))
{
}

OdbcConnection::~OdbcConnection()
{
    Close();
    if (env_)
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void OdbcConnection::Open()
{
    if (dbc_)
        throw KxError("the database connection is already open");
    std::string driver;
    if (const std::optional<DatabaseKind> kind = ProviderDatabaseKind(connectionString_)) {
        const OdbcDriverChoice choice = ChooseOdbcDriver(*kind, drivers_());
        if (choice.Driver.empty())
            throw KxError(choice.Report);
        LogInfo(choice.Report);
        driver = choice.Driver;
    }
    const std::string odbc = ToOdbcConnectionString(connectionString_, driver);

    if (!env_) {
        SQLHANDLE env = SQL_NULL_HANDLE;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
            throw KxError("the ODBC driver manager cannot be used");
        env_ = env;
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }

    SQLHANDLE dbc = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc)))
        Fail("cannot make a connection", SQL_HANDLE_ENV, env_);
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);

    const SQLRETURN rc = DriverConnect(dbc, odbc);
    if (!SQL_SUCCEEDED(rc)) {
        const std::string diagnostics = Diagnostics(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        throw KxError("cannot open the database connection: " + diagnostics);
    }
    dbc_ = dbc;
}

void OdbcConnection::Close()
{
    if (!dbc_)
        return;
    // Frees every statement still made on this connection.
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = nullptr;
    ++generation_;
}

void OdbcQuery::Close()
{
    if (stmt_ && connection_.Connected() && connection_.Generation() == generation_)
        SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = nullptr;
    fetched_ = false;
    firstField_.clear();
}

void OdbcQuery::Open()
{
    Close();
    StatementHandle stmt = NewStatement(connection_);
    const SQLRETURN rc = ExecDirect(stmt.get(), sql_);
    if (!Succeeded(rc))
        Fail("the query failed", SQL_HANDLE_STMT, stmt.get());
    stmt_ = stmt.release();
    generation_ = connection_.Generation();
}

std::string OdbcQuery::FirstFieldText()
{
    if (fetched_)
        return firstField_;
    if (!stmt_ || !connection_.Connected() || connection_.Generation() != generation_)
        throw KxError("the query is not open");

    const SQLRETURN fetch = SQLFetch(stmt_);
    if (fetch == SQL_NO_DATA)
        throw KxError("the query gave no row");
    if (!SQL_SUCCEEDED(fetch))
        Fail("cannot read the query's row", SQL_HANDLE_STMT, stmt_);

    // Long texts come in pieces; each piece but the last fills the buffer up to its NUL.
#ifdef _WIN32
    using Unit = wchar_t;
    constexpr SQLSMALLINT kTextType = SQL_C_WCHAR;
#else
    using Unit = char;
    constexpr SQLSMALLINT kTextType = SQL_C_CHAR;
#endif
    std::basic_string<Unit> text;
    Unit buffer[512];
    for (;;) {
        SQLLEN indicator = 0; // in bytes
        const SQLRETURN rc = SQLGetData(stmt_, 1, kTextType, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc))
            Fail("cannot read the query's field", SQL_HANDLE_STMT, stmt_);
        if (indicator == SQL_NULL_DATA)
            break;
        const bool whole = rc == SQL_SUCCESS;
        if (whole && indicator != SQL_NO_TOTAL && indicator < static_cast<SQLLEN>(sizeof buffer))
            text.append(buffer, static_cast<size_t>(indicator) / sizeof(Unit));
        else
            text.append(buffer, std::size(buffer) - 1);
        if (whole)
            break;
    }
#ifdef _WIN32
    firstField_ = Utf8(text.data(), text.size());
#else
    firstField_ = text;
#endif
    fetched_ = true;
    return firstField_;
}

void OdbcCommand::Execute()
{
    StatementHandle stmt = NewStatement(connection_);
    // No time limit for a block: an upgrade statement may rebuild a large table.
    SQLSetStmtAttr(stmt.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN{0}), 0);

    SQLRETURN rc = ExecDirect(stmt.get(), text_);
    std::string failure;
    if (rc == SQL_ERROR)
        failure = Diagnostics(SQL_HANDLE_STMT, stmt.get());
    else if (!Succeeded(rc))
        Fail("the command failed", SQL_HANDLE_STMT, stmt.get());

    // A later statement of the text reports its failure only when its result is reached, so
    // every result is fetched; a driver that goes on after a failure is drained too. A driver
    // that keeps failing without moving on is left after a few tries.
    int failuresInARow = rc == SQL_ERROR ? 1 : 0;
    while (failuresInARow < 8) {
        rc = SQLMoreResults(stmt.get());
        if (rc == SQL_NO_DATA)
            break;
        if (rc == SQL_ERROR) {
            if (failure.empty())
                failure = Diagnostics(SQL_HANDLE_STMT, stmt.get());
            ++failuresInARow;
            continue;
        }
        if (!SQL_SUCCEEDED(rc)) {
            if (failure.empty())
                failure = "unexpected result while reading the results";
            break;
        }
        failuresInARow = 0;
    }
    if (!failure.empty())
        throw KxError("the command failed: " + failure);
}
