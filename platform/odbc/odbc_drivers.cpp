#include "platform/odbc/odbc_drivers.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace offline_upgrade {

namespace {

enum class NameMatch {
    Exact,  // the name itself
    Prefix, // any name that begins with Text: "Oracle in <home>"
    Family, // Text, a version of digits and dots, Suffix: the newest version first
};

struct DriverName {
    NameMatch Match;
    std::string_view Text;
    std::string_view Suffix;
    OdbcDriverKeys Keys;
};

// Connector/ODBC's flag for several statements in one call (a block of two statements is
// refused as a syntax error without it), and the character set that carries any UTF-8 text.
constexpr OdbcDriverKeys kMySqlKeys{"SERVER", "DATABASE", "USER", "PASSWORD",
                                    "OPTION=67108864;CHARSET=utf8mb4;"};
constexpr OdbcDriverKeys kSqlServerKeys{"SERVER", "DATABASE", "UID", "PWD", ""};
// Driver 18 encrypts by default and then refuses a server whose certificate this machine does
// not trust, which is how most product servers run; the older drivers, and the tool's own
// provider, do not ask for encryption.
constexpr OdbcDriverKeys kSqlServer18Keys{"SERVER", "DATABASE", "UID", "PWD", "Encrypt=no;"};
// Oracle's drivers take the data source (a service name or TNS alias) as DBQ; Microsoft's
// driver for Oracle as SERVER. Neither takes a database name.
constexpr OdbcDriverKeys kOracleKeys{"DBQ", "", "UID", "PWD", ""};
constexpr OdbcDriverKeys kMicrosoftOracleKeys{"SERVER", "", "UID", "PWD", ""};

constexpr DriverName kSqlServerDrivers[] = {
    {NameMatch::Exact, "SQLOLEDB.1", "", kSqlServerKeys},
    {NameMatch::Exact, "ODBC Driver 18 for SQL Server", "", kSqlServer18Keys},
    {NameMatch::Exact, "ODBC Driver 17 for SQL Server", "", kSqlServerKeys},
    {NameMatch::Exact, "ODBC Driver 13.1 for SQL Server", "", kSqlServerKeys},
    {NameMatch::Exact, "ODBC Driver 13 for SQL Server", "", kSqlServerKeys},
    {NameMatch::Exact, "ODBC Driver 11 for SQL Server", "", kSqlServerKeys},
    {NameMatch::Exact, "SQL Server Native Client 11.0", "", kSqlServerKeys},
    // Windows' own driver, present on every Windows.
    {NameMatch::Exact, "SQL Server", "", kSqlServerKeys},
    {NameMatch::Exact, "FreeTDS", "", kSqlServerKeys},
};

constexpr DriverName kMySqlDrivers[] = {
    {NameMatch::Exact, "MySQL ODBC 5.1 Driver", "", kMySqlKeys},
    // The tool talks to drivers through the wide calls on Windows: Unicode before ANSI.
    {NameMatch::Family, "MySQL ODBC ", " Unicode Driver", kMySqlKeys},
    {NameMatch::Family, "MySQL ODBC ", " ANSI Driver", kMySqlKeys},
    // MariaDB Connector/ODBC: its Windows installer's name, then the names Linux packages give.
    {NameMatch::Family, "MariaDB ODBC ", " Driver", kMySqlKeys},
    {NameMatch::Exact, "MariaDB Unicode", "", kMySqlKeys},
    {NameMatch::Exact, "MariaDB", "", kMySqlKeys},
};

constexpr DriverName kOracleDrivers[] = {
    {NameMatch::Exact, "MSDAORA.1", "", kOracleKeys},
    // Oracle's installers on Windows: one driver per Oracle home.
    {NameMatch::Prefix, "Oracle in ", "", kOracleKeys},
    // The Instant Client's ODBC package on Linux (odbc_update_ini.sh).
    {NameMatch::Family, "Oracle ", " ODBC driver", kOracleKeys},
    {NameMatch::Exact, "Microsoft ODBC for Oracle", "", kMicrosoftOracleKeys},
};

std::span<const DriverName> TableOf(DatabaseKind kind)
{
    switch (kind) {
    case DatabaseKind::SqlServer:
        return kSqlServerDrivers;
    case DatabaseKind::MySql:
        return kMySqlDrivers;
    case DatabaseKind::Oracle:
        return kOracleDrivers;
    }
    return {};
}

const char *WhatToInstall(DatabaseKind kind)
{
    switch (kind) {
    case DatabaseKind::SqlServer:
        return "the 64-bit ODBC driver for SQL Server (Microsoft \"ODBC Driver 18 for SQL "
               "Server\", x64)";
    case DatabaseKind::MySql:
        return "the 64-bit MySQL Connector/ODBC (or the 64-bit MariaDB Connector/ODBC)";
    case DatabaseKind::Oracle:
        return "the 64-bit Oracle Instant Client with its ODBC package";
    }
    return "";
}

// The version of a family's name ("8.0" of "MySQL ODBC 8.0 Unicode Driver"), as numbers; none
// when the name is not of the family.
std::optional<std::vector<uint32_t>> FamilyVersion(const DriverName &entry, std::string_view name)
{
    if (name.size() <= entry.Text.size() + entry.Suffix.size() ||
        !StartsWithIgnoreAsciiCase(name, entry.Text) ||
        !EndsWithIgnoreAsciiCase(name, entry.Suffix))
        return std::nullopt;
    const std::string_view version =
        name.substr(entry.Text.size(), name.size() - entry.Text.size() - entry.Suffix.size());
    std::vector<uint32_t> numbers;
    bool inNumber = false;
    for (char c : version) {
        if (c >= '0' && c <= '9') {
            if (!inNumber)
                numbers.push_back(0);
            inNumber = true;
            if (numbers.back() < 100000)
                numbers.back() = numbers.back() * 10 + static_cast<uint32_t>(c - '0');
        } else if (c == '.' && inNumber) {
            inNumber = false;
        } else {
            return std::nullopt;
        }
    }
    if (!inNumber)
        return std::nullopt;
    return numbers;
}

bool Matches(const DriverName &entry, std::string_view name)
{
    switch (entry.Match) {
    case NameMatch::Exact:
        return EqualsIgnoreAsciiCase(name, entry.Text);
    case NameMatch::Prefix:
        return name.size() > entry.Text.size() && StartsWithIgnoreAsciiCase(name, entry.Text);
    case NameMatch::Family:
        return FamilyVersion(entry, name).has_value();
    }
    return false;
}

// The listed name an entry takes: the first listed; for a family the newest version, the
// first listed among equals. Empty when none matches.
std::string Take(const DriverName &entry, const std::vector<std::string> &listed)
{
    std::string taken;
    std::vector<uint32_t> newest;
    for (const std::string &name : listed) {
        if (!Matches(entry, name))
            continue;
        if (entry.Match != NameMatch::Family)
            return name;
        std::vector<uint32_t> version = *FamilyVersion(entry, name);
        // Missing parts count as 0: "13.1" is newer than "13".
        const size_t parts = std::max(version.size(), newest.size());
        version.resize(parts, 0);
        newest.resize(parts, 0);
        if (taken.empty() || version > newest) {
            taken = name;
            newest = version;
        }
    }
    return taken;
}

std::string Shown(const DriverName &entry)
{
    switch (entry.Match) {
    case NameMatch::Exact:
        return std::string(entry.Text);
    case NameMatch::Prefix:
        return std::string(entry.Text) + "<home>";
    case NameMatch::Family:
        return std::string(entry.Text) + "<version>" + std::string(entry.Suffix);
    }
    return {};
}

std::string QuotedList(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "\"" : ", \"") + name + "\"";
    return text;
}

} // namespace

