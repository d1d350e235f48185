// The ODBC layer against the private MariaDB server: what the stages rely on beyond a plain
// statement.

#include "platform/odbc/odbc_data_access.h"

#include "platform/error.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>

#include <string>

namespace offline_upgrade {

namespace {

class OdbcDataAccessItest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestDatabaseReady());
        connection.SetConnectionString(
            "Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + kTestDbServer +
            ";DATABASE=" + kTestDbName + ";USER=" + kTestDbUser + ";PASSWORD=" + kTestDbPassword +
            ";");
        connection.Open();
        Run("DROP TABLE IF EXISTS odbc_rows; CREATE TABLE odbc_rows (n INT PRIMARY KEY)");
    }

    void Run(const std::string &text)
    {
        command.SetCommandText(text);
        command.Execute();
    }

    std::string First(const std::string &sql)
    {
        query.Close();
        query.SetSQL(sql);
        query.Open();
        return query.FirstFieldText();
    }

    OdbcConnection connection;
    OdbcQuery query{connection};
    OdbcCommand command{connection};
};

TEST_F(OdbcDataAccessItest, FirstFieldTextReadsLongAndNullFields)
{
    // Longer than one piece of the read, and not a multiple of it.
    std::string expected;
    for (int i = 0; i < 1500; ++i)
        expected += "ab";
    EXPECT_EQ(First("SELECT REPEAT('ab', 1500)"), expected);
    EXPECT_EQ(First("SELECT '中文'"), "中文");
    EXPECT_EQ(First("SELECT NULL"), "");
    EXPECT_EQ(First("SELECT 42, 43"), "42");
    EXPECT_EQ(query.FirstFieldText(), "42") << "a second read gives the same row";
    EXPECT_THROW(First("SELECT 1 FROM odbc_rows"), KxError);
    EXPECT_THROW(First("SELECT no_such_column"), KxError);
}

TEST_F(OdbcDataAccessItest, CommandDrainsResultSetsAndRunsEveryStatement)
{
    Run("SELECT 1;\r\nINSERT INTO odbc_rows VALUES (1);\r\nSELECT * FROM odbc_rows;\r\n"
        "INSERT INTO odbc_rows VALUES (2)");
    EXPECT_EQ(First("SELECT COUNT(*) FROM odbc_rows"), "2");
    // Touching no row is no failure.
    EXPECT_NO_THROW(Run("UPDATE odbc_rows SET n = 5 WHERE n = 99"));
    EXPECT_NO_THROW(Run("DELETE FROM odbc_rows WHERE n = 99"));
    // An empty command is refused by the server.
    EXPECT_THROW(Run(""), KxError);
    EXPECT_NO_THROW(Run("SELECT 1"));
}

TEST_F(OdbcDataAccessItest, QueryOutlivesACloseAndReopenOfItsConnection)
{
    query.SetSQL("SELECT 7");
    query.Open();
    connection.Close();
    EXPECT_FALSE(connection.Connected());
    EXPECT_THROW(query.FirstFieldText(), KxError);
    connection.Close(); // closing a closed connection does nothing

    connection.Open();
    EXPECT_THROW(query.FirstFieldText(), KxError) << "the statement of the earlier connection";
    EXPECT_EQ(First("SELECT 8"), "8");
    EXPECT_THROW(connection.Open(), KxError) << "already open";
}

} // namespace

} // namespace offline_upgrade
