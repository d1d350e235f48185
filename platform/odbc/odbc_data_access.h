#pragma once
// The data access layer over ODBC (unixODBC on POSIX). Replaces the tool's OLE DB connection,
// query and command; the provider strings are turned into ODBC connection strings
// (odbc_connection_string.h) for the driver of the database kind that the driver manager has
// (odbc_drivers.h). Leaves out everything the tool does not use: parameters, cursors beyond the
// first row, transactions (every statement commits on its own).
//
// Text passes through the narrow (byte) ODBC calls as UTF-8 on POSIX and
// through the wide calls on Windows, converted from and to the logic's UTF-8; for MySQL and
// MariaDB drivers the connection asks for utf8mb4, so UTF-8 text arrives as the same
// characters.

#include "platform/data_access.h"
#include "platform/odbc/odbc_drivers.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace offline_upgrade {

// The drivers registered on this machine: the driver manager's own list (SQLDrivers) and, on
// Windows, ListOdbcDrivers32. Never throws: a list that cannot be read is empty.
OdbcDriverLists ListOdbcDrivers();

// Windows: the drivers registered for 32-bit programs, the names installed under
// HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBCINST.INI\ODBC Drivers in the registry's 32-bit view.
// Empty on POSIX, and when the key cannot be read.
std::vector<std::string> ListOdbcDrivers32();

class OdbcConnection : public IConnection {
public:
    // drivers gives the machine's registered drivers when a connection is opened; tests give
    // lists of their own.
    explicit OdbcConnection(std::function<OdbcDriverLists()> drivers = ListOdbcDrivers);
    ~OdbcConnection() override;
    OdbcConnection(const OdbcConnection &) = delete;
    OdbcConnection &operator=(const OdbcConnection &) = delete;

    void SetConnectionString(const std::string &text) override { connectionString_ = text; }
    std::string ConnectionString() const override { return connectionString_; }
    bool Connected() const override { return dbc_ != nullptr; }
    // For a string that asks for a database kind by the tool's own driver name, first chooses
    // the kind's driver among the registered ones and logs the choice; throws KxError with the
    // reason (the names tried; drivers registered for 32-bit programs only) when there is none.
    // Never prompts for a login; gives up after 15 seconds when the server does not answer.
    // Throws KxError also when the connection is already open.
    void Open() override;
    void Close() override;

    // For the query and the command bound to this connection.
    void *Handle() const { return dbc_; }
    // Changes on every close, so a statement made on an earlier connection is never freed
    // twice (closing a connection frees its statements).
    uint64_t Generation() const { return generation_; }

private:
    std::function<OdbcDriverLists()> drivers_;
    std::string connectionString_;
    void *env_ = nullptr;
    void *dbc_ = nullptr;
    uint64_t generation_ = 0;
};

// The connection must outlive its queries and commands.
class OdbcQuery : public IQuery {
public:
    explicit OdbcQuery(OdbcConnection &connection) : connection_(connection) {}
    ~OdbcQuery() override { Close(); }
    OdbcQuery(const OdbcQuery &) = delete;
    OdbcQuery &operator=(const OdbcQuery &) = delete;

    void Close() override;
    void SetSQL(const std::string &text) override { sql_ = text; }
    // Closes a result still open, then runs the text. Throws KxError when the connection is
    // closed or the database refuses the statement.
    void Open() override;
    // A NULL field gives the empty text. Throws KxError when the query is not open or has no
    // row.
    std::string FirstFieldText() override;

private:
    OdbcConnection &connection_;
    std::string sql_;
    void *stmt_ = nullptr;
    uint64_t generation_ = 0;
    bool fetched_ = false;
    std::string firstField_;
};

class OdbcCommand : public ICommand {
public:
    explicit OdbcCommand(OdbcConnection &connection) : connection_(connection) {}

    void SetCommandText(const std::string &text) override { text_ = text; }
    // Runs the text in one call and drains every result, so nothing is left pending for the
    // next command. Throws KxError when the connection is closed or any statement of the text
    // fails (the first failure's diagnostics are the message).
    void Execute() override;

private:
    OdbcConnection &connection_;
    std::string text_;
};

} // namespace offline_upgrade
