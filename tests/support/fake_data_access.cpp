#include "tests/support/fake_data_access.h"

#include "platform/error.h"

namespace offline_upgrade {

void FakeConnection::SetConnectionString(const std::string &text)
{
    text_ = text;
    Calls.push_back("set:" + text);
}

void FakeConnection::Open()
{
    Calls.push_back("open");
    if (FailOpen)
        throw KxError("fake: the server refused the login");
    if (text_.empty())
        throw KxError("fake: the connection string is empty");
    IsOpen = true;
}

void FakeConnection::Close()
{
    Calls.push_back("close");
    IsOpen = false;
}

void FakeQuery::SetSQL(const std::string &text)
{
    SQL = text;
    Calls.push_back("sql:" + text);
}

void FakeQuery::Open()
{
    Calls.push_back("open");
    if (FailOpen)
        throw KxError("fake: the query was refused");
}

std::string FakeQuery::FirstFieldText()
{
    Calls.push_back("field");
    return FieldText;
}

void FakeCommand::Execute()
{
    Executed.push_back(text_);
    if (OnExecute)
        OnExecute(text_);
    if (FailAt == static_cast<int>(Executed.size()))
        throw KxError("fake: the database refused the command");
}

} // namespace offline_upgrade
