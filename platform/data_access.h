#pragma once
// The data access layer: a connection, a query and a command bound to it. The ODBC
// implementation turns the tool's provider connection strings into ODBC connection strings.

#include <string>

namespace offline_upgrade {

class IConnection {
public:
    virtual ~IConnection() = default;
    virtual void SetConnectionString(const std::string &text) = 0;
    virtual std::string ConnectionString() const = 0;
    [[nodiscard]] virtual bool Connected() const = 0;
    // Opens synchronously. Throws KxError when the connection cannot be opened (also for an
    // empty or unknown connection string). Never shows a login prompt.
    virtual void Open() = 0;
    // Closes when open; otherwise does nothing. Never throws.
    virtual void Close() = 0;
};

// A query bound to a connection.
class IQuery {
public:
    virtual ~IQuery() = default;
    virtual void Close() = 0;
    // Replaces the statement text.
    virtual void SetSQL(const std::string &text) = 0;
    // Runs the statement. Throws KxError when the connection is closed or the database
    // refuses the statement.
    virtual void Open() = 0;
    // The first field of the first row, as text; a NULL field gives the empty text. Throws
    // KxError when the query is not open or has no row.
    virtual std::string FirstFieldText() = 0;
};

// A command bound to a connection: no time limit, text not scanned for parameters.
class ICommand {
public:
    virtual ~ICommand() = default;
    virtual void SetCommandText(const std::string &text) = 0;
    // Runs the text, which may hold several statements, and drains every result, so nothing
    // is left pending for the next command. Throws KxError when the connection is closed or
    // the database refuses any statement of it (an empty text is the database's to judge).
    virtual void Execute() = 0;
};

} // namespace offline_upgrade
