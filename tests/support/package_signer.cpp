#include "tests/support/package_signer.h"

#include <sodium.h>

#include <stdexcept>

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
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         Raw(message), message.size(), Raw(key.SecretKey));
    return signature;
}

} // namespace

std::string TestSigningKey::PublicLine() const
{
    return Base64("Ed" + KeyId + PublicKey);
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
           Base64((prehashed ? "ED" : "Ed") + key.KeyId + signature) + "\ntrusted comment: " +
           trustedComment + "\n" + Base64(global) + "\n";
}
