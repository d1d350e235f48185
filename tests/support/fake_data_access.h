#pragma once
// A data access layer for tests: records what the stages ask of the connection, the query and
// the command, and fails chosen calls, so no test needs a database server for the logic.

#include "platform/data_access.h"

#include <functional>
#include <string>
#include <vector>

namespace offline_upgrade {

class FakeConnection : public IConnection {
public:
    void SetConnectionString(const std::string &text) override;
    std::string ConnectionString() const override { return text_; }
    bool Connected() const override { return IsOpen; }
    // Throws KxError when FailOpen is set or the connection string is empty, as the real
    // layer does.
    void Open() override;
    void Close() override;

    bool IsOpen = false;
    bool FailOpen = false;
    std::vector<std::string> Calls; // "set:TEXT", "open", "close", in order

private:
    std::string text_;
};

class FakeQuery : public IQuery {
public:
    void Close() override { Calls.push_back("close"); }
    void SetSQL(const std::string &text) override;
    void Open() override;
    std::string FirstFieldText() override;

    std::string FieldText;          // what FirstFieldText gives
    bool FailOpen = false;          // Open throws KxError
    std::vector<std::string> Calls; // "close", "sql:TEXT", "open", "field", in order
    std::string SQL;                // the statement text as it is now
};

class FakeCommand : public ICommand {
public:
    void SetCommandText(const std::string &text) override { text_ = text; }
    // Records the text, runs OnExecute, then throws KxError when this is call number FailAt.
    void Execute() override;

    int FailAt = 0; // the Execute call with this number (the first is 1) fails; 0: none
    std::vector<std::string> Executed; // the text of every Execute call, failed ones included
    std::function<void(const std::string &text)> OnExecute;

private:
    std::string text_;
};

} // namespace offline_upgrade
