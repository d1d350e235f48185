#pragma once
// Which ODBC driver serves each database kind, and the keywords each driver takes.
//
// The tool's connection strings name one driver per kind ("SQLOLEDB.1", "MySQL ODBC 5.1 Driver",
// "MSDAORA.1"), names no stock machine has. So each kind has a table of driver names to try in
// order: the tool's own name first (an administrator's entry under that name always wins), then
// the names the vendors' installers register. The first name of the table that the driver
// manager lists is used. Names match without regard to ASCII case, as both driver managers
// match them. Nothing here talks to the driver manager: its list comes in as data.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace offline_upgrade {

enum class DatabaseKind { SqlServer, MySql, Oracle };

// "SQL Server", "MySQL", "Oracle": the kind as the log and the reports name it.
const char *DatabaseKindName(DatabaseKind kind);

// The keys a driver takes for the fields of the tool's connection strings. An empty key leaves
// the field out; Extra is appended as it is.
struct OdbcDriverKeys {
    std::string_view Server;
    std::string_view Database;
    std::string_view User;
    std::string_view Password;
    std::string_view Extra;
};

// The drivers registered on this machine.
struct OdbcDriverLists {
    // What the driver manager lists for this program (SQLDrivers), in its order.
    std::vector<std::string> Drivers;
    // Windows: the drivers registered for 32-bit programs (the registry's 32-bit view of the
    // driver list), which a 64-bit program cannot load. Always empty on POSIX.
    std::vector<std::string> Drivers32;
};

struct OdbcDriverChoice {
    DatabaseKind Kind = DatabaseKind::SqlServer;
    // The table's names up to the one taken (all of them when none was), as the log shows
    // them: a family of names reads "Oracle in <home>", "MySQL ODBC <version> Unicode Driver".
    std::vector<std::string> Tried;
    // The driver manager's name of the driver taken; empty when no name of the table is listed.
    std::string Driver;
    // When Driver is empty: the kind's drivers registered for 32-bit programs only.
    std::vector<std::string> Only32Bit;
    // One line for the log: the kind, the names tried and the one taken, or why none was and
    // what to install.
    std::string Report;
};

// Goes through the kind's table in order; within a family of names the newest version comes
// first, names found by a prefix come in the driver manager's order.
OdbcDriverChoice ChooseOdbcDriver(DatabaseKind kind, const OdbcDriverLists &registered);

// The keys of a driver of the kind, by its name (as chosen above). A name that is not in the
// kind's table gets the keys of the kind's first name.
const OdbcDriverKeys &OdbcKeysOfDriver(DatabaseKind kind, std::string_view driver);

// The names the table holds for a kind, as the log shows them, in order.
std::vector<std::string> OdbcDriverNames(DatabaseKind kind);

// The kind whose tool's own driver name this is ("SQLOLEDB.1", "MySQL ODBC 5.1 Driver",
// "MSDAORA.1", any letter case); none for any other name.
std::optional<DatabaseKind> KindOfToolDriverName(std::string_view driver);

} // namespace offline_upgrade
