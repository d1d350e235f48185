#include "real_services.h"
#include "upgrade/database_connection.h"

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/odbc/odbc_connection_string.h"
#include "platform/odbc/odbc_data_access.h"
#include "platform/text.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/upgrade_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

class DatabaseConnectionTest : public ::testing::Test {
protected:
    UpgradeParts parts{.ComputerName = "WS-01", .LocalIP = "192.168.1.20"};
    T_PackageInfo &package = parts.Package;
    T_ProductReg &product = parts.Product;
    std::string &computerName = parts.ComputerName;
    std::string &localIP = parts.LocalIP;
    RecordingWindow &window = parts.Window;
    FakeConnection connection;
    FakeQuery query;
    FakeCommand command;
    SystemFileSystem files;
    UpgradeContext context =
        parts.Context("/prog/", files, connection, query, command, parts.Processes);
};

T_ProductReg Product(std::string server, std::string database, std::string user,
                     std::string password)
{
    T_ProductReg product;
    product.ServerName = std::move(server);
    product.DBaseName = std::move(database);
    product.UserName = std::move(user);
    product.PassWord = std::move(password);
    return product;
}

TEST(BuildConnectionStringTest, BuildsEachKindByteForByte)
{
    struct Case {
        int32_t dbType;
        T_ProductReg product;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // SQL Server: names trimmed of blanks and control bytes, the password never.
        {0, Product("srv", "db", "sa", "pw"),
         " Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = db ;Data "
         "Source=srv ;User ID=sa ;password=pw"},
        {0, Product(" \tsrv\r\n", "  db ", "\x01sa ", " p w "),
         " Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = db ;Data "
         "Source=srv ;User ID=sa ;password= p w "},
        {0, Product("srv", "db", "sa", ""),
         " Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = db ;Data "
         "Source=srv ;User ID=sa"},
        {0, Product("srv", "db", "sa", "  "),
         " Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = db ;Data "
         "Source=srv ;User ID=sa ;password=  "},
        {0, Product("(local) ", "db", "sa", ""),
         " Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = db ;Data "
         "Source=(local) ;User ID=sa"},
        // MySQL: nothing trimmed, the password part always there.
        {1, Product("localhost", "kxdb", "root", "a;b"),
         "Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=localhost;DATABASE=kxdb;"
         "USER=root;PASSWORD=a;b;"},
        {1, Product(" host ", " db ", " u ", ""),
         "Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER= host ;DATABASE= db ;"
         "USER= u ;PASSWORD=;"},
        // Oracle: the database name unused, no semicolon at the end.
        {2, Product("orcl", "unused", "scott", "tiger"),
         "Provider=MSDAORA.1;Password=tiger;User ID=scott;Data Source=orcl;Persist Security "
         "Info=True"},
        {2, Product(" orcl ", "", " scott", ""),
         "Provider=MSDAORA.1;Password=;User ID= scott;Data Source= orcl ;Persist Security "
         "Info=True"},
        {3, Product("srv", "db", "sa", "pw"), ""},
        {-1, Product("srv", "db", "sa", "pw"), ""},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(BuildConnectionString(cases[i].dbType, cases[i].product), cases[i].expected)
            << "case " << i;
    }
}

