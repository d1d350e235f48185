#pragma once
// Package signatures: the minisign signature file beside a package ("<package>.minisig"),
// checked against the public keys a product pins in the value PackageKey of its registration.
// Ed25519 and BLAKE2b are libsodium's; only the file formats are read here.

#include "platform/file_system.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace offline_upgrade {

// What follows a package's file name to name its signature file.
inline const std::string kSignatureSuffix = ".minisig";

// A legacy signature ("Ed") signs the whole file, which must then be held in memory: packages
// above this size must carry a prehashed one ("ED", minisign's default).
inline constexpr size_t kLegacySignatureLimit = size_t{64} << 20;

// One minisign public key.
struct PackagePublicKey {
    std::string KeyId;     // 8 bytes, as a signature names its key
    std::string PublicKey; // Ed25519, 32 bytes
};

// The keys of a PackageKey value. Unusable lists the parts that are no public key.
struct PackageKeyList {
    std::vector<PackagePublicKey> Keys;
    std::vector<std::string> Unusable;
};

// Splits a PackageKey value at ";" and white space; each part is the Base64 line of a minisign
// public key file ("RW..."). Parts that are not one go to Unusable.
PackageKeyList ParsePackageKeys(const std::string &value);
// One public key from the text of a minisign ".pub" file or from its Base64 line alone. False
// when the text holds no public key.
bool ParsePublicKeyFile(const std::string &text, PackagePublicKey &key);
// A key id as minisign shows it: 16 upper-case hex digits (the 8 bytes read little-endian).
std::string KeyIdText(const std::string &keyId);
// The key ids of the list, for the log: "A1B2..., C3D4...".
std::string KeyIdsText(const PackageKeyList &keys);

// A signature file's content.
struct MinisignSignature {
    bool Prehashed = true;        // "ED": signs the BLAKE2b-512 of the file; "Ed": the file
    std::string KeyId;            // 8 bytes
    std::string Signature;        // 64 bytes
    std::string UntrustedComment; // after "untrusted comment: "
    std::string TrustedComment;   // after "trusted comment: "
    std::string GlobalSignature;  // 64 bytes, over Signature followed by TrustedComment
};

// Reads a signature file's text: four lines (CR LF or LF). False, with why, when it is not one.
bool ParseMinisignSignature(const std::string &text, MinisignSignature &signature,
                            std::string &why);
// The text of a signature file, as minisign writes it.
std::string FormatMinisignSignature(const MinisignSignature &signature);

// Base64 (the original alphabet, with padding), as the key and signature files hold it.
std::string EncodeBase64(const std::string &bytes);
// False unless text is Base64 of exactly size bytes.
bool DecodeBase64(const std::string &text, size_t size, std::string &bytes);

enum class SignatureVerdict {
    Good,
    NoUsableKey,    // PackageKey is set but holds no public key: nothing can pass
    Missing,        // no signature file beside the package
    ReadFailed,     // the package or its signature cannot be read (or the copy written)
    Malformed,      // the signature file is not minisign's format
    OtherKey,       // signed with a key that PackageKey does not hold
    BytesDiffer,    // the signature does not match the package's bytes
    CommentAltered, // the trusted comment does not match its global signature
    TooLarge,       // a legacy signature on a package above kLegacySignatureLimit
};

const char *SignatureVerdictText(SignatureVerdict verdict);

struct SignatureCheck {
    SignatureVerdict Verdict = SignatureVerdict::ReadFailed;
    std::string Detail;         // for the log: which key, what failed and why
    std::string KeyId;          // the key the signature names (8 bytes), when it was read
    std::string TrustedComment; // as verified: only meaningful when Good
    std::string Digest;         // BLAKE2b-512 of every byte read from the package
    bool Good() const { return Verdict == SignatureVerdict::Good; }
};

struct VerifyOptions {
    // Called every few megabytes while the package is read (the window's message pump).
    std::function<void()> Pace;
    // Every byte read from the package is also written here, so what was verified can be
    // handed on without being read again.
    IFileWriter *Copy = nullptr;
};

// Verifies the package file against the signature file beside it with the keys. The package
// is read once, front to back, in pieces (a legacy signature keeps it whole in memory, up to
// kLegacySignatureLimit). The signature must name one of the keys, match the bytes and carry
// a trusted comment that its global signature covers. Throws nothing but std::bad_alloc and
// KxError when libsodium cannot start.
SignatureCheck VerifyPackageSignature(IFileSystem &files, const std::string &packageFile,
                                      const PackageKeyList &keys,
                                      const VerifyOptions &options = {});

// The BLAKE2b-512 of a file, read once in pieces. False when it cannot be read.
bool HashFile(IFileSystem &files, const std::string &path, std::string &digest);

// Makes libsodium usable; throws KxError when it cannot start.
void StartSodium();

} // namespace offline_upgrade
