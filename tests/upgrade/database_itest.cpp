// The connection step and the script runner against the private MariaDB server, through the
// real ODBC layer and the driver registered as the tool's MySQL driver.

#include "platform/error.h"
#include "platform/odbc/odbc_data_access.h"
#include "real_services.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_database.h"
#include "tests/support/upgrade_parts.h"
#include "upgrade/database_connection.h"
#include "upgrade/script_runner.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

class DatabaseIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestDatabaseReady());
        package.PackageName = "pkg-3.0.zip";
        package.DbType = 1;
        package.SQLCount = 5;
        product = TestDatabaseProduct();
        db.emplace();
        db->Exec("DROP TABLE IF EXISTS itest_rows; DROP TABLE IF EXISTS itest_text;"
                 "DROP TABLE IF EXISTS itest_new");
        db->Exec("CREATE TABLE itest_rows (n INT PRIMARY KEY) ENGINE=InnoDB");
    }

    void WriteScript(const std::string &bytes)
    {
        temp.Write("prog/TempUpdate/pkg-3.0/UpdateSQL.sql", bytes);
    }

    // The numbers in itest_rows, in order, as "1,2,3".
    std::string Rows()
    {
        return db->Text("SELECT IFNULL(GROUP_CONCAT(n ORDER BY n), '') FROM itest_rows");
    }

    TempFolder temp;
    UpgradeParts parts{.ComputerName = "WS-01", .LocalIP = "10.0.0.5"};
    T_PackageInfo &package = parts.Package;
    T_ProductReg &product = parts.Product;
    RecordingWindow &window = parts.Window;
    OdbcConnection tempConnection;
    OdbcQuery ADOQuery{tempConnection};
    OdbcCommand updataExec{tempConnection};
    SystemFileSystem files;
    UpgradeContext context = parts.Context(temp.Slashed() + "prog/", files, tempConnection,
                                           ADOQuery, updataExec, parts.Processes);
    std::optional<TestDatabase> db;
};

TEST_F(DatabaseIntegrationTest, BlocksRunInFileOrderAndTakeEffect)
{
    // Each block depends on the one before it.
    WriteScript("-- sql begin create\r\n"
                "CREATE TABLE itest_new (id INT PRIMARY KEY, note VARCHAR(20))\r\n"
                "-- end sql\r\n"
                "-- sql begin fill\r\n"
                "INSERT INTO itest_new VALUES (1, 'a'), (2, 'b')\r\n"
                "-- end sql\r\n"
                "-- sql begin alter\r\n"
                "  ALTER TABLE itest_new\r\n"
                "\r\n"
                "    ADD COLUMN extra INT NOT NULL DEFAULT 7\r\n"
                "-- end sql\r\n"
                "-- sql begin change\r\n"
                "UPDATE itest_new SET note = CONCAT(note, extra) WHERE id = 2\r\n"
                "-- end sql\r\n");
    ASSERT_TRUE(ConnectProductDatabase(context));

    EXPECT_TRUE(RunUpgradeScripts(context, true));

    EXPECT_TRUE(window.Messages.empty());
    EXPECT_EQ(db->Text("SELECT GROUP_CONCAT(CONCAT(id, note, extra) ORDER BY id) FROM itest_new"),
              "1a7,2b77");
    EXPECT_EQ(window.StepText(), "正在执行升级脚本(4/5)...");
}

TEST_F(DatabaseIntegrationTest, BlockOfTwoStatementsRunsBoth)
{
    WriteScript("-- sql begin two\n"
                "INSERT INTO itest_rows VALUES (1);\n"
                "INSERT INTO itest_rows VALUES (2);\n"
                "-- end sql\n"
                "-- sql begin after\n"
                "INSERT INTO itest_rows VALUES (3)\n"
                "-- end sql\n");
    ASSERT_TRUE(ConnectProductDatabase(context));

    EXPECT_TRUE(RunUpgradeScripts(context, true));

    EXPECT_TRUE(window.Messages.empty());
    EXPECT_EQ(Rows(), "1,2,3");
}

TEST_F(DatabaseIntegrationTest, RefusedThirdBlockOfFiveStopsTheRun)
{
    WriteScript("-- sql begin one\nINSERT INTO itest_rows VALUES (1)\n-- end sql\n"
                "-- sql begin two\nINSERT INTO itest_rows VALUES (2)\n-- end sql\n"
                "-- sql begin three\nINSERT INTO itest_missing VALUES (3)\n-- end sql\n"
                "-- sql begin four\nINSERT INTO itest_rows VALUES (4)\n-- end sql\n"
                "-- sql begin five\nINSERT INTO itest_rows VALUES (5)\n-- end sql\n");
    ASSERT_TRUE(ConnectProductDatabase(context));

    EXPECT_FALSE(RunUpgradeScripts(context, true));

    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, "执行升级脚本失败(three)！");
    EXPECT_EQ(window.ProgressPosition(), 2);
    EXPECT_EQ(Rows(), "1,2");
    // The connection is left open and usable for whatever comes next.
    ASSERT_TRUE(tempConnection.Connected());
    updataExec.SetCommandText("INSERT INTO itest_rows VALUES (9)");
    EXPECT_NO_THROW(updataExec.Execute());
    EXPECT_EQ(Rows(), "1,2,9");
}

