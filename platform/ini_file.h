#pragma once
// Reading one value of an INI file, the way the Windows profile functions read it. Package
// descriptors are written on Windows and read back by that function there; the rules below keep
// the same file giving the same values here.

#include <string>
#include <vector>

namespace offline_upgrade {

// Returns the value of key in section of the INI file at path, or defaultValue (with its trailing
// blanks removed) when the file cannot be read or holds no such section or key. Never throws.
//
// A file that begins with a UTF-16 byte-order mark (little- or big-endian: what Notepad saves as
// "Unicode") is read as UTF-16 and its values come back as UTF-8. Other files are read by
// ToUtf8 (valid UTF-8 as it is, anything else as GB18030); a
// UTF-8 byte-order mark at the start is skipped. Lines end in CR LF, LF or a lone CR. Blanks are
// the space, tab, CR, LF, vertical tab and form feed; leading and trailing blanks of a line are
// ignored; then:
//   - "[name]" opens the section name (blanks inside the brackets ignored, text after the last
//     "]" ignored); a line that opens with "[" but has no "]" is ignored;
//   - a line opening with ";" is a comment;
//   - "key=value" is a key line: key is the text before the first "=", value the text after it,
//     each without surrounding blanks; a ";" inside a value is part of the value;
//   - any other line (no "=") is a key without a value: when it is the first key of the wanted
//     name, the look-up gives the default.
// Section and key names match without regard to ASCII letter case. Only the first section of the
// given name is searched, and the first matching key in it wins. Lines before the first section
// header belong to no section. Each name and value loses its surrounding blanks and then ends at
// its first zero byte, as the C strings of the Windows function do (so "A= \0x" is empty and
// "A=x \0y" is "x "). A value enclosed in one pair of matching quotes ("..." or '...') loses
// that pair and nothing else.
std::string ReadIniString(const std::string &section, const std::string &key,
                          const std::string &defaultValue, const std::string &path);

// The names of the keys of the first section named section, in file order, as ReadIniString
// matches them: key lines, and lines without "=" (keys without a value). A name given twice is
// listed twice; only its first counts.
// Empty when the file cannot be read or has no such section. Never throws.
std::vector<std::string> ReadIniKeys(const std::string &section, const std::string &path);

} // namespace offline_upgrade
