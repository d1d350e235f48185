#include "platform/odbc/odbc_drivers.h"

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/odbc/odbc_connection_string.h"
#include "platform/odbc/odbc_data_access.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

using Names = std::vector<std::string>;

const std::string kSqlServerTried =
    "tried \"SQLOLEDB.1\", \"ODBC Driver 18 for SQL Server\", \"ODBC Driver 17 for SQL Server\", "
    "\"ODBC Driver 13.1 for SQL Server\", \"ODBC Driver 13 for SQL Server\", \"ODBC Driver 11 "
    "for SQL Server\", \"SQL Server Native Client 11.0\", \"SQL Server\", \"FreeTDS\"; ";
const std::string kMySqlTried =
    "tried \"MySQL ODBC 5.1 Driver\", \"MySQL ODBC <version> Unicode Driver\", \"MySQL ODBC "
    "<version> ANSI Driver\", \"MariaDB ODBC <version> Driver\", \"MariaDB Unicode\", "
    "\"MariaDB\"; ";

TEST(OdbcDriverChoiceTest, TakesTheFirstNameOfTheKindsTableThatIsRegistered)
{
    struct Case {
        const char *what;
        DatabaseKind kind;
        Names drivers;
        Names drivers32;
        std::string driver; // empty: none
        std::string report;
    };
    const std::vector<Case> cases = {
        {"the tool's own name, beside vendors' names",
         DatabaseKind::MySql,
         {"MariaDB Unicode", "MySQL ODBC 8.0 Unicode Driver", "MySQL ODBC 5.1 Driver"},
         {},
         "MySQL ODBC 5.1 Driver",
         "driver: MySQL: tried \"MySQL ODBC 5.1 Driver\"; took \"MySQL ODBC 5.1 Driver\""},
        {"the tool's own name in other letter case",
         DatabaseKind::SqlServer,
         {"FreeTDS", "sqloledb.1"},
         {},
         "sqloledb.1",
         "driver: SQL Server: tried \"SQLOLEDB.1\"; took \"sqloledb.1\""},
        {"only a newer connector",
         DatabaseKind::MySql,
         {"PostgreSQL Unicode", "MySQL ODBC 8.0 Unicode Driver"},
         {},
         "MySQL ODBC 8.0 Unicode Driver",
         "driver: MySQL: tried \"MySQL ODBC 5.1 Driver\", \"MySQL ODBC <version> Unicode "
         "Driver\"; took \"MySQL ODBC 8.0 Unicode Driver\""},
        {"several: the table's order decides, not the list's",
         DatabaseKind::SqlServer,
         {"FreeTDS", "SQL Server", "ODBC Driver 17 for SQL Server",
          "ODBC Driver 18 for SQL Server"},
         {},
         "ODBC Driver 18 for SQL Server",
         "driver: SQL Server: tried \"SQLOLEDB.1\", \"ODBC Driver 18 for SQL Server\"; took "
         "\"ODBC Driver 18 for SQL Server\""},
        {"Windows' own driver before FreeTDS",
         DatabaseKind::SqlServer,
         {"FreeTDS", "SQL Server"},
         {},
         "SQL Server",
         ""},
        {"the newest version of a family, by number not by text",
         DatabaseKind::MySql,
         {"MySQL ODBC 5.3 Unicode Driver", "MySQL ODBC 10.1 Unicode Driver",
          "MySQL ODBC 9.2 Unicode Driver"},
         {},
         "MySQL ODBC 10.1 Unicode Driver",
         ""},
        {"a version with more parts is newer",
         DatabaseKind::MySql,
         {"MariaDB ODBC 3 Driver", "MariaDB ODBC 3.1 Driver", "MariaDB ODBC 3.0 Driver"},
         {},
         "MariaDB ODBC 3.1 Driver",
         ""},
        {"Unicode before ANSI, whatever the versions",
         DatabaseKind::MySql,
         {"MySQL ODBC 9.1 ANSI Driver", "MySQL ODBC 5.3 Unicode Driver"},
         {},
         "MySQL ODBC 5.3 Unicode Driver",
         ""},
        {"the MariaDB package's name",
         DatabaseKind::MySql,
         {"MariaDB", "MariaDB Unicode"},
         {},
         "MariaDB Unicode",
         "driver: MySQL: tried \"MySQL ODBC 5.1 Driver\", \"MySQL ODBC <version> Unicode "
         "Driver\", \"MySQL ODBC <version> ANSI Driver\", \"MariaDB ODBC <version> Driver\", "
         "\"MariaDB Unicode\"; took \"MariaDB Unicode\""},
        {"Oracle's drivers by prefix, the first listed home",
         DatabaseKind::Oracle,
         {"Microsoft ODBC for Oracle", "Oracle in OraClient19Home1", "Oracle in XE"},
         {},
         "Oracle in OraClient19Home1",
         "driver: Oracle: tried \"MSDAORA.1\", \"Oracle in <home>\"; took \"Oracle in "
         "OraClient19Home1\""},
        {"Microsoft's driver for Oracle last",
         DatabaseKind::Oracle,
         {"Microsoft ODBC for Oracle", "Oracle 21 ODBC driver"},
         {},
         "Oracle 21 ODBC driver",
         ""},
        {"names that only look like the table's",
         DatabaseKind::MySql,
         {"MySQL ODBC Unicode Driver", "MySQL ODBC 8.0a Unicode Driver",
          "MySQL ODBC 8.0 Unicode Driver (old)", "MySQL ODBC .8 Unicode Driver", "MariaDB2"},
         {},
         "",
         "driver: MySQL: " + kMySqlTried +
             "none is registered with the driver manager, which lists \"MySQL ODBC Unicode "
             "Driver\", \"MySQL ODBC 8.0a Unicode Driver\", \"MySQL ODBC 8.0 Unicode Driver "
             "(old)\", \"MySQL ODBC .8 Unicode Driver\", \"MariaDB2\": install an ODBC driver "
             "for MySQL, or register one under \"MySQL ODBC 5.1 Driver\""},
        {"a prefix alone is no home", DatabaseKind::Oracle, {"Oracle in "}, {}, "", ""},
        {"none of the kind",
         DatabaseKind::SqlServer,
         {"MySQL ODBC 5.1 Driver"},
         {"MySQL ODBC 5.1 Driver"},
         "",
         "driver: SQL Server: " + kSqlServerTried +
             "none is registered with the driver manager, which lists \"MySQL ODBC 5.1 "
             "Driver\": install an ODBC driver for SQL Server, or register one under "
             "\"SQLOLEDB.1\""},
        {"no driver at all",
         DatabaseKind::Oracle,
         {},
         {},
         "",
         "driver: Oracle: tried \"MSDAORA.1\", \"Oracle in <home>\", \"Oracle <version> ODBC "
         "driver\", \"Microsoft ODBC for Oracle\"; none is registered with the driver manager, "
         "which lists no driver: install an ODBC driver for Oracle, or register one under "
         "\"MSDAORA.1\""},
        {"only for 32-bit programs",
         DatabaseKind::SqlServer,
         {"MySQL ODBC 8.0 Unicode Driver"},
         {"MySQL ODBC 5.1 Driver", "SQL Server Native Client 11.0", "SQLOLEDB.1"},
         "",
         "driver: SQL Server: " + kSqlServerTried +
             "none is registered for 64-bit programs; \"SQL Server Native Client 11.0\", "
             "\"SQLOLEDB.1\" are registered for 32-bit programs only, which this 64-bit program "
             "cannot load: install the 64-bit ODBC driver for SQL Server (Microsoft \"ODBC "
             "Driver 18 for SQL Server\", x64)"},
        {"one for 32-bit programs only",
         DatabaseKind::MySql,
         {},
         {"MySQL ODBC 5.3 ANSI Driver"},
         "",
         "driver: MySQL: " + kMySqlTried +
             "none is registered for 64-bit programs; \"MySQL ODBC 5.3 ANSI Driver\" is "
             "registered for 32-bit programs only, which this 64-bit program cannot load: "
             "install the 64-bit MySQL Connector/ODBC (or the 64-bit MariaDB Connector/ODBC)"},
        {"a 64-bit driver wins over a better 32-bit one",
         DatabaseKind::SqlServer,
         {"SQL Server"},
         {"SQL Server", "ODBC Driver 17 for SQL Server"},
         "SQL Server",
         ""},
    };
    for (const Case &c : cases) {
        const OdbcDriverChoice choice = ChooseOdbcDriver(c.kind, {c.drivers, c.drivers32});
        EXPECT_EQ(choice.Kind, c.kind) << c.what;
        EXPECT_EQ(choice.Driver, c.driver) << c.what;
        if (!c.report.empty()) {
            EXPECT_EQ(choice.Report, c.report) << c.what;
        }
        EXPECT_NE(choice.Report.find(c.driver.empty() ? "none" : "took \"" + c.driver + "\""),
                  std::string::npos)
            << c.what << ": " << choice.Report;
    }
}

