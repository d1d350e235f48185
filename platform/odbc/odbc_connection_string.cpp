#include "platform/odbc/odbc_connection_string.h"

#include "platform/error.h"
#include "platform/text.h"

#include <string_view>

namespace {

// Connector/ODBC's flag for several statements in one call; without it a block of two
// statements is refused as a syntax error.
constexpr std::string_view kMySqlOptions = "OPTION=67108864;CHARSET=utf8mb4;";

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() &&
           EqualsIgnoreAsciiCase(text.substr(text.size() - suffix.size()), suffix);
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

std::string FromMsdasql(std::string_view rest)
{
    constexpr std::string_view driverKey = "DRIVER={";
    std::string driver, server, database, user;
    size_t pos = driverKey.size();
    if (StartsWithNoCase(rest, driverKey) && TakeUntil(rest, "};SERVER=", pos, driver) &&
        TakeUntil(rest, ";DATABASE=", pos, server) && TakeUntil(rest, ";USER=", pos, database) &&
        TakeUntil(rest, ";PASSWORD=", pos, user) && rest.size() > pos && rest.back() == ';') {
        // The password runs to the closing semicolon: it may hold anything, ";" included.
        const std::string password(rest.substr(pos, rest.size() - 1 - pos));
        std::string odbc = BraceDriver(driver) + Attribute("SERVER", server) +
                           Attribute("DATABASE", database) + Attribute("USER", user) +
                           Attribute("PASSWORD", password);
        if (IsMySqlDriver(driver))
            odbc += kMySqlOptions;
        return odbc;
    }

    // Not the tool's layout: already an ODBC connection string.
    std::string odbc(rest);
    if (StartsWithNoCase(rest, driverKey)) {
        const size_t end = rest.find('}', driverKey.size());
        if (end != std::string_view::npos &&
            IsMySqlDriver(rest.substr(driverKey.size(), end - driverKey.size()))) {
            if (!odbc.empty() && odbc.back() != ';')
                odbc += ';';
            odbc += kMySqlOptions;
        }
    }
    return odbc;
}

std::string FromSqlOledb(std::string_view rest)
{
    constexpr std::string_view head = "Persist Security Info=False ;Initial Catalog = ";
    constexpr std::string_view passwordKey = " ;password=";
    std::string database, server, user;
    size_t pos = head.size();
    if (!StartsWithNoCase(rest, head) || !TakeUntil(rest, " ;Data Source=", pos, database) ||
        !TakeUntil(rest, " ;User ID=", pos, server))
        throw KxError("the SQL Server connection string is not in its expected layout");

    std::string odbc =
        "DRIVER={SQLOLEDB.1};" + Attribute("SERVER", server) + Attribute("DATABASE", database);
    const size_t at = FindNoCase(rest, passwordKey, pos);
    if (at == std::string_view::npos) {
        odbc += Attribute("UID", std::string(rest.substr(pos)));
    } else {
        odbc += Attribute("UID", std::string(rest.substr(pos, at - pos)));
        odbc += Attribute("PWD", std::string(rest.substr(at + passwordKey.size())));
    }
    return odbc;
}

std::string FromMsdaora(std::string_view rest)
{
    constexpr std::string_view head = "Password=";
    constexpr std::string_view tail = ";Persist Security Info=True";
    constexpr std::string_view sourceKey = ";Data Source=";
    constexpr std::string_view userKey = ";User ID=";
    if (!StartsWithNoCase(rest, head) || !EndsWithNoCase(rest, tail) ||
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

    const std::string password(body.substr(0, user));
    const std::string userName(body.substr(user + userKey.size(), source - user - userKey.size()));
    const std::string dataSource(body.substr(source + sourceKey.size()));
    return "DRIVER={MSDAORA.1};" + Attribute("DBQ", dataSource) + Attribute("UID", userName) +
           Attribute("PWD", password);
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

std::string ToOdbcConnectionString(const std::string &providerString)
{
    std::string_view text = providerString;
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    if (text.empty())
        throw KxError("the connection string is empty");

    struct Provider {
        std::string_view Prefix;
        std::string (*Translate)(std::string_view);
    };
    static constexpr Provider providers[] = {
        {"Provider=MSDASQL;", FromMsdasql},
        {"Provider=SQLOLEDB.1;", FromSqlOledb},
        {"Provider=MSDAORA.1;", FromMsdaora},
    };
    for (const Provider &p : providers) {
        if (StartsWithNoCase(text, p.Prefix))
            return p.Translate(text.substr(p.Prefix.size()));
    }
    throw KxError("the connection string names no known provider");
}
