#pragma once
// The registration of one installed product, as kept in the machine-wide registry.

#include <string>

namespace offline_upgrade {

struct T_ProductReg {
    std::string ProductCode; // empty: the product is not installed
    std::string Path;        // installation folder
    std::string Version;
    std::string Build;
    std::string ServerName;
    std::string DBaseName;
    std::string UserName;
    std::string PassWord; // stored form after the read; clear text after the scan decodes it
    // The minisign public keys whose signatures this product's packages must carry, as its
    // installer stored them; empty: packages are not verified.
    std::string PackageKey;

    bool operator==(const T_ProductReg &) const = default;
};

class IRegistry;

// The key paths of a product's registration below the local machine root, as templates with
// "kx_product_code" where the product code goes. The leading backslash makes them absolute.
// ReadProductReg substitutes the code in place for the duration of one read; outside a read
// they always hold the templates.
extern std::string ClientConfigureKey; // "\Software\vazerodu\kx_product_code\ClientConfigure"
extern std::string ApplicationPathKey; // "\Software\vazerodu\kx_product_code\ApplicationPath"

// Reads the registration of productCode into result, every field cleared first. ProductCode is
// set only when the configuration key opens with full access; then Version, Build,
// ServerName, DBaseName, UserName, PassWord and PackageKey are read from it, in this order. The
// application-path key is opened with create (a missing one is created empty where the rights
// allow) and its value "Path" read. A missing key or value leaves its fields empty. String and
// expandable-string values are taken as stored (unexpanded), up to their first zero byte.
// Throws KxError "Failed to get data for '<name>'" when a value's data cannot be read and
// "Invalid data type for '<name>'" when it is not a string; fields read before keep their
// values. The key templates are restored and the open key closed on every path.
void ReadProductReg(IRegistry &registry, const std::string &productCode, T_ProductReg &result);

} // namespace offline_upgrade