class LogLines : public ILogSink {
public:
    void Write(LogLevel, std::string_view line) override { Lines.emplace_back(line); }
    std::vector<std::string> Lines;
};

// The connection asks the driver list when it opens: what it lists decides, and the choice is
// logged before the driver manager is asked for the connection.
TEST(OdbcDriverChoiceTest, TheConnectionChoosesFromTheListItIsGiven)
{
    const std::string sqlServer = " Provider=SQLOLEDB.1;Persist Security Info=False ;Initial "
                                  "Catalog = db ;Data Source=srv ;User ID=sa ;password=pw";
    struct Case {
        const char *what;
        OdbcDriverLists lists;
        std::string error; // what the failure says first
        std::string logged;
    };
    const std::vector<Case> cases = {
        // Not registered with the driver manager of this test: the open fails there.
        {"taken",
         {{"kx no such driver", "FreeTDS"}, {}},
         "cannot open the database connection",
         "driver: SQL Server: " + kSqlServerTried + "took \"FreeTDS\""},
        {"none", {{}, {}}, "driver: SQL Server: " + kSqlServerTried + "none is registered", ""},
        {"32-bit only",
         {{}, {"SQL Server"}},
         "driver: SQL Server: " + kSqlServerTried + "none is registered for 64-bit programs",
         ""},
    };
    for (const Case &c : cases) {
        int asked = 0;
        OdbcConnection connection([&] {
            ++asked;
            return c.lists;
        });
        connection.SetConnectionString(sqlServer);
        LogLines log;
        ScopedLogSink installed(log);
        try {
            connection.Open();
            ADD_FAILURE() << c.what << ": opened";
        } catch (const KxError &error) {
            EXPECT_EQ(std::string(error.what()).rfind(c.error, 0), 0u)
                << c.what << ": " << error.what();
        }
        EXPECT_EQ(asked, 1) << c.what;
        EXPECT_FALSE(connection.Connected()) << c.what;
        EXPECT_EQ(log.Lines, c.logged.empty() ? Names{} : Names{c.logged}) << c.what;
    }
    // A string that names its own driver is not the kind's: no list is asked for.
    int asked = 0;
    OdbcConnection connection([&] {
        ++asked;
        return OdbcDriverLists{};
    });
    connection.SetConnectionString(
        "Provider=MSDASQL;DRIVER={kx no such driver};SERVER=h;DATABASE=d;USER=u;PASSWORD=p;");
    EXPECT_THROW(connection.Open(), KxError);
    EXPECT_EQ(asked, 0);
}

TEST(OdbcDriverChoiceTest, EveryDriverOfTheTablesHasTheKeysOfItsDatabase)
{
    for (DatabaseKind kind : {DatabaseKind::SqlServer, DatabaseKind::MySql, DatabaseKind::Oracle}) {
        const Names names = OdbcDriverNames(kind);
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(KindOfToolDriverName(names.front()), kind) << names.front();
        for (const std::string &name : names) {
            const OdbcDriverKeys &keys = OdbcKeysOfDriver(kind, name);
            EXPECT_FALSE(keys.Server.empty()) << name;
            EXPECT_FALSE(keys.User.empty()) << name;
            EXPECT_FALSE(keys.Password.empty()) << name;
            // Only the SQL Server and MySQL strings carry a database name.
            EXPECT_EQ(keys.Database.empty(), kind == DatabaseKind::Oracle) << name;
        }
    }
    EXPECT_EQ(KindOfToolDriverName("msdaora.1"), DatabaseKind::Oracle);
    EXPECT_EQ(KindOfToolDriverName("MySQL ODBC 8.0 Unicode Driver"), std::nullopt);
}

} // namespace

} // namespace offline_upgrade
