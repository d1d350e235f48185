#include "platform/odbc/odbc_connection_string.h"

#include "platform/error.h"
#include "platform/text.h"

#include <optional>
#include <string_view>

namespace offline_upgrade {

namespace {

// What every MySQL or MariaDB driver gets besides the fields.
std::string_view MySqlOptions()
{
    return OdbcKeysOfDriver(DatabaseKind::MySql, "").Extra;
}

size_t FindNoCase(std::string_view text, std::string_view key, size_t from)
{
    for (size_t i = from; i + key.size() <= text.size(); ++i) {
        if (EqualsIgnoreAsciiCase(text.substr(i, key.size()), key))
            return i;
    }
    return std::string_view::npos;
}

// The last occurrence of key that ends at or before end.
size_t FindLastNoCase(std::string_view text, std::string_view key, size_t end)
{
    if (end > text.size() || key.size() > end)
        return std::string_view::npos;
    for (size_t i = end - key.size() + 1; i-- > 0;) {
        if (EqualsIgnoreAsciiCase(text.substr(i, key.size()), key))
            return i;
    }
    return std::string_view::npos;
}

// Reads one value of a fixed layout: from `from` up to the first occurrence of key. Moves
// `from` past the key. False when the key does not follow.
bool TakeUntil(std::string_view text, std::string_view key, size_t &from, std::string &value)
{
    const size_t at = FindNoCase(text, key, from);
    if (at == std::string_view::npos)
        return false;
    value = std::string(text.substr(from, at - from));
    from = at + key.size();
    return true;
}

bool IsMySqlDriver(std::string_view driver)
{
    return FindNoCase(driver, "mysql", 0) != std::string_view::npos ||
           FindNoCase(driver, "mariadb", 0) != std::string_view::npos;
}

std::string BraceDriver(std::string_view driver)
{
    std::string out = "DRIVER={";
    for (char c : driver) {
        out += c;
        if (c == '}')
            out += '}';
    }
    out += "};";
    return out;
}

std::string Attribute(std::string_view key, const std::string &value)
{
    std::string out(key);
    out += '=';
    out += QuoteOdbcValue(value);
    out += ';';
    return out;
}

// The fields of one of the tool's provider strings.
struct ProviderFields {
    // Set when the string is not in the tool's layout and goes on as it is.
    std::optional<std::string> AsItIs;
    std::string Driver; // the driver the string names
    std::optional<DatabaseKind> Kind;
    std::string Server, Database, User;
    std::optional<std::string> Password; // none: the string has no password part
};

ProviderFields FromMsdasql(std::string_view rest)
{
    constexpr std::string_view driverKey = "DRIVER={";
    ProviderFields fields;
    size_t pos = driverKey.size();
    if (StartsWithIgnoreAsciiCase(rest, driverKey) &&
        TakeUntil(rest, "};SERVER=", pos, fields.Driver) &&
        TakeUntil(rest, ";DATABASE=", pos, fields.Server) &&
        TakeUntil(rest, ";USER=", pos, fields.Database) &&
        TakeUntil(rest, ";PASSWORD=", pos, fields.User) && rest.size() > pos &&
        rest.back() == ';') {
        // The password runs to the closing semicolon: it may hold anything, ";" included.
        fields.Password = std::string(rest.substr(pos, rest.size() - 1 - pos));
        // Only the tool's own MySQL driver name stands for the kind; another name is meant.
        if (KindOfToolDriverName(fields.Driver) == DatabaseKind::MySql)
            fields.Kind = DatabaseKind::MySql;
        return fields;
    }

    // Not the tool's layout: already an ODBC connection string.
    std::string odbc(rest);
    if (StartsWithIgnoreAsciiCase(rest, driverKey)) {
        const size_t end = rest.find('}', driverKey.size());
        if (end != std::string_view::npos &&
            IsMySqlDriver(rest.substr(driverKey.size(), end - driverKey.size()))) {
            if (!odbc.empty() && odbc.back() != ';')
                odbc += ';';
            odbc += MySqlOptions();
        }
    }
    fields.AsItIs = std::move(odbc);
    return fields;
}

ProviderFields FromSqlOledb(std::string_view rest)
{
    constexpr std::string_view head = "Persist Security Info=False ;Initial Catalog = ";
    constexpr std::string_view passwordKey = " ;password=";
    ProviderFields fields;
    fields.Driver = "SQLOLEDB.1";
    fields.Kind = DatabaseKind::SqlServer;
    size_t pos = head.size();
    if (!StartsWithIgnoreAsciiCase(rest, head) ||
        !TakeUntil(rest, " ;Data Source=", pos, fields.Database) ||
        !TakeUntil(rest, " ;User ID=", pos, fields.Server))
        throw KxError("the SQL Server connection string is not in its expected layout");

    const size_t at = FindNoCase(rest, passwordKey, pos);
    if (at == std::string_view::npos) {
        fields.User = std::string(rest.substr(pos));
    } else {
        fields.User = std::string(rest.substr(pos, at - pos));
        fields.Password = std::string(rest.substr(at + passwordKey.size()));
    }
    return fields;
}

ProviderFields FromMsdaora(std::string_view rest)
{
    constexpr std::string_view head = "Password=";
    constexpr std::string_view tail = ";Persist Security Info=True";
    constexpr std::string_view sourceKey = ";Data Source=";
    constexpr std::string_view userKey = ";User ID=";
    if (!StartsWithIgnoreAsciiCase(rest, head) || !EndsWithIgnoreAsciiCase(rest, tail) ||
        rest.size() < head.size() + tail.size())
        throw KxError("the Oracle connection string is not in its expected layout");

    // The password comes first and may hold anything, so the later fields are found from the
    // end.
    const std::string_view body = rest.substr(head.size(), rest.size() - head.size() - tail.size());
    const size_t source = FindLastNoCase(body, sourceKey, body.size());
    const size_t user =
        source == std::string_view::npos ? source : FindLastNoCase(body, userKey, source);
    if (user == std::string_view::npos)
        throw KxError("the Oracle connection string is not in its expected layout");

    ProviderFields fields;
    fields.Driver = "MSDAORA.1";
    fields.Kind = DatabaseKind::Oracle;
    fields.Password = std::string(body.substr(0, user));
    fields.User = std::string(body.substr(user + userKey.size(), source - user - userKey.size()));
    fields.Server = std::string(body.substr(source + sourceKey.size()));
    return fields;
}

ProviderFields ReadProviderString(const std::string &providerString)
{
    std::string_view text = providerString;
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    if (text.empty())
        throw KxError("the connection string is empty");

    struct Provider {
        std::string_view Prefix;
        ProviderFields (*Read)(std::string_view);
    };
    static constexpr Provider providers[] = {
        {"Provider=MSDASQL;", FromMsdasql},
        {"Provider=SQLOLEDB.1;", FromSqlOledb},
        {"Provider=MSDAORA.1;", FromMsdaora},
    };
    for (const Provider &p : providers) {
        if (StartsWithIgnoreAsciiCase(text, p.Prefix))
            return p.Read(text.substr(p.Prefix.size()));
    }
    throw KxError("the connection string names no known provider");
}

} // namespace

std::string QuoteOdbcValue(const std::string &value)
{
    constexpr std::string_view special = "[]{}(),;?*=!@";
    bool quote = !value.empty() && (static_cast<unsigned char>(value.front()) <= 32 ||
                                    static_cast<unsigned char>(value.back()) <= 32);
    for (size_t i = 0; !quote && i < value.size(); ++i)
        quote = special.find(value[i]) != std::string_view::npos;
    if (!quote)
        return value;

    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}')
            out += '}';
    }
    out += '}';
    return out;
}