// The tool's strings as the builder makes them, read for each driver the kinds' tables can
// take: the same fields under each driver's own keys.
TEST(BuildConnectionStringTest, EachDriverGetsTheFieldsUnderItsOwnKeys)
{
    struct Case {
        int32_t dbType;
        T_ProductReg product;
        std::string driver; // empty: the tool's own name
        std::string odbc;
    };
    const std::string mySqlOptions = "OPTION=67108864;CHARSET=utf8mb4;";
    const T_ProductReg sqlServer = Product(" srv\\inst ", " db ", " sa ", " p;w ");
    const T_ProductReg mySql = Product("localhost", "kxdb", "root", "p}w");
    const T_ProductReg oracle = Product("orcl", "unused", "scott", "tiger");
    const std::vector<Case> cases = {
        {0, sqlServer, "", "DRIVER={SQLOLEDB.1};SERVER=srv\\inst;DATABASE=db;UID=sa;PWD={ p;w };"},
        {0, sqlServer, "ODBC Driver 18 for SQL Server",
         "DRIVER={ODBC Driver 18 for SQL Server};SERVER=srv\\inst;DATABASE=db;UID=sa;"
         "PWD={ p;w };Encrypt=no;"},
        {0, sqlServer, "ODBC Driver 17 for SQL Server",
         "DRIVER={ODBC Driver 17 for SQL Server};SERVER=srv\\inst;DATABASE=db;UID=sa;"
         "PWD={ p;w };"},
        {0, Product("(local)", "db", "sa", ""), "SQL Server",
         "DRIVER={SQL Server};SERVER={(local)};DATABASE=db;UID=sa;"},
        {0, sqlServer, "FreeTDS",
         "DRIVER={FreeTDS};SERVER=srv\\inst;DATABASE=db;UID=sa;PWD={ p;w };"},
        {1, mySql, "",
         "DRIVER={MySQL ODBC 5.1 Driver};SERVER=localhost;DATABASE=kxdb;USER=root;"
         "PASSWORD={p}}w};" +
             mySqlOptions},
        {1, mySql, "MySQL ODBC 8.0 ANSI Driver",
         "DRIVER={MySQL ODBC 8.0 ANSI Driver};SERVER=localhost;DATABASE=kxdb;USER=root;"
         "PASSWORD={p}}w};" +
             mySqlOptions},
        {1, Product("h", "d", "u", ""), "MariaDB Unicode",
         "DRIVER={MariaDB Unicode};SERVER=h;DATABASE=d;USER=u;PASSWORD=;" + mySqlOptions},
        {2, oracle, "", "DRIVER={MSDAORA.1};DBQ=orcl;UID=scott;PWD=tiger;"},
        {2, oracle, "Oracle in OraClient19Home1",
         "DRIVER={Oracle in OraClient19Home1};DBQ=orcl;UID=scott;PWD=tiger;"},
        {2, oracle, "Oracle 21 ODBC driver",
         "DRIVER={Oracle 21 ODBC driver};DBQ=orcl;UID=scott;PWD=tiger;"},
        {2, oracle, "Microsoft ODBC for Oracle",
         "DRIVER={Microsoft ODBC for Oracle};SERVER=orcl;UID=scott;PWD=tiger;"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string built = BuildConnectionString(cases[i].dbType, cases[i].product);
        EXPECT_EQ(ProviderDatabaseKind(built), static_cast<DatabaseKind>(cases[i].dbType))
            << "case " << i;
        EXPECT_EQ(ToOdbcConnectionString(built, cases[i].driver), cases[i].odbc) << "case " << i;
    }
}

// An ODBC connection string read as a driver manager reads it: attributes separated by ";",
// the key up to "=", a value in braces up to the "}" that closes it ("}}" is one "}"), any
// other value up to the next ";". Keys in capitals.
std::map<std::string, std::string> ReadOdbcAttributes(const std::string &text)
{
    std::map<std::string, std::string> attributes;
    size_t at = 0;
    while (at < text.size()) {
        const size_t equals = text.find('=', at);
        if (equals == std::string::npos)
            break;
        std::string key = FoldAsciiCase(text.substr(at, equals - at));
        std::string value;
        at = equals + 1;
        if (at < text.size() && text[at] == '{') {
            for (++at; at < text.size(); ++at) {
                if (text[at] == '}' && at + 1 < text.size() && text[at + 1] == '}')
                    value += text[at++];
                else if (text[at] == '}')
                    break;
                else
                    value += text[at];
            }
            ++at; // the closing brace
        } else {
            const size_t end = std::min(text.find(';', at), text.size());
            value = text.substr(at, end - at);
            at = end;
        }
        EXPECT_TRUE(attributes.emplace(key, value).second) << key << " twice in " << text;
        if (at < text.size() && text[at] == ';')
            ++at;
    }
    return attributes;
}

// What the builder makes and the provider string's reading turns into ODBC reaches the driver
// as the fields meant: each kind, and values holding what ODBC or the tool's layouts give a
// meaning (";", "{", "}", "=", blanks). SQL Server's names are trimmed by the builder; nothing
// else is.
TEST(BuildConnectionStringTest, OdbcReadsBackTheFieldsAsBuilt)
{
    using Fields = std::map<std::string, std::string>;
    struct Case {
        int32_t dbType;
        T_ProductReg product;
        Fields expected; // besides the driver and MySQL's options
    };
    // clang-format off
    const std::vector<Case> cases = {
        {kDbTypeSqlServer, Product("srv", "db", "sa", "pw"),
         {{"SERVER", "srv"}, {"DATABASE", "db"}, {"UID", "sa"}, {"PWD", "pw"}}},
        {kDbTypeSqlServer, Product(" srv\\inst ", " d;b ", " s=a ", " p;w "),
         {{"SERVER", "srv\\inst"}, {"DATABASE", "d;b"}, {"UID", "s=a"}, {"PWD", " p;w "}}},
        {kDbTypeSqlServer, Product("s{r}v", "d}}b", "{sa}", "p}w{;=x"),
         {{"SERVER", "s{r}v"}, {"DATABASE", "d}}b"}, {"UID", "{sa}"}, {"PWD", "p}w{;=x"}}},
        {kDbTypeSqlServer, Product("srv", "db", "sa", ""),
         {{"SERVER", "srv"}, {"DATABASE", "db"}, {"UID", "sa"}}},
        {kDbTypeSqlServer, Product("srv", "db", "sa", "  "),
         {{"SERVER", "srv"}, {"DATABASE", "db"}, {"UID", "sa"}, {"PWD", "  "}}},
        {kDbTypeMySql, Product("localhost", "kxdb", "root", "a;b"),
         {{"SERVER", "localhost"}, {"DATABASE", "kxdb"}, {"USER", "root"}, {"PASSWORD", "a;b"}}},
        {kDbTypeMySql, Product(" host ", " d=b ", "u}", "{p;w} "),
         {{"SERVER", " host "}, {"DATABASE", " d=b "}, {"USER", "u}"}, {"PASSWORD", "{p;w} "}}},
        {kDbTypeMySql, Product("h", "d", "u", ";PASSWORD=x;"),
         {{"SERVER", "h"}, {"DATABASE", "d"}, {"USER", "u"}, {"PASSWORD", ";PASSWORD=x;"}}},
        {kDbTypeMySql, Product("h", "d", "u", ""),
         {{"SERVER", "h"}, {"DATABASE", "d"}, {"USER", "u"}, {"PASSWORD", ""}}},
        {kDbTypeOracle, Product("orcl", "unused", "scott", "tiger"),
         {{"DBQ", "orcl"}, {"UID", "scott"}, {"PWD", "tiger"}}},
        {kDbTypeOracle, Product(" or;cl ", "", " sc=ott", "ti;ger}{"),
         {{"DBQ", " or;cl "}, {"UID", " sc=ott"}, {"PWD", "ti;ger}{"}}},
        {kDbTypeOracle, Product("orcl", "", "scott", "Password=x;User ID=y"),
         {{"DBQ", "orcl"}, {"UID", "scott"}, {"PWD", "Password=x;User ID=y"}}},
    };
    // clang-format on
    const Fields tools = {{"0", "SQLOLEDB.1"}, {"1", "MySQL ODBC 5.1 Driver"}, {"2", "MSDAORA.1"}};
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        Fields expected = c.expected;
        expected["DRIVER"] = tools.at(std::to_string(c.dbType));
        if (c.dbType == kDbTypeMySql) {
            expected["OPTION"] = "67108864";
            expected["CHARSET"] = "utf8mb4";
        }
        const std::string built = BuildConnectionString(c.dbType, c.product);
        EXPECT_EQ(ReadOdbcAttributes(ToOdbcConnectionString(built)), expected)
            << "case " << i << ": " << built;
    }
}

