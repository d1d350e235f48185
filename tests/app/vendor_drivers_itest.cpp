// The whole upgrade through the main window on a machine whose ODBC drivers carry only the
// names their vendors' installers give: the private server's MariaDB Connector/ODBC registered
// as Microsoft's driver for SQL Server, as MySQL's newer connector and as an Oracle home's
// driver, and under none of the tool's own names. The blocks are MySQL's; what is tested is the
// route from each database kind to the driver that serves it.

#include "tests/app/upgrade_world.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

// The private server's driver under vendors' names only. Set before the first ODBC call of
// the process: the driver manager reads ODBCSYSINI once.
class VendorDriverList {
public:
    VendorDriverList()
    {
        const char *shared = std::getenv("ODBCSYSINI");
        std::ifstream in(std::filesystem::path(shared ? shared : "") / "odbcinst.ini");
        std::string line, driver;
        while (std::getline(in, line)) {
            if (line.rfind("Driver=", 0) == 0)
                driver = line;
        }
        if (driver.empty())
            return; // TestDatabaseReady() says what is missing
        std::string list;
        for (const char *name : {"ODBC Driver 17 for SQL Server", "MySQL ODBC 8.0 Unicode Driver",
                                 "Oracle in OraDB19Home1"})
            list += "[" + std::string(name) + "]\n" + driver + "\n\n";
        folder_.Write("odbcinst.ini", list);
        folder_.Write("odbc.ini", "");
        setenv("ODBCSYSINI", folder_.Path().c_str(), 1);
    }

private:
    TempFolder folder_;
};

class VendorDriverNames : public ::testing::Test {
protected:
    static void SetUpTestSuite() { drivers_ = new VendorDriverList; }
    static void TearDownTestSuite()
    {
        delete drivers_;
        drivers_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(TestDatabaseReady()); }

    static VendorDriverList *drivers_;
};
VendorDriverList *VendorDriverNames::drivers_ = nullptr;

TEST_F(VendorDriverNames, EachKindIsUpgradedThroughTheDriverItFinds)
{
    struct Case {
        const char *what;
        int dbType;
        const char *serverName;
        std::vector<std::string> messages;
        std::string rows;
        std::vector<std::string> logged;
    };
    const Case cases[] = {
        // 127.0.0.1 is this machine's address here, so the SQL Server rule lets the scripts run.
        {"SQL Server",
         0,
         "127.0.0.1",
         {"升级成功！"},
         "升级,5.2",
         {"driver: SQL Server: tried \"SQLOLEDB.1\", \"ODBC Driver 18 for SQL Server\", \"ODBC "
          "Driver 17 for SQL Server\"; took \"ODBC Driver 17 for SQL Server\"",
          "locality: SQL Server \"127.0.0.1\"", "this machine, the scripts run",
          "block fill: ran in", "upgrade: succeeded after"}},
        {"MySQL",
         1,
         "localhost",
         {"升级成功！"},
         "升级,5.2",
         {"driver: MySQL: tried \"MySQL ODBC 5.1 Driver\", \"MySQL ODBC <version> Unicode "
          "Driver\"; took \"MySQL ODBC 8.0 Unicode Driver\"",
          "this machine, the scripts run", "block fill: ran in", "upgrade: succeeded after"}},
        // The connection opens; the Oracle host-address query, which MariaDB has not, fails.
        {"Oracle",
         2,
         "orcl",
         {},
         kNoTable,
         {"driver: Oracle: tried \"MSDAORA.1\", \"Oracle in <home>\"; took \"Oracle in "
          "OraDB19Home1\"",
          "connection stage: succeeded after", "utl_inaddr"}},
    };
    for (const Case &c : cases) {
        UpgradeWorld world(std::string("kx_e2e_vendor_") + std::to_string(c.dbType));
        world.Host().Resolved = {{10, 0, 0, 7}, {127, 0, 0, 1}};
        PackageRecipe recipe;
        recipe.DbType = c.dbType;
        world.MakePackage(recipe);
        world.Register(c.serverName, c.dbType);
        ASSERT_TRUE(world.Open()) << c.what;

        world.PressUpgrade();

        std::vector<std::string> shown = world.MessageTexts();
        if (c.dbType == 2) {
            // The error leaves the run for the default error report.
            ASSERT_EQ(world.Messages().size(), 1u) << c.what;
            EXPECT_EQ(world.Messages()[0].Caption, kTitle) << c.what;
            shown.clear();
        }
        EXPECT_EQ(shown, c.messages) << c.what;
        EXPECT_EQ(world.Rows(), c.rows) << c.what;
        const std::string log = world.Log();
        for (const std::string &part : c.logged)
            EXPECT_NE(log.find(part), std::string::npos)
                << c.what << ": not logged: " << part << "\n"
                << log;
        EXPECT_EQ(world.Files().AppConf, c.rows == kNoTable ? kOldFiles.AppConf : kNewFiles.AppConf)
            << c.what;
        world.ExpectRestored(c.what);
    }
}

} // namespace

} // namespace offline_upgrade
