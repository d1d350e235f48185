#pragma once
// The system's ODBC headers on Windows, which take the window types from windows.h.

#include <windows.h>

#include <sql.h>
#include <sqlext.h>
