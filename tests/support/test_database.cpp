#include "tests/support/test_database.h"

#include "platform/error.h"

#include <cstdlib>
#include <filesystem>

namespace offline_upgrade {

namespace {

std::string ProductConnectionString()
{
    const T_ProductReg product = TestDatabaseProduct();
    return "Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + product.ServerName +
           ";DATABASE=" + product.DBaseName + ";USER=" + product.UserName +
           ";PASSWORD=" + product.PassWord + ";";
}

} // namespace

T_ProductReg TestDatabaseProduct()
{
    T_ProductReg product;
    product.ServerName = kTestDbServer;
    product.DBaseName = kTestDbName;
    product.UserName = kTestDbUser;
    product.PassWord = kTestDbPassword;
    return product;
}

::testing::AssertionResult TestDatabaseReady()
{
    const char *sysIni = std::getenv("ODBCSYSINI");
    if (!sysIni || !*sysIni)
        return ::testing::AssertionFailure()
               << "ODBCSYSINI is not set, so the test database driver cannot be found: run the "
                  "tests through ctest, or set ODBCSYSINI=BUILD_DIR/odbc";
    if (!std::filesystem::exists(std::filesystem::path(sysIni) / "odbcinst.ini"))
        return ::testing::AssertionFailure()
               << "no private driver list in " << sysIni
               << ": the test database server was never started; run scripts/db-server start "
                  "BUILD_DIR (scripts/test does)";
    try {
        OdbcConnection connection;
        connection.SetConnectionString(ProductConnectionString());
        connection.Open();
    } catch (const KxError &error) {
        return ::testing::AssertionFailure()
               << "the test database server does not answer on " << kTestDbServer
               << ":3306; start it with scripts/db-server start BUILD_DIR (scripts/test does). "
               << error.what();
    }
    return ::testing::AssertionSuccess();
}

TestDatabase::TestDatabase()
{
    connection_.SetConnectionString(ProductConnectionString());
    connection_.Open();
}

void TestDatabase::Exec(const std::string &sql)
{
    command_.SetCommandText(sql);
    command_.Execute();
}

std::string TestDatabase::Text(const std::string &sql)
{
    query_.Close();
    query_.SetSQL(sql);
    query_.Open();
    std::string text = query_.FirstFieldText();
    query_.Close();
    return text;
}

long long TestDatabase::Number(const std::string &sql)
{
    return std::stoll(Text(sql));
}

} // namespace offline_upgrade
