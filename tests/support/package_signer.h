#pragma once
// Minisign key pairs and signature files made at test time with libsodium, written here from
// the format's description, apart from the tool's reader, so that the two check each other
// (and the real minisign checks both in the POSIX tests).

#include <string>

namespace offline_upgrade {

struct TestSigningKey {
    std::string KeyId;     // 8 bytes
    std::string PublicKey; // 32 bytes
    std::string SecretKey; // 64 bytes
    // The Base64 line of the key's ".pub" file ("RW..."), as PackageKey holds it.
    std::string PublicLine() const;
    // The key pair's files as `minisign -G` writes them: the secret key without a password
    // (as with -W), or encrypted with password by scrypt at its interactive limits.
    std::string PublicKeyFile() const;
    std::string SecretKeyFile(const std::string &password = "") const;
};

TestSigningKey MakeTestSigningKey();

// The text of the signature file of a file with these bytes: prehashed ("ED") or legacy
// ("Ed"), with the trusted comment.
std::string SignBytesForTest(const TestSigningKey &key, const std::string &bytes, bool prehashed,
                             const std::string &trustedComment);

} // namespace offline_upgrade
