#pragma once
// kxpack sign: a package's signature file from a minisign secret key file. The signature is
// libsodium's Ed25519 over the package's BLAKE2b-512 (minisign's prehashed form), so that
// `minisign -Vm` and the tool's scan both verify it.

#include "package/package_signature.h"

#include <functional>
#include <optional>
#include <string>

namespace kxpack {

// A minisign secret key, opened.
struct PackageSecretKey {
    std::string KeyId;     // 8 bytes
    std::string SecretKey; // libsodium's Ed25519 secret key, 64 bytes
    ~PackageSecretKey();   // wipes SecretKey
};

// Opens the text of a minisign secret key file ("untrusted comment: ..." and one Base64
// line): without a password (as `minisign -G -W` writes it) as it stands, otherwise with the
// password that password() gives (nothing: none can be had), by minisign's rule: scrypt
// (libsodium's crypto_pwhash_scryptsalsa208sha256) derives a stream that is XORed over the key,
// and a BLAKE2b checksum tells a wrong password. False, with why, when it cannot be opened.
bool OpenSecretKey(const std::string &text,
                   const std::function<std::optional<std::string>()> &password,
                   PackageSecretKey &key, std::string &why);

// The trusted comment kxpack writes: the time, the package file's name and its descriptor's
// product and build, tab-separated as minisign's own; control bytes in them become "?".
std::string PackageTrustedComment(long long unixTime, const std::string &fileName,
                                  const std::string &product, const std::string &build);

// A prehashed signature of the file whose BLAKE2b-512 is digest, with its trusted comment.
offline_upgrade::MinisignSignature SignDigest(const PackageSecretKey &key,
                                              const std::string &digest,
                                              const std::string &trustedComment);

} // namespace kxpack