TEST_F(DatabaseIntegrationTest, ErrorInALaterStatementFailsItsBlock)
{
    struct Case {
        std::string block;
        std::string rows; // what stays applied: there is no transaction
    };
    const std::vector<Case> cases = {
        {"INSERT INTO itest_rows VALUES (1);\nINSERT INTO itest_missing VALUES (2)", "1"},
        {"INSERT INTO itest_rows VALUES (1);\nINSERT INTO itest_rows VALUES (1);\n"
         "INSERT INTO itest_rows VALUES (3)",
         "1"},
        {"INSERT INTO itest_rows VALUES (1);\nSELECT 1;\nINSERT INTO itest_rows VALUES (1)", "1"},
    };
    ASSERT_TRUE(ConnectProductDatabase(context));
    for (size_t i = 0; i < cases.size(); ++i) {
        db->Exec("DELETE FROM itest_rows");
        window = RecordingWindow();
        WriteScript("-- sql begin multi\n" + cases[i].block + "\n-- end sql\n" +
                    "-- sql begin never\nINSERT INTO itest_rows VALUES (8)\n-- end sql\n");

        EXPECT_FALSE(RunUpgradeScripts(context, true)) << "case " << i;

        ASSERT_EQ(window.Messages.size(), 1u) << "case " << i;
        EXPECT_EQ(window.Messages[0].Text, "执行升级脚本失败(multi)！") << "case " << i;
        EXPECT_EQ(Rows(), cases[i].rows) << "case " << i;
        // Nothing of the failed block is left pending on the connection.
        updataExec.SetCommandText("SELECT 1");
        EXPECT_NO_THROW(updataExec.Execute()) << "case " << i;
    }
}

TEST_F(DatabaseIntegrationTest, ConnectionFailuresGiveTheConnectionMessage)
{
    struct Case {
        std::string what;
        int32_t dbType;
        T_ProductReg product;
    };
    T_ProductReg wrongPassword = TestDatabaseProduct();
    wrongPassword.PassWord = "not the password";
    T_ProductReg unknownDatabase = TestDatabaseProduct();
    unknownDatabase.DBaseName = "kx_no_such_database";
    // Nothing listens there: the server binds 127.0.0.1 only.
    T_ProductReg noServer = TestDatabaseProduct();
    noServer.ServerName = "127.0.0.2";
    const std::vector<Case> cases = {
        {"wrong password", 1, wrongPassword},
        {"unknown database", 1, unknownDatabase},
        {"no server", 1, noServer},
        {"driver not registered", 0, TestDatabaseProduct()},
        {"kind without a string", 3, TestDatabaseProduct()},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        package.DbType = cases[i].dbType;
        product = cases[i].product;
        window = RecordingWindow();

        EXPECT_FALSE(ConnectProductDatabase(context)) << cases[i].what;

        ASSERT_EQ(window.Messages.size(), 1u) << cases[i].what;
        EXPECT_EQ(window.Messages[0].Text, "连接产品数据库失败！") << cases[i].what;
        EXPECT_EQ(window.Messages[0].Caption, "提示") << cases[i].what;
        EXPECT_EQ(window.Messages[0].Icon, MessageIcon::Error) << cases[i].what;
        EXPECT_FALSE(tempConnection.Connected()) << cases[i].what;
    }
}

TEST_F(DatabaseIntegrationTest, PasswordWithSeparatorsReachesTheServerWhole)
{
    ASSERT_NE(product.PassWord.find(';'), std::string::npos);

    ASSERT_TRUE(ConnectProductDatabase(context));

    ADOQuery.SetSQL("SELECT CONCAT(CURRENT_USER(), '/', DATABASE())");
    ADOQuery.Open();
    EXPECT_EQ(ADOQuery.FirstFieldText(), kTestDbUser + "@%/" + kTestDbName);
    ADOQuery.Close();

    // A second connect closes the open connection first and opens it again.
    EXPECT_TRUE(ConnectProductDatabase(context));
    EXPECT_TRUE(tempConnection.Connected());
}

TEST_F(DatabaseIntegrationTest, ChineseTextOfAGb18030ScriptArrivesAsTheRightCharacters)
{
    db->Exec("CREATE TABLE itest_text (t VARCHAR(40)) CHARACTER SET utf8mb4");
    // "中文升级" and "状态" in GB18030; the second is also valid UTF-8 taken alone.
    WriteScript("-- sql begin \xBD\xA8\xB1\xED\r\n"
                "INSERT INTO itest_text VALUES ('\xD6\xD0\xCE\xC4\xC9\xFD\xBC\xB6');\r\n"
                "INSERT INTO itest_text VALUES ('\xD7\xB4\xCC\xAC')\r\n"
                "-- end sql\r\n");
    ASSERT_TRUE(ConnectProductDatabase(context));

    EXPECT_TRUE(RunUpgradeScripts(context, true));

    EXPECT_TRUE(window.Messages.empty());
    // Compared as the stored bytes, so no conversion on the way back can hide a fault.
    EXPECT_EQ(db->Text("SELECT GROUP_CONCAT(HEX(t) ORDER BY t) FROM itest_text"),
              "E4B8ADE69687E58D87E7BAA7,E78AB6E68081");
    EXPECT_EQ(db->Text("SELECT t FROM itest_text WHERE t LIKE '中%'"), "中文升级");
}

TEST_F(DatabaseIntegrationTest, OracleAddressQueryErrorReachesTheCaller)
{
    ASSERT_TRUE(ConnectProductDatabase(context));
    // MariaDB has no such package: the query is refused, and the refusal is not absorbed.
    EXPECT_THROW(IsDatabaseServerLocal(context, 2, product.ServerName), KxError);
    EXPECT_TRUE(window.Messages.empty());
}

} // namespace

} // namespace offline_upgrade
