#include "platform/odbc/odbc_data_access.h"

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/odbc/odbc_calls.h"
#include "platform/odbc/odbc_connection_string.h"

#include <memory>
#include <optional>
#include <utility>

namespace offline_upgrade {

namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 15;

// Every diagnostic record of a handle, as "[SQLSTATE] (native error N) message" lines.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::string text;
    std::string state;
    std::string message;
    SQLINTEGER native = 0;
    for (SQLSMALLINT record = 1; OdbcDiagnosticRecord(type, handle, record, state, native, message);
         ++record) {
        if (!text.empty())
            text += '\n';
        text += '[' + state + "] (native error " + std::to_string(native) + ") " + message;
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
    std::string name;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST; OdbcNextDriver(env, direction, name);
         direction = SQL_FETCH_NEXT)
        lists.Drivers.push_back(name);
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

    const SQLRETURN rc = OdbcDriverConnect(dbc, odbc);
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
    const SQLRETURN rc = OdbcExecDirect(stmt.get(), sql_);
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

    std::string text;
    if (!SQL_SUCCEEDED(OdbcColumnText(stmt_, 1, text)))
        Fail("cannot read the query's field", SQL_HANDLE_STMT, stmt_);
    firstField_ = std::move(text);
    fetched_ = true;
    return firstField_;
}

void OdbcCommand::Execute()
{
    StatementHandle stmt = NewStatement(connection_);
    // No time limit for a block: an upgrade statement may rebuild a large table.
    SQLSetStmtAttr(stmt.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN{0}), 0);

    SQLRETURN rc = OdbcExecDirect(stmt.get(), text_);
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

} // namespace offline_upgrade
