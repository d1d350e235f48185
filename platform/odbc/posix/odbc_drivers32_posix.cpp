// A POSIX driver manager has one driver list for every program: nothing is registered for
// 32-bit programs apart.

#include "platform/odbc/odbc_data_access.h"

std::vector<std::string> ListOdbcDrivers32()
{
    return {};
}
