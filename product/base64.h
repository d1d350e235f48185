#pragma once
// Base64 decoding of a stored database password (MySQL products), standard alphabet with "="
// as the pad. Byte strings of any content; nothing is kept between calls.
//
// The input is decoded in groups of four characters, none skipped: blanks, line breaks and any
// other byte take a place in a group. Characters outside the alphabet count as the value 0 (as
// "A" does). "=" counts as 255 and shortens its group: "=" in the third place gives one byte, in
// the fourth place two bytes; the next group is still decoded and its bytes follow directly.
// Characters after the last whole group are ignored. Nothing outside the input is read.

#include <string>

namespace offline_upgrade {

// Decodes the first (Size div 4) groups of Input into Output, which must have room for
// (Size div 4) * 3 bytes, and returns the number of bytes written. A Size below 4, or a null
// buffer, writes nothing and returns 0.
int DecodeBase64Buffer(const char *Input, unsigned char *Output, int Size);

// Decodes a whole text; the result may hold zero bytes.
std::string DecodeBase64Text(const std::string &Input);

} // namespace offline_upgrade
