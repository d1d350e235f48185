#include "platform/odbc/odbc_connection_string.h"

#include "platform/error.h"
#include "platform/odbc/odbc_data_access.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

const std::string kMySqlOptions = "OPTION=67108864;CHARSET=utf8mb4;";

TEST(OdbcConnectionStringTest, TranslatesEachProviderLayout)
{
    struct Case {
        std::string provider;
        std::string odbc;
    };
    const std::vector<Case> cases = {
        {"Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=localhost;DATABASE=kxdb;"
         "USER=root;PASSWORD=pw;",
         "DRIVER={MySQL ODBC 5.1 Driver};SERVER=localhost;DATABASE=kxdb;USER=root;PASSWORD=pw;" +
             kMySqlOptions},
        // A password may hold the separator, braces and even the layout's own key texts.
        {"Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;DATABASE=d;USER=u;"
         "PASSWORD=a;b;",
         "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;DATABASE=d;USER=u;PASSWORD={a;b};" +
             kMySqlOptions},
        {"Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;DATABASE=d;USER=u;"
         "PASSWORD=x};DRIVER={evil;",
         "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;DATABASE=d;USER=u;PASSWORD={x}};DRIVER={evil};" +
             kMySqlOptions},
        {"Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;DATABASE=d;USER=u;"
         "PASSWORD=;DATABASE=x;USER=y;PASSWORD=z;",
         "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;DATABASE=d;USER=u;"
         "PASSWORD={;DATABASE=x;USER=y;PASSWORD=z};" +
             kMySqlOptions},
        {"Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER= h ;DATABASE=d;USER=u;"
         "PASSWORD=;",
         "DRIVER={MySQL ODBC 5.1 Driver};SERVER={ h };DATABASE=d;USER=u;PASSWORD=;" +
             kMySqlOptions},
        // Another driver under the bridge gets no MySQL options.
        {"Provider=MSDASQL;DRIVER={PostgreSQL};SERVER=h;DATABASE=d;USER=u;PASSWORD=p;",
         "DRIVER={PostgreSQL};SERVER=h;DATABASE=d;USER=u;PASSWORD=p;"},
        // Not the tool's layout: an ODBC string already, passed on.
        {"Provider=MSDASQL;DSN=product;UID=u", "DSN=product;UID=u"},
        {"Provider=MSDASQL;DRIVER={MariaDB};SERVER=h",
         "DRIVER={MariaDB};SERVER=h;" + kMySqlOptions},
        // SQL Server: leading blank, blanks before the semicolons, lower-case password key.
        {" Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = db ;Data "
         "Source=srv ;User ID=sa ;password=pw",
         "DRIVER={SQLOLEDB.1};SERVER=srv;DATABASE=db;UID=sa;PWD=pw;"},
        {" Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = db ;Data "
         "Source=(local) ;User ID=sa",
         "DRIVER={SQLOLEDB.1};SERVER={(local)};DATABASE=db;UID=sa;"},
        {" Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog = db ;Data "
         "Source=srv ;User ID=sa ;password= a ;password=b ",
         "DRIVER={SQLOLEDB.1};SERVER=srv;DATABASE=db;UID=sa;PWD={ a ;password=b };"},
        {" Provider=SQLOLEDB.1;Persist Security Info=False ;Initial Catalog =  ;Data "
         "Source= ;User ID=",
         "DRIVER={SQLOLEDB.1};SERVER=;DATABASE=;UID=;"},
        // Oracle: the password comes first and may hold the later keys.
        {"Provider=MSDAORA.1;Password=tiger;User ID=scott;Data Source=orcl;Persist Security "
         "Info=True",
         "DRIVER={MSDAORA.1};DBQ=orcl;UID=scott;PWD=tiger;"},
        {"Provider=MSDAORA.1;Password=p;User ID=x;Data Source=y;User ID=scott;Data "
         "Source=orcl;Persist Security Info=True",
         "DRIVER={MSDAORA.1};DBQ=orcl;UID=scott;PWD={p;User ID=x;Data Source=y};"},
        {"Provider=MSDAORA.1;Password=;User ID=scott;Data Source=orcl;Persist Security Info=True",
         "DRIVER={MSDAORA.1};DBQ=orcl;UID=scott;PWD=;"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(ToOdbcConnectionString(cases[i].provider), cases[i].odbc) << "case " << i;
    }
}

TEST(OdbcConnectionStringTest, RefusesWhatItCannotTranslate)
{
    const std::vector<std::string> cases = {
        "",
        "   ",
        "Provider=SQLNCLI11;Server=x",
        "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h",
        "Provider=SQLOLEDB.1;Data Source=srv",
        "Provider=MSDAORA.1;User ID=scott;Data Source=orcl",
        "Provider=MSDAORA.1;Password=x;Data Source=orcl;Persist Security Info=True",
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_THROW(ToOdbcConnectionString(cases[i]), KxError) << "case " << i;
    }
}

TEST(OdbcConnectionStringTest, QuotesOnlyValuesThatNeedIt)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"plain-name_1.2", "plain-name_1.2"},
        {"中文", "中文"},
        {"a;b", "{a;b}"},
        {"a}b}", "{a}}b}}}"},
        {"{a", "{{a}"},
        {"a=b", "{a=b}"},
        {" a", "{ a}"},
        {"a\t", "{a\t}"},
        {"(local)", "{(local)}"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(QuoteOdbcValue(cases[i].first), cases[i].second) << "case " << i;
    }
}

TEST(OdbcDataAccessTest, OpenFailsWithoutAUsableStringAndStaysClosed)
{
    for (const std::string text : {"", "Provider=Unknown;x=y"}) {
        OdbcConnection connection;
        connection.SetConnectionString(text);
        EXPECT_THROW(connection.Open(), KxError) << text;
        EXPECT_FALSE(connection.Connected()) << text;
    }
}

TEST(OdbcDataAccessTest, QueryAndCommandRefuseAClosedConnection)
{
    OdbcConnection connection;
    OdbcQuery query(connection);
    OdbcCommand command(connection);
    query.SetSQL("select 1");
    command.SetCommandText("select 1");
    EXPECT_THROW(query.Open(), KxError);
    EXPECT_THROW(query.FirstFieldText(), KxError);
    EXPECT_THROW(command.Execute(), KxError);
}

} // namespace

} // namespace offline_upgrade