const char *DatabaseKindName(DatabaseKind kind)
{
    switch (kind) {
    case DatabaseKind::SqlServer:
        return "SQL Server";
    case DatabaseKind::MySql:
        return "MySQL";
    case DatabaseKind::Oracle:
        return "Oracle";
    }
    return "";
}

OdbcDriverChoice ChooseOdbcDriver(DatabaseKind kind, const OdbcDriverLists &registered)
{
    OdbcDriverChoice choice;
    choice.Kind = kind;
    for (const DriverName &entry : TableOf(kind)) {
        choice.Tried.push_back(Shown(entry));
        choice.Driver = Take(entry, registered.Drivers);
        if (!choice.Driver.empty())
            break;
    }
    std::string report = std::string("driver: ") + DatabaseKindName(kind) + ": tried " +
                         QuotedList(choice.Tried) + "; ";
    if (!choice.Driver.empty()) {
        choice.Report = report + "took \"" + choice.Driver + "\"";
        return choice;
    }

    const std::span<const DriverName> table = TableOf(kind);
    for (const std::string &name : registered.Drivers32) {
        const bool ofKind = std::any_of(table.begin(), table.end(),
                                        [&](const DriverName &e) { return Matches(e, name); });
        if (ofKind)
            choice.Only32Bit.push_back(name);
    }
    if (!choice.Only32Bit.empty()) {
        choice.Report = report + "none is registered for 64-bit programs; " +
                        QuotedList(choice.Only32Bit) +
                        (choice.Only32Bit.size() == 1 ? " is" : " are") +
                        " registered for 32-bit programs only, which this 64-bit program cannot "
                        "load: install " +
                        WhatToInstall(kind);
        return choice;
    }
    choice.Report =
        report + "none is registered with the driver manager, which lists " +
        (registered.Drivers.empty() ? std::string("no driver") : QuotedList(registered.Drivers)) +
        ": install an ODBC driver for " + DatabaseKindName(kind) + ", or register one under \"" +
        std::string(table.front().Text) + "\"";
    return choice;
}

const OdbcDriverKeys &OdbcKeysOfDriver(DatabaseKind kind, std::string_view driver)
{
    const std::span<const DriverName> table = TableOf(kind);
    for (const DriverName &entry : table) {
        if (Matches(entry, driver))
            return entry.Keys;
    }
    return table.front().Keys;
}

std::vector<std::string> OdbcDriverNames(DatabaseKind kind)
{
    std::vector<std::string> names;
    for (const DriverName &entry : TableOf(kind))
        names.push_back(Shown(entry));
    return names;
}

std::optional<DatabaseKind> KindOfToolDriverName(std::string_view driver)
{
    for (DatabaseKind kind : {DatabaseKind::SqlServer, DatabaseKind::MySql, DatabaseKind::Oracle}) {
        if (EqualsIgnoreAsciiCase(driver, TableOf(kind).front().Text))
            return kind;
    }
    return std::nullopt;
}

} // namespace offline_upgrade
