#pragma once
// The connection to the product database and the rule that decides whether its server is
// this machine.

#include "product/product_reg.h"
#include "upgrade/upgrade_context.h"

#include <cstdint>
#include <string>

namespace offline_upgrade {

// The provider connection string for a database kind (0 SQL Server, 1 MySQL, 2 Oracle) and
// the product's settings; empty for any other kind. Field values go in unquoted; only the SQL
// Server string trims the server, database and user names (never the password). The data
// access layer reads the fields back by the fixed layout of each string.
std::string BuildConnectionString(int32_t DbType, const T_ProductReg &Product);

// The connection string as the log shows it: the same, with "***" for a password that is not
// empty.
std::string MaskedConnectionString(int32_t DbType, const T_ProductReg &Product);

// Shows the connection step, then opens tempConnection on the product database (closing it
// first when it is open). True when it is open. On any failure shows "连接产品数据库失败！"
// and returns false; never throws.
bool ConnectProductDatabase(UpgradeContext &context);

// True when the database server is this machine: ServerName compared exactly, untrimmed, with
// the local names of the kind and with ComputerName and LocalIP; for Oracle the database's own
// report of its host address compared with LocalIP. Logs the decision with the values it
// compared. Throws KxError when the Oracle query fails; the other kinds never fail.
bool IsDatabaseServerLocal(UpgradeContext &context, int32_t DbType, const std::string &ServerName);

} // namespace offline_upgrade
