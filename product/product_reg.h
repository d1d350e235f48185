#pragma once
// The registration of one installed product, as kept in the machine-wide registry.

#include <string>

struct T_ProductReg {
    std::string ProductCode; // empty: the product is not installed
    std::string Path;        // installation folder
    std::string Version;
    std::string Build;
    std::string ServerName;
    std::string DBaseName;
    std::string UserName;
    std::string PassWord; // stored form after the read; clear text after the scan decodes it

    bool operator==(const T_ProductReg &) const = default;
};
