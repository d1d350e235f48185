#include "package/package_info.h"

#include "platform/ini_file.h"

#include <cstdint>
#include <string_view>

namespace offline_upgrade {

namespace {

// The descriptor's values are fetched into a buffer of this many characters, the last one
// taken by the closing zero: longer values are cut.
constexpr size_t kValueBufferSize = 2048;

// Cuts to at most kValueBufferSize - 1 bytes. The cut moves back to the start of a UTF-8
// sequence, so a long Chinese value never ends in half a character.
std::string CutToBuffer(std::string value)
{
    size_t end = kValueBufferSize - 1;
    if (value.size() <= end)
        return value;
    while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80)
        --end;
    value.resize(end);
    return value;
}

int DigitValue(char c, int base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

// Every remaining character must be a digit of the base and the signed value must fit in 32
// bits; anything else (no digits, trailing text such as "12abc", overflow) fails.
bool ParseDigits(std::string_view digits, int base, bool negative, int32_t &result)
{
    result = 0;
    if (digits.empty())
        return false;
    const int64_t limit = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
    int64_t value = 0;
    for (char c : digits) {
        const int d = DigitValue(c, base);
        if (d < 0)
            return false;
        value = value * base + d;
        if (value > limit)
            return false;
    }
    result = static_cast<int32_t>(negative ? -value : value);
    return true;
}

} // namespace

bool ParseDescriptorInteger(std::string_view text, int32_t &value)
{
    if (text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X")))
        return ParseDigits(text.substr(2), 16, false, value);
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    }
    return ParseDigits(text.substr(i), base, negative, value);
}

std::string ReadDescriptorValue(const std::string &path, const char *key)
{
    return CutToBuffer(ReadIniString(kDescriptorSection, key, "", path));
}

namespace {

std::string ReadText(const std::string &path, const char *key)
{
    return ReadDescriptorValue(path, key);
}

int32_t ReadInteger(const std::string &path, const char *key)
{
    int32_t value = 0;
    (void)ParseDescriptorInteger(ReadText(path, key), value);
    return value;
}

} // namespace

T_PackageInfo ReadPackageDescriptor(const std::string &path)
{
    T_PackageInfo info;
    info.corp = ReadText(path, "corp");
    info.Soft = ReadText(path, "Soft");
    info.Version = ReadText(path, "Version");
    info.Build = ReadText(path, "Build");
    info.EndDate = ReadText(path, "EndDate");
    info.SQLCount = ReadInteger(path, "SQLCount");
    info.PackageName = ReadText(path, "PackageName");
    info.DbType = ReadInteger(path, "DbType");
    info.ExeName = ReadText(path, "ExeName");
    info.RegValue = ReadText(path, "RegValue");
    return info;
}

} // namespace offline_upgrade
