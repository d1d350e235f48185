#include "package/package_signature.h"

#include "platform/error.h"

#include <sodium.h>

#include <memory>
#include <string_view>

namespace offline_upgrade {

namespace {

const char kUntrustedPrefix[] = "untrusted comment: ";
const char kTrustedPrefix[] = "trusted comment: ";
const std::string kAlgLegacy = "Ed";
const std::string kAlgPrehashed = "ED";
constexpr size_t kKeyIdBytes = 8;
constexpr size_t kDigestBytes = crypto_generichash_BYTES_MAX; // 64: BLAKE2b-512
// Far above anything minisign writes (its comments stop at a few kilobytes): a larger file is
// not a signature and is not read whole.
constexpr size_t kSignatureFileLimit = 64 * 1024;
// Big enough that the system's read-ahead runs at the disk's pace, small enough to stay in
// the cache while BLAKE2b goes over it.
constexpr size_t kReadPiece = 1 << 20;
constexpr size_t kPacePieces = 16;

std::string Bytes(const unsigned char *data, size_t size)
{
    return std::string(reinterpret_cast<const char *>(data), size);
}

const unsigned char *Raw(const std::string &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.data());
}

// An untrusted text as the log may show it: control bytes become "?".
std::string Printable(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return out;
}

bool IsKeySeparator(char c)
{
    return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The lines of a text without their ends (LF, CR LF).
std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        at = next;
    }
    return lines;
}

bool ParsePublicKeyLine(const std::string &line, PackagePublicKey &key)
{
    std::string raw;
    if (!DecodeBase64(line, 2 + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES, raw) ||
        raw.compare(0, 2, kAlgLegacy) != 0)
        return false;
    key.KeyId = raw.substr(2, kKeyIdBytes);
    key.PublicKey = raw.substr(2 + kKeyIdBytes);
    return true;
}

bool VerifyDetached(const std::string &signature, const std::string &message,
                    const std::string &publicKey)
{
    return crypto_sign_verify_detached(Raw(signature), Raw(message), message.size(),
                                       Raw(publicKey)) == 0;
}

SignatureCheck Verdict(SignatureVerdict verdict, std::string detail, SignatureCheck check = {})
{
    check.Verdict = verdict;
    check.Detail = std::move(detail);
    return check;
}

} // namespace

void StartSodium()
{
    // Idempotent and safe to call from any thread; -1 only when the system gives no randomness.
    if (sodium_init() < 0)
        throw KxError("the cryptography library (libsodium) cannot start");
}

std::string EncodeBase64(const std::string &bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), Raw(bytes), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.find('\0'));
    return text;
}

bool DecodeBase64(const std::string &text, size_t size, std::string &bytes)
{
    std::string out(size + 1, '\0');
    size_t length = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(out.data()), out.size(), text.data(),
                          text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size() || length != size)
        return false;
    out.resize(length);
    bytes = std::move(out);
    return true;
}

