#pragma once
// The driver manager's headers on POSIX (unixODBC).

#include <sql.h>
#include <sqlext.h>
