#pragma once
// The private database server of the integration tests, started by scripts/db-server: where
// it listens, the login the tests use, and a direct connection for setting up and checking.
// The driver is found through the private driver list that ctest names in ODBCSYSINI.

#include "platform/odbc/odbc_data_access.h"
#include "product/product_reg.h"

#include <gtest/gtest.h>

#include <string>

namespace offline_upgrade {

// Kept equal to the logins scripts/db-server creates. The password holds ";", braces and "=".
inline const std::string kTestDbServer = "127.0.0.1";
inline const std::string kTestDbName = "kx_test";
inline const std::string kTestDbUser = "kxtest";
inline const std::string kTestDbPassword = "kx;pw}{=1";

// Product settings that reach the test database through the tool's MySQL connection string
// (DbType 1).
T_ProductReg TestDatabaseProduct();

// Success when the private server answers to the test login; otherwise a failure that says
// what is missing and how to start the server. Use: ASSERT_TRUE(TestDatabaseReady());
::testing::AssertionResult TestDatabaseReady();

// An open connection to the test database. Throws KxError when it cannot be opened.
class TestDatabase {
public:
    TestDatabase();

    // Runs statements (several may be joined by ";"). Throws KxError when one fails.
    void Exec(const std::string &sql);
    // The first field of the first row of a query, as text.
    std::string Text(const std::string &sql);
    // The number in the first field of the first row of a query.
    long long Number(const std::string &sql);

private:
    OdbcConnection connection_;
    OdbcCommand command_{connection_};
    OdbcQuery query_{connection_};
};

} // namespace offline_upgrade
