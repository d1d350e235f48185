#pragma once
// The registry editor's export format, read: the store file of the POSIX registry, and on any
// system a store that a tool reads to judge a package against another machine's registration.
//
//   - "Windows Registry Editor Version 5.00": UTF-16LE with a byte-order mark; hex(1), hex(2)
//     and hex(7) data is UTF-16LE and is read as UTF-8.
//   - "REGEDIT4" (or no header line at all): 8-bit text, UTF-8 (a UTF-8 byte-order mark is
//     skipped) or GB18030 when the file is not valid UTF-8; hex(1), hex(2) and hex(7) data is
//     8-bit text and converted the same way.
//   - [HKEY_LOCAL_MACHINE\Key\Path] starts a key; the path ends at the last "]" of the line
//     (a comment may follow it) and empty names between backslashes are dropped, so
//     "[...\\Key\]" is "...\Key". "Name"="text" (escapes \\ and \"; any other backslash is
//     kept as it is), @= for the default value, dword:, hex:, hex(N):; a ";" after the data
//     starts a comment; ";" also starts a comment line. Line ends CR LF, LF or CR.
//   - Hex data goes on over the lines after one that ends in ",\" (or "hex:\"): comment and
//     blank lines in between are skipped, the next other line is data whatever it holds. A
//     backslash after no comma spoils the value, and the next line is read on its own. In hex
//     data, blanks may follow a comma but not precede one. String data given in hex (hex(1),
//     hex(2), hex(7)) that does not end in a zero gets one.
//   - Key and value names match without regard to ASCII letter case. A key exists when it has
//     a section of its own or any key below it has one (parents are implicit, as an import
//     creates them). A key with several sections has the values of all of them; for a name
//     given twice the later one wins. A line that does not parse is skipped, and so is every
//     value line under a key line that does not parse (a line opening with "[" and no "]", a
//     root other than HKEY_LOCAL_MACHINE); deletion lines ([-Key], "Name"=-) are not applied.
//     Only the local machine root is served; keys of other roots in the file are kept, not read.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace offline_upgrade {

inline constexpr char kRegStoreRoot[] = "HKEY_LOCAL_MACHINE";
inline constexpr char kRegStoreHeaderV5[] = "Windows Registry Editor Version 5.00";
inline constexpr char kRegStoreHeaderV4[] = "REGEDIT4";
inline constexpr char kRegStoreUtf16Bom[] = "\xFF\xFE";
inline constexpr char kRegStoreUtf8Bom[] = "\xEF\xBB\xBF";

struct RegStoreValue {
    std::string Name; // as written in the file
    uint32_t Type;
    std::string Data;
};

enum class RegStoreEncoding { Utf16Le, Utf8, Gb18030 };

// A store file as read.
struct RegStore {
    RegStoreEncoding encoding = RegStoreEncoding::Utf8;
    std::string text;           // the file decoded to UTF-8
    std::string eol;            // the file's first line end; CR LF when it has none
    std::set<std::string> keys; // folded paths, parents included
    std::map<std::string, std::vector<RegStoreValue>> values; // by folded path
};

// Reads the bytes of a store file. Never throws beyond std::bad_alloc.
RegStore ParseRegStore(const std::string &raw);

// The folded path of a key below the root, or nothing when a name is empty or holds a control
// character (those cannot be written back as one line). "" is the root itself.
std::optional<std::string> FoldRegKeyPath(std::string_view subKey);

} // namespace offline_upgrade