std::optional<DatabaseKind> ProviderDatabaseKind(const std::string &providerString)
{
    return ReadProviderString(providerString).Kind;
}

std::string ToOdbcConnectionString(const std::string &providerString, const std::string &driver)
{
    const ProviderFields fields = ReadProviderString(providerString);
    if (fields.AsItIs)
        return *fields.AsItIs;

    const std::string &name = driver.empty() || !fields.Kind ? fields.Driver : driver;
    // Another driver the string names under the bridge takes the bridge's keys; a MySQL or
    // MariaDB one the MySQL options too.
    const OdbcDriverKeys other{"SERVER", "DATABASE", "USER", "PASSWORD",
                               IsMySqlDriver(name) ? MySqlOptions() : ""};
    const OdbcDriverKeys &keys = fields.Kind ? OdbcKeysOfDriver(*fields.Kind, name) : other;
    std::string odbc = BraceDriver(name);
    if (!keys.Server.empty())
        odbc += Attribute(keys.Server, fields.Server);
    if (!keys.Database.empty())
        odbc += Attribute(keys.Database, fields.Database);
    odbc += Attribute(keys.User, fields.User);
    if (fields.Password)
        odbc += Attribute(keys.Password, *fields.Password);
    odbc += keys.Extra;
    return odbc;
}

} // namespace offline_upgrade
