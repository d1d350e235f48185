#pragma once
// Unscrambling of a stored database password (products that do not use MySQL). Byte strings of
// any content, zero bytes included; nothing is kept between calls.

#include <string>

namespace offline_upgrade {

// Two ASCII digits put in front of the caller's key for the first pass of UnscramblePassword.
// Passwords stored by the products' own tools decode only with the prefix they were stored with.
inline constexpr char kSecretKeyPrefix[] = "37";

// One keyed XOR pass; the result has the length of Data. Positions are counted from 1 and L is
// the key's length. Every (L+1)-th position takes the next fallback byte (30, 28, ..., 2, then
// 30 again); the key is laid over the positions between them in blocks of L bytes, the first
// forward, the next backward, and so on. The byte used depends only on the position and the key,
// so applying the pass twice with the same key gives Data back. An empty key uses only fallback
// bytes.
std::string XorWithKey(const std::string &Data, const std::string &Key);

// The clear text of a stored password: a pass with kSecretKeyPrefix followed by Key, then a pass
// with Key alone.
std::string UnscramblePassword(const std::string &Stored, const std::string &Key);

} // namespace offline_upgrade
