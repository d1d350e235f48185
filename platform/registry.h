#pragma once
// The machine-wide registry as the product registration sees it: keys below the local machine
// root, opened with full access, and their values read as raw bytes with their type. Nothing
// here writes a value; the one change it can make is the creation of an empty key.

#include <cstdint>
#include <string>

namespace offline_upgrade {

// Value types, with the numbers Windows gives them. Named apart from the Windows macros so
// that a Windows implementation can include both.
enum : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegDwordBigEndian = 5,
    kRegLink = 6,
    kRegMultiSz = 7,
    kRegResourceList = 8,
    kRegFullResourceDescriptor = 9,
    kRegResourceRequirementsList = 10,
    kRegQword = 11,
};

// An open key. Handles are given out by OpenKey and CreateKey and stay valid until CloseKey.
using RegKey = uint32_t;
inline constexpr RegKey kNoRegKey = 0;

class IRegistry {
public:
    virtual ~IRegistry() = default;

    // Opens the key at subKey below the local machine root, with full access (reading and
    // writing), without creating it. subKey has "\" between its names and no leading "\";
    // names match without regard to letter case. True and a handle in key when the key
    // exists and this process may read and write it; false otherwise (missing key, missing
    // store, no write rights), with key left as kNoRegKey. Never throws.
    [[nodiscard]] virtual bool OpenKey(const std::string &subKey, RegKey &key) = 0;

    // Like OpenKey, but a missing key is created empty (non-volatile) together with every
    // missing key above it, and then opened. True and a handle when the key exists now and is
    // open with full access; false when it can neither be opened nor created. Never throws.
    [[nodiscard]] virtual bool CreateKey(const std::string &subKey, RegKey &key) = 0;

    // The type (kReg*) and data size in bytes of the value name of an open key ("" is the
    // key's default value); names match without regard to letter case. String data is UTF-8 text
    // (as the logic's texts are) and its size counts the terminating zero when one is stored. False
    // when the value does not exist or key is not an open handle. Never throws.
    [[nodiscard]] virtual bool QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                                              uint32_t &size) = 0;

    // Reads the data of the value name into data (exactly its bytes, zero bytes included)
    // and its type into type, for a caller whose buffer holds capacity bytes. False when the
    // value does not exist, its data no longer fits into capacity bytes, the data cannot be
    // read, or key is not an open handle. Never throws.
    [[nodiscard]] virtual bool QueryValueData(RegKey key, const std::string &name,
                                              uint32_t capacity, uint32_t &type,
                                              std::string &data) = 0;

    // Closes a handle from OpenKey or CreateKey. Closing kNoRegKey or an unknown handle does
    // nothing.
    virtual void CloseKey(RegKey key) = 0;
};

} // namespace offline_upgrade
