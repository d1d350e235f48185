#pragma once
// Turns the tool's provider connection strings into ODBC connection strings.
//
// The tool builds its strings by plain concatenation, field values unquoted, so a value may
// hold ";" or "=" and cannot be found by splitting at ";". Each provider's string has a fixed
// layout, though, and its last field (where the password usually stands) can be cut off by
// what follows it. So the fields are read by that layout: each value runs up to the first
// occurrence of the next fixed key text after it, and the Oracle string, whose password comes
// first, is read from its end. A password can therefore hold anything; the other fields must
// not hold the key text that follows them (for example a server name holding ";DATABASE=").
// Every value is then written in ODBC quoting, so it reaches the driver as one value.

#include "platform/odbc/odbc_drivers.h"

#include <optional>
#include <string>

namespace offline_upgrade {

// Provider "MSDASQL": the tool's layout
//   DRIVER={d};SERVER=s;DATABASE=b;USER=u;PASSWORD=p;
// with the same fields as ODBC attributes; any other rest is passed on as it is. For a MySQL or
// MariaDB driver the multi-statement option and the utf8mb4 character set are added.
// Provider "SQLOLEDB.1": SERVER, DATABASE, UID and, when the string has a password part, PWD.
// Provider "MSDAORA.1": DBQ (the data source), UID and PWD.
// Those are the keys of the tool's own driver names; driver, when not empty, is named in place
// of the tool's own name of the kind, with its own keys (odbc_drivers.h). An MSDASQL string
// that names another driver than the tool's MySQL one keeps it.
// Leading blanks before "Provider" are skipped; keys are matched without regard to ASCII case.
// Throws KxError for an empty string, an unknown provider or a string not in its provider's
// layout.
std::string ToOdbcConnectionString(const std::string &providerString,
                                   const std::string &driver = {});

// The database kind whose driver the string asks for by the tool's own name: SQLOLEDB.1, MSDAORA.1,
// or MSDASQL in the tool's layout with the driver "MySQL ODBC 5.1 Driver". None for an MSDASQL
// string naming another driver or not in the tool's layout. Throws as ToOdbcConnectionString.
std::optional<DatabaseKind> ProviderDatabaseKind(const std::string &providerString);

// One attribute value in ODBC quoting: as it is when it holds no character that ODBC gives a
// meaning and no blank at either end; otherwise in braces with every "}" doubled.
std::string QuoteOdbcValue(const std::string &value);

} // namespace offline_upgrade
