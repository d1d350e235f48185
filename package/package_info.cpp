#include "package/package_info.h"

#include "platform/ini_file.h"

#include <cstdint>
#include <string_view>

namespace {

const char kSection[] = "CONFIG";

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

std::string ReadText(const std::string &path, const char *key)
{
    return CutToBuffer(ReadIniString(kSection, key, "", path));
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
// bits; anything else (no digits, trailing text such as "12abc", overflow) gives 0.
int32_t ParseDigits(std::string_view digits, int base, bool negative)
{
    if (digits.empty())
        return 0;
    const int64_t limit = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
    int64_t value = 0;
    for (char c : digits) {
        const int d = DigitValue(c, base);
        if (d < 0)
            return 0;
        value = value * base + d;
        if (value > limit)
            return 0;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

int32_t ParseInteger(std::string_view text)
{
    if (text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X")))
        return ParseDigits(text.substr(2), 16, false);
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
    return ParseDigits(text.substr(i), base, negative);
}

int32_t ReadInteger(const std::string &path, const char *key)
{
    return ParseInteger(ReadText(path, key));
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
