#include "kxpack/sign.h"

#include <sodium.h>

#include <cstdint>
#include <vector>

namespace kxpack {

using offline_upgrade::DecodeBase64;
using offline_upgrade::MinisignSignature;
using offline_upgrade::StartSodium;

namespace {

constexpr size_t kAlg = 2;
constexpr size_t kSalt = crypto_pwhash_scryptsalsa208sha256_SALTBYTES; // 32
constexpr size_t kKeyId = 8;
constexpr size_t kChecksum = crypto_generichash_BYTES; // 32
constexpr size_t kSecret = crypto_sign_SECRETKEYBYTES; // 64
// sig_alg, kdf_alg, chk_alg, salt, opslimit, memlimit, then the part that may be encrypted:
// key id, secret key, checksum.
constexpr size_t kHead = 3 * kAlg + kSalt + 8 + 8;
constexpr size_t kKeyPart = kKeyId + kSecret + kChecksum;

uint64_t LittleEndian64(const std::string &bytes, size_t at)
{
    uint64_t value = 0;
    for (size_t i = 8; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

const unsigned char *Raw(const std::string &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.data());
}

// The secret key file's checksum: BLAKE2b-256 over the algorithm, the key id and the key.
std::string Checksum(const std::string &alg, const std::string &keyId, const std::string &secret)
{
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kChecksum);
    crypto_generichash_update(&state, Raw(alg), alg.size());
    crypto_generichash_update(&state, Raw(keyId), keyId.size());
    crypto_generichash_update(&state, Raw(secret), secret.size());
    std::string out(kChecksum, '\0');
    crypto_generichash_final(&state, reinterpret_cast<unsigned char *>(out.data()), out.size());
    return out;
}

std::string Clean(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

} // namespace

PackageSecretKey::~PackageSecretKey()
{
    if (!SecretKey.empty())
        sodium_memzero(SecretKey.data(), SecretKey.size());
}

bool OpenSecretKey(const std::string &text,
                   const std::function<std::optional<std::string>()> &password,
                   PackageSecretKey &key, std::string &why)
{
    StartSodium();
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        at = end + 1;
        if (!line.empty() && !line.starts_with("untrusted comment: "))
            break;
        line.clear();
    }
    std::string raw;
    if (line.empty() || !DecodeBase64(line, kHead + kKeyPart, raw)) {
        why = "not a minisign secret key file";
        return false;
    }
    const std::string alg = raw.substr(0, 2);
    const std::string kdf = raw.substr(2, 2);
    if (alg != "Ed" || raw.substr(4, 2) != "B2") {
        why = "not a minisign Ed25519 secret key";
        return false;
    }
    const std::string salt = raw.substr(3 * kAlg, kSalt);
    const uint64_t opsLimit = LittleEndian64(raw, 3 * kAlg + kSalt);
    const uint64_t memLimit = LittleEndian64(raw, 3 * kAlg + kSalt + 8);
    std::string part = raw.substr(kHead, kKeyPart);
    sodium_memzero(raw.data(), raw.size());
    if (kdf == "Sc") {
        std::optional<std::string> secret = password();
        if (!secret) {
            why = "the key is protected by a password: set KXPACK_KEY_PASSWORD or run on a "
                  "terminal";
            return false;
        }
        std::string stream(kKeyPart, '\0');
        const int derived = crypto_pwhash_scryptsalsa208sha256(
            reinterpret_cast<unsigned char *>(stream.data()), stream.size(), secret->data(),
            secret->size(), Raw(salt), opsLimit, static_cast<size_t>(memLimit));
        sodium_memzero(secret->data(), secret->size());
        if (derived != 0) {
            why = "the key's password cannot be derived (out of memory?)";
            return false;
        }
        for (size_t i = 0; i < kKeyPart; ++i)
            part[i] = static_cast<char>(part[i] ^ stream[i]);
        sodium_memzero(stream.data(), stream.size());
    } else if (kdf != std::string(2, '\0')) {
        why = "unknown key derivation \"" + Clean(kdf) + "\"";
        return false;
    }
    key.KeyId = part.substr(0, kKeyId);
    key.SecretKey = part.substr(kKeyId, kSecret);
    // minisign leaves the checksum of a key without a password empty (zeros).
    const bool unchecked =
        kdf != "Sc" && sodium_is_zero(Raw(part) + kKeyId + kSecret, kChecksum) == 1;
    const bool intact = unchecked || sodium_memcmp(Checksum(alg, key.KeyId, key.SecretKey).data(),
                                                   part.data() + kKeyId + kSecret, kChecksum) == 0;
    sodium_memzero(part.data(), part.size());
    if (!intact) {
        sodium_memzero(key.SecretKey.data(), key.SecretKey.size());
        key.SecretKey.clear();
        why = kdf == "Sc" ? "wrong password for the secret key" : "the secret key is damaged";
        return false;
    }
    return true;
}

std::string PackageTrustedComment(long long unixTime, const std::string &fileName,
                                  const std::string &product, const std::string &build)
{
    return "timestamp:" + std::to_string(unixTime) + "\tfile:" + Clean(fileName) +
           "\tproduct:" + Clean(product) + "\tbuild:" + Clean(build) + "\thashed";
}

MinisignSignature SignDigest(const PackageSecretKey &key, const std::string &digest,
                             const std::string &trustedComment)
{
    StartSodium();
    MinisignSignature signature;
    signature.Prehashed = true;
    signature.KeyId = key.KeyId;
    signature.UntrustedComment = "signature from kxpack secret key";
    signature.TrustedComment = trustedComment;
    signature.Signature.assign(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.Signature.data()), nullptr,
                         Raw(digest), digest.size(), Raw(key.SecretKey));
    const std::string global = signature.Signature + trustedComment;
    signature.GlobalSignature.assign(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.GlobalSignature.data()),
                         nullptr, Raw(global), global.size(), Raw(key.SecretKey));
    return signature;
}

} // namespace kxpack