std::string KeyIdText(const std::string &keyId)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = keyId.size(); i-- > 0;) {
        const auto byte = static_cast<unsigned char>(keyId[i]);
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

std::string KeyIdsText(const PackageKeyList &keys)
{
    std::string text;
    for (const PackagePublicKey &key : keys.Keys)
        text += (text.empty() ? "" : ", ") + KeyIdText(key.KeyId);
    return text;
}

PackageKeyList ParsePackageKeys(const std::string &value)
{
    PackageKeyList list;
    size_t at = 0;
    while (at < value.size()) {
        if (IsKeySeparator(value[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < value.size() && !IsKeySeparator(value[end]))
            ++end;
        const std::string part = value.substr(at, end - at);
        PackagePublicKey key;
        if (ParsePublicKeyLine(part, key))
            list.Keys.push_back(std::move(key));
        else
            list.Unusable.push_back(Printable(part));
        at = end;
    }
    return list;
}

bool ParsePublicKeyFile(const std::string &text, PackagePublicKey &key)
{
    for (const std::string &line : Lines(text)) {
        if (line.starts_with(kUntrustedPrefix) || line.empty())
            continue;
        std::string trimmed = line;
        while (!trimmed.empty() && IsKeySeparator(trimmed.back()))
            trimmed.pop_back();
        return ParsePublicKeyLine(trimmed, key);
    }
    return false;
}

bool ParseMinisignSignature(const std::string &text, MinisignSignature &signature, std::string &why)
{
    std::vector<std::string> lines = Lines(text);
    // A last empty line is the end of the fourth.
    while (lines.size() > 4 && lines.back().empty())
        lines.pop_back();
    if (lines.size() != 4) {
        why = "it has " + std::to_string(lines.size()) + " lines, not 4";
        return false;
    }
    if (!lines[0].starts_with(kUntrustedPrefix)) {
        why = "its first line does not start with \"untrusted comment: \"";
        return false;
    }
    std::string raw;
    if (!DecodeBase64(lines[1], 2 + kKeyIdBytes + crypto_sign_BYTES, raw)) {
        why = "its second line is not the Base64 of a signature";
        return false;
    }
    const std::string alg = raw.substr(0, 2);
    if (alg != kAlgPrehashed && alg != kAlgLegacy) {
        why = "unknown signature algorithm \"" + Printable(alg) + "\"";
        return false;
    }
    if (!lines[2].starts_with(kTrustedPrefix)) {
        why = "its third line does not start with \"trusted comment: \"";
        return false;
    }
    std::string global;
    if (!DecodeBase64(lines[3], crypto_sign_BYTES, global)) {
        why = "its fourth line is not the Base64 of a global signature";
        return false;
    }
    signature.Prehashed = alg == kAlgPrehashed;
    signature.KeyId = raw.substr(2, kKeyIdBytes);
    signature.Signature = raw.substr(2 + kKeyIdBytes);
    signature.UntrustedComment = lines[0].substr(sizeof kUntrustedPrefix - 1);
    signature.TrustedComment = lines[2].substr(sizeof kTrustedPrefix - 1);
    signature.GlobalSignature = std::move(global);
    return true;
}

std::string FormatMinisignSignature(const MinisignSignature &signature)
{
    return kUntrustedPrefix + signature.UntrustedComment + "\n" +
           EncodeBase64((signature.Prehashed ? kAlgPrehashed : kAlgLegacy) + signature.KeyId +
                        signature.Signature) +
           "\n" + kTrustedPrefix + signature.TrustedComment + "\n" +
           EncodeBase64(signature.GlobalSignature) + "\n";
}

const char *SignatureVerdictText(SignatureVerdict verdict)
{
    switch (verdict) {
    case SignatureVerdict::Good:
        return "signature good";
    case SignatureVerdict::NoUsableKey:
        return "PackageKey holds no public key";
    case SignatureVerdict::Missing:
        return "signature missing";
    case SignatureVerdict::ReadFailed:
        return "package or signature unreadable";
    case SignatureVerdict::Malformed:
        return "signature malformed";
    case SignatureVerdict::OtherKey:
        return "signed with another key";
    case SignatureVerdict::BytesDiffer:
        return "signature does not match the package";
    case SignatureVerdict::CommentAltered:
        return "trusted comment altered";
    case SignatureVerdict::TooLarge:
        return "legacy signature on a large package";
    }
    return "?";
}

namespace {

// Reads the package once: every piece goes to BLAKE2b, to the legacy message when there is
// one, and to the copy.
bool ReadPackage(IFileSystem &files, const std::string &packageFile, bool keepWhole,
                 const VerifyOptions &options, std::string &digest, std::string &whole,
                 SignatureCheck &failure)
{
    const std::unique_ptr<IFileReader> reader = files.OpenFileForReading(packageFile);
    if (!reader) {
        failure = Verdict(SignatureVerdict::ReadFailed, "the package cannot be opened", failure);
        return false;
    }
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kDigestBytes);
    const std::unique_ptr<char[]> piece(new char[kReadPiece]);
    for (size_t count = 1;; ++count) {
        size_t got = 0;
        if (!reader->Read(piece.get(), kReadPiece, got)) {
            failure = Verdict(SignatureVerdict::ReadFailed, "the package cannot be read", failure);
            return false;
        }
        if (got == 0)
            break;
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(piece.get()),
                                  got);
        if (keepWhole) {
            if (whole.size() + got > kLegacySignatureLimit) {
                failure = Verdict(SignatureVerdict::TooLarge,
                                  "a legacy signature (\"Ed\") on a package larger than " +
                                      std::to_string(kLegacySignatureLimit >> 20) +
                                      " MiB; sign it prehashed (minisign's default, or "
                                      "kxpack sign)",
                                  failure);
                return false;
            }
            whole.append(piece.get(), got);
        }
        if (options.Copy && !options.Copy->Write(piece.get(), got)) {
            failure = Verdict(SignatureVerdict::ReadFailed, "the verified copy cannot be written",
                              failure);
            return false;
        }
        if (options.Pace && count % kPacePieces == 0)
            options.Pace();
    }
    unsigned char out[kDigestBytes];
    crypto_generichash_final(&state, out, sizeof out);
    digest = Bytes(out, sizeof out);
    return true;
}

} // namespace

SignatureCheck VerifyPackageSignature(IFileSystem &files, const std::string &packageFile,
                                      const PackageKeyList &keys, const VerifyOptions &options)
{
    StartSodium();
    if (keys.Keys.empty())
        return Verdict(SignatureVerdict::NoUsableKey,
                       "the product's PackageKey holds no minisign public key, so no package "
                       "can be verified");

    const std::string signatureFile = packageFile + kSignatureSuffix;
    if (!files.FileExists(signatureFile))
        return Verdict(SignatureVerdict::Missing, "no signature file " + signatureFile);
    std::string text;
    {
        const std::unique_ptr<IFileReader> reader = files.OpenFileForReading(signatureFile);
        if (!reader)
            return Verdict(SignatureVerdict::ReadFailed, "cannot open " + signatureFile);
        char piece[4096];
        for (size_t got = 1; got > 0;) {
            if (!reader->Read(piece, sizeof piece, got))
                return Verdict(SignatureVerdict::ReadFailed, "cannot read " + signatureFile);
            text.append(piece, got);
            if (text.size() > kSignatureFileLimit)
                return Verdict(SignatureVerdict::Malformed,
                               signatureFile + " is malformed: larger than " +
                                   std::to_string(kSignatureFileLimit) + " bytes");
        }
    }
    MinisignSignature signature;
    std::string why;
    if (!ParseMinisignSignature(text, signature, why))
        return Verdict(SignatureVerdict::Malformed, signatureFile + " is malformed: " + why);

    SignatureCheck check;
    check.KeyId = signature.KeyId;
    const PackagePublicKey *key = nullptr;
    for (const PackagePublicKey &candidate : keys.Keys)
        if (candidate.KeyId == signature.KeyId)
            key = &candidate;
    const std::string byKey = "key " + KeyIdText(signature.KeyId);
    if (!key)
        return Verdict(SignatureVerdict::OtherKey,
                       "signed with " + byKey + ", which is not in the product's PackageKey (" +
                           KeyIdsText(keys) + ")",
                       check);

    std::string whole;
    if (!ReadPackage(files, packageFile, !signature.Prehashed, options, check.Digest, whole,
                     check)) {
        check.Detail += " (" + packageFile + ")";
        return check;
    }
    const std::string &message = signature.Prehashed ? check.Digest : whole;
    if (!VerifyDetached(signature.Signature, message, key->PublicKey))
        return Verdict(SignatureVerdict::BytesDiffer,
                       "the signature by " + byKey +
                           " does not match the package's bytes: the package was changed "
                           "after it was signed, or the signature belongs to another file",
                       check);
    if (!VerifyDetached(signature.GlobalSignature, signature.Signature + signature.TrustedComment,
                        key->PublicKey))
        return Verdict(SignatureVerdict::CommentAltered,
                       "the trusted comment \"" + Printable(signature.TrustedComment) +
                           "\" does not match its signature by " + byKey + ": it was altered",
                       check);
    check.TrustedComment = signature.TrustedComment;
    return Verdict(SignatureVerdict::Good,
                   std::string("signed by ") + byKey +
                       (signature.Prehashed ? "" : " (legacy signature)") +
                       "; trusted comment: " + Printable(signature.TrustedComment),
                   check);
}

bool HashFile(IFileSystem &files, const std::string &path, std::string &digest)
{
    StartSodium();
    std::string whole;
    SignatureCheck failure;
    return ReadPackage(files, path, false, {}, digest, whole, failure);
}

} // namespace offline_upgrade
