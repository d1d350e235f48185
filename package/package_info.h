#pragma once
// The descriptor of one upgrade package, stored as the archive comment of the package file.

#include <cstdint>
#include <string>
#include <string_view>

namespace offline_upgrade {

// The database kinds a descriptor's DbType names; any other number names none. Their order is
// that of DatabaseKind (platform/odbc/odbc_drivers.h).
inline constexpr int32_t kDbTypeSqlServer = 0;
inline constexpr int32_t kDbTypeMySql = 1;
inline constexpr int32_t kDbTypeOracle = 2;

struct T_PackageInfo {
    std::string corp;                  // maker; a package is valid only from "glenmarsh"
    std::string Soft;                  // product display name
    std::string Version;               // major version the package applies to
    std::string Build;                 // build the package brings
    std::string EndDate;               // kept, not used
    int32_t SQLCount = 0;              // number of SQL blocks in the upgrade script
    std::string PackagePath;           // folder of the package file, with a trailing separator
    std::string PackageName;           // file name of the package file
    int32_t DbType = kDbTypeSqlServer; // kDbType*
    std::string ExeName;               // kept, not used
    std::string RegValue;              // product code of the installed product
    // Not from the descriptor: the BLAKE2b-512 of the bytes whose signature the scan verified
    // (empty when the product verifies no package); the run unpacks only those bytes.
    std::string SignedDigest;

    bool operator==(const T_PackageInfo &) const = default;
};

// Reads the section "CONFIG" of the descriptor file at path. Never fails: a missing file,
// section or key gives the defaults (empty text, 0). PackagePath is left empty.
// Each value is cut to at most 2047 bytes, moved back to a UTF-8 character boundary. SQLCount
// and DbType: a value longer than two characters that opens with "0x" or "0X" is hexadecimal;
// otherwise blanks, a sign and a "$" (hexadecimal) may lead a decimal number. A value that is
// not wholly such a number ("12abc", "0x", "$"), or that does not fit in 32 bits, reads as 0.
T_PackageInfo ReadPackageDescriptor(const std::string &path);

// The descriptor's keys in the order they are read, and how each is read.
enum class DescriptorKeyKind { Text, Integer };
struct DescriptorKey {
    const char *Name;
    DescriptorKeyKind Kind;
};
inline constexpr DescriptorKey kDescriptorKeys[] = {
    {"corp", DescriptorKeyKind::Text},        {"Soft", DescriptorKeyKind::Text},
    {"Version", DescriptorKeyKind::Text},     {"Build", DescriptorKeyKind::Text},
    {"EndDate", DescriptorKeyKind::Text},     {"SQLCount", DescriptorKeyKind::Integer},
    {"PackageName", DescriptorKeyKind::Text}, {"DbType", DescriptorKeyKind::Integer},
    {"ExeName", DescriptorKeyKind::Text},     {"RegValue", DescriptorKeyKind::Text},
};
// The section the keys are read from.
inline constexpr char kDescriptorSection[] = "CONFIG";

// One value of the descriptor file as ReadPackageDescriptor takes it, before an integer key is
// converted: the text of the key in the section "CONFIG", cut as described above; empty when
// the key is missing.
std::string ReadDescriptorValue(const std::string &path, const char *key);

// Converts the text of an integer key as ReadPackageDescriptor does. True when the text is
// wholly such a number; false, with value 0, when it is empty, not wholly a number or does not
// fit in 32 bits.
bool ParseDescriptorInteger(std::string_view text, int32_t &value);

} // namespace offline_upgrade
