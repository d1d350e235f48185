// A POSIX driver manager has one driver list for every program: nothing is registered for
// 32-bit programs apart.

#include "platform/odbc/odbc_data_access.h"

namespace offline_upgrade {

std::vector<std::string> ListOdbcDrivers32()
{
    return {};
}

} // namespace offline_upgrade