// A machine with the kind's driver registered only for 32-bit programs: the user sees the
// connection message, the log says why and what to install.
TEST(ConnectProductDatabaseTest, DriverForThirtyTwoBitProgramsOnlyIsNamedInTheLog)
{
    struct LogLines : ILogSink {
        void Write(LogLevel level, std::string_view line) override
        {
            if (level == LogLevel::Error)
                Errors.emplace_back(line);
        }
        std::vector<std::string> Errors;
    } log;
    ScopedLogSink installed(log);
    UpgradeParts parts{.Product = Product("localhost", "kxdb", "root", "pw"),
                       .ComputerName = "WS-01",
                       .LocalIP = "10.0.0.5"};
    parts.Package.DbType = 1;
    OdbcConnection connection([] {
        return OdbcDriverLists{{"SQL Server"}, {"MySQL ODBC 5.3 Unicode Driver"}};
    });
    FakeQuery query;
    FakeCommand command;
    RecordingWindow &window = parts.Window;
    SystemFileSystem files;
    UpgradeContext context =
        parts.Context("/prog/", files, connection, query, command, parts.Processes);

    EXPECT_FALSE(ConnectProductDatabase(context));

    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, "连接产品数据库失败！");
    // The reason first, then the stage's end.
    ASSERT_EQ(log.Errors.size(), 2u);
    EXPECT_NE(log.Errors[0].find("connection: driver: MySQL: tried "), std::string::npos)
        << log.Errors[0];
    EXPECT_NE(log.Errors[0].find("\"MySQL ODBC 5.3 Unicode Driver\" is registered for 32-bit "
                                 "programs only, which this 64-bit program cannot load: install "
                                 "the 64-bit MySQL Connector/ODBC"),
              std::string::npos)
        << log.Errors[0];
}

