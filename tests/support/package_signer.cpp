#include "tests/support/package_signer.h"

#include <sodium.h>

#include <stdexcept>

namespace offline_upgrade {

namespace {

const unsigned char *Raw(const std::string &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.data());
}

std::string Base64(const std::string &bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), Raw(bytes), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    return text.substr(0, text.find('\0'));
}

std::string Sign(const TestSigningKey &key, const std::string &message)
{
    std::string signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr, Raw(message),
                         message.size(), Raw(key.SecretKey));
    return signature;
}

} // namespace

std::string TestSigningKey::PublicLine() const
{
    return Base64("Ed" + KeyId + PublicKey);
}

std::string TestSigningKey::PublicKeyFile() const
{
    return "untrusted comment: minisign public key of a test\n" + PublicLine() + "\n";
}

std::string TestSigningKey::SecretKeyFile(const std::string &password) const
{
    std::string checksum(crypto_generichash_BYTES, '\0');
    const std::string summed = "Ed" + KeyId + SecretKey;
    crypto_generichash(reinterpret_cast<unsigned char *>(checksum.data()), checksum.size(),
                       Raw(summed), summed.size(), nullptr, 0);
    std::string part = KeyId + SecretKey + checksum;
    std::string salt(crypto_pwhash_scryptsalsa208sha256_SALTBYTES, '\0');
    randombytes_buf(salt.data(), salt.size());
    const unsigned long long ops = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_INTERACTIVE;
    const unsigned long long mem = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_INTERACTIVE;
    std::string limits;
    for (const unsigned long long value : {ops, mem})
        for (int i = 0; i < 8; ++i)
            limits += static_cast<char>(value >> (8 * i) & 0xFF);
    if (!password.empty()) {
        std::string stream(part.size(), '\0');
        if (crypto_pwhash_scryptsalsa208sha256(reinterpret_cast<unsigned char *>(stream.data()),
                                               stream.size(), password.data(), password.size(),
                                               Raw(salt), ops, mem) != 0)
            throw std::runtime_error("scrypt failed");
        for (size_t i = 0; i < part.size(); ++i)
            part[i] = static_cast<char>(part[i] ^ stream[i]);
    }
    const std::string kdf = password.empty() ? std::string(2, '\0') : std::string("Sc");
    return "untrusted comment: minisign secret key\n" +
           Base64("Ed" + kdf + "B2" + salt + limits + part) + "\n";
}

TestSigningKey MakeTestSigningKey()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    TestSigningKey key;
    key.PublicKey.assign(crypto_sign_PUBLICKEYBYTES, '\0');
    key.SecretKey.assign(crypto_sign_SECRETKEYBYTES, '\0');
    key.KeyId.assign(8, '\0');
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(key.PublicKey.data()),
                        reinterpret_cast<unsigned char *>(key.SecretKey.data()));
    randombytes_buf(key.KeyId.data(), key.KeyId.size());
    return key;
}

std::string SignBytesForTest(const TestSigningKey &key, const std::string &bytes, bool prehashed,
                             const std::string &trustedComment)
{
    std::string message = bytes;
    if (prehashed) {
        message.assign(crypto_generichash_BYTES_MAX, '\0');
        crypto_generichash(reinterpret_cast<unsigned char *>(message.data()), message.size(),
                           Raw(bytes), bytes.size(), nullptr, 0);
    }
    const std::string signature = Sign(key, message);
    const std::string global = Sign(key, signature + trustedComment);
    return "untrusted comment: signature from a test key\n" +
           Base64((prehashed ? "ED" : "Ed") + key.KeyId + signature) +
           "\ntrusted comment: " + trustedComment + "\n" + Base64(global) + "\n";
}

} // namespace offline_upgrade
