#pragma once
// The registry on POSIX: the local machine root kept in one store file, in the text format the
// Windows registry editor exports, so that a product's keys move between machines as they are.
// Only the local machine root is served; keys of other roots in the file are kept, not read.
//
// Store format:
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
//
// Every OpenKey and CreateKey reads the file again; a handle keeps the values its key had when
// it was opened. Full access means this process may open the store file for reading and
// writing. Creating a missing key takes an exclusive lock on "<store>.lock" beside the store,
// reads the file again, appends the key in the file's own encoding and line-end style, and
// replaces the file through a temporary file in the same folder (flushed to disk, then renamed
// over it), so concurrent writers lose nothing and a crash never leaves a half-written store.
// All other bytes of the file are kept as they are. A missing store (and its folder) is
// created in the exported format: UTF-16LE with a byte-order mark, CR LF line ends, mode 0600.

#include "platform/registry.h"

#include <map>
#include <string>
#include <vector>

class RegFileRegistry : public IRegistry {
  public:
    explicit RegFileRegistry(std::string storePath);

    bool OpenKey(const std::string &subKey, RegKey &key) override;
    bool CreateKey(const std::string &subKey, RegKey &key) override;
    bool QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                        uint32_t &size) override;
    bool QueryValueData(RegKey key, const std::string &name, uint32_t capacity, uint32_t &type,
                        std::string &data) override;
    void CloseKey(RegKey key) override;

    const std::string &StorePath() const { return storePath_; }

    struct Value {
        std::string Name; // as written in the file
        uint32_t Type;
        std::string Data;
    };

  private:
    RegKey Remember(std::vector<Value> values);
    const Value *Find(RegKey key, const std::string &name) const;

    std::string storePath_;
    std::map<RegKey, std::vector<Value>> open_;
    RegKey next_ = 1;
};

// The store file: the path in the environment variable KX_REGISTRY when it is set and not
// empty, else "/etc/kx/registry.reg".
std::string DefaultRegistryStorePath();