TEST_F(DatabaseConnectionTest, ShowsTheStepPumpsOnceThenOpens)
{
    package.DbType = 1;
    product = Product("localhost", "kxdb", "root", "pw");
    std::vector<std::string> connectionCallsAtPump;
    window.OnPump = [&] { connectionCallsAtPump = connection.Calls; };

    EXPECT_TRUE(ConnectProductDatabase(context));

    EXPECT_EQ(window.Calls,
              (std::vector<std::string>{"step:正在连接产品数据库...", "pos:100", "pos:0", "pump"}));
    EXPECT_TRUE(connectionCallsAtPump.empty()) << "the step text must be painted before the open";
    EXPECT_EQ(connection.Calls,
              (std::vector<std::string>{"set:" + BuildConnectionString(1, product), "open"}));
    EXPECT_TRUE(connection.Connected());
    EXPECT_EQ(window.ProgressMax(), 100);
    EXPECT_TRUE(window.Messages.empty());
}

TEST_F(DatabaseConnectionTest, ClosesAnOpenConnectionBeforeSettingTheString)
{
    package.DbType = 0;
    product = Product("srv", "db", "sa", "");
    connection.IsOpen = true;

    EXPECT_TRUE(ConnectProductDatabase(context));

    EXPECT_EQ(connection.Calls, (std::vector<std::string>{
                                    "close", "set:" + BuildConnectionString(0, product), "open"}));
}

TEST_F(DatabaseConnectionTest, AnyFailureShowsOneMessageAndGivesFalse)
{
    struct Case {
        int32_t dbType;
        bool failOpen;
    };
    // A refused login, and a kind with no connection string at all.
    const std::vector<Case> cases = {{1, true}, {0, true}, {2, true}, {3, false}, {7, false}};
    for (size_t i = 0; i < cases.size(); ++i) {
        FakeConnection failing;
        failing.FailOpen = cases[i].failOpen;
        package.DbType = cases[i].dbType;
        product = Product("srv", "db", "sa", "pw");
        UpgradeParts caseParts{.Package = package,
                               .Product = product,
                               .ComputerName = computerName,
                               .LocalIP = localIP};
        RecordingWindow &shown = caseParts.Window;
        UpgradeContext ctx =
            caseParts.Context("/prog/", files, failing, query, command, caseParts.Processes);

        EXPECT_FALSE(ConnectProductDatabase(ctx)) << "case " << i;

        ASSERT_EQ(shown.Messages.size(), 1u) << "case " << i;
        EXPECT_EQ(shown.Messages[0].Text, "连接产品数据库失败！") << "case " << i;
        EXPECT_EQ(shown.Messages[0].Caption, "提示") << "case " << i;
        EXPECT_EQ(shown.Messages[0].Icon, MessageIcon::Error) << "case " << i;
        EXPECT_FALSE(failing.Connected()) << "case " << i;
    }
}

TEST_F(DatabaseConnectionTest, LocalityComparesServerNamesExactlyAndUntrimmed)
{
    struct Case {
        int32_t dbType;
        std::string server;
        std::string computer;
        std::string ip;
        bool local;
    };
    const std::vector<Case> cases = {
        {0, "(local)", "WS-01", "10.0.0.5", true},
        {0, ".", "WS-01", "10.0.0.5", true},
        {0, "(LOCAL)", "WS-01", "10.0.0.5", false},
        {0, "(local) ", "WS-01", "10.0.0.5", false},
        {0, " .", "WS-01", "10.0.0.5", false},
        {0, "localhost", "WS-01", "10.0.0.5", false},
        {0, "WS-01", "WS-01", "10.0.0.5", true},
        {0, "ws-01", "WS-01", "10.0.0.5", false},
        {0, "WS-01\\SQLEXPRESS", "WS-01", "10.0.0.5", false},
        {0, "10.0.0.5", "WS-01", "10.0.0.5", true},
        {0, "10.0.0.6", "WS-01", "10.0.0.5", false},
        {0, "", "WS-01", "", true},
        {0, "", "WS-01", "10.0.0.5", false},
        {1, "localhost", "WS-01", "10.0.0.5", true},
        {1, "LOCALHOST", "WS-01", "10.0.0.5", false},
        {1, "localhost ", "WS-01", "10.0.0.5", false},
        {1, "127.0.0.1", "WS-01", "10.0.0.5", false},
        {1, "127.0.0.1", "WS-01", "127.0.0.1", true},
        {1, "(local)", "WS-01", "10.0.0.5", false},
        {1, ".", "WS-01", "10.0.0.5", false},
        {1, "WS-01", "WS-01", "10.0.0.5", true},
        {1, "WS-01\\inst", "WS-01", "10.0.0.5", false},
        {1, "", "WS-01", "", true},
        {1, "", "WS-01", "10.0.0.5", false},
        {3, "(local)", "WS-01", "10.0.0.5", false},
        {3, "WS-01", "WS-01", "10.0.0.5", false},
        {3, "", "", "", false},
        {-1, "localhost", "WS-01", "10.0.0.5", false},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        computerName = cases[i].computer;
        localIP = cases[i].ip;
        EXPECT_EQ(IsDatabaseServerLocal(context, cases[i].dbType, cases[i].server), cases[i].local)
            << "case " << i << ": DbType " << cases[i].dbType << ", server \"" << cases[i].server
            << "\"";
    }
    EXPECT_TRUE(query.Calls.empty()) << "only Oracle asks the database";
}

TEST_F(DatabaseConnectionTest, OracleAsksTheDatabaseForItsAddressEachTime)
{
    const std::string statement = "select utl_inaddr.get_host_address from dual";
    const std::vector<std::string> oneCheck = {"close", "sql:" + statement, "open", "field",
                                               "close"};
    localIP = "10.0.0.5";

    query.FieldText = "10.0.0.5";
    EXPECT_TRUE(IsDatabaseServerLocal(context, 2, "anything"));
    EXPECT_EQ(query.Calls, oneCheck);

    // A second check replaces the text rather than adding to it; the server name plays no part.
    query.Calls.clear();
    query.FieldText = "10.0.0.9";
    EXPECT_FALSE(IsDatabaseServerLocal(context, 2, "10.0.0.5"));
    EXPECT_EQ(query.Calls, oneCheck);
    EXPECT_EQ(query.SQL, statement);

    // The address must match exactly.
    query.FieldText = "10.0.0.5 ";
    EXPECT_FALSE(IsDatabaseServerLocal(context, 2, ""));
}

TEST_F(DatabaseConnectionTest, OracleQueryFailureIsLeftToTheCaller)
{
    query.FailOpen = true;
    EXPECT_THROW(IsDatabaseServerLocal(context, 2, "orcl"), KxError);
    EXPECT_TRUE(window.Messages.empty());
}

} // namespace

} // namespace offline_upgrade
