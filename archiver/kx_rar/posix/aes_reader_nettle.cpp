#include "aes_reader.h"

#include "plain_data.h"
#include "rar_error.h"

#include <nettle/aes.h>
#include <nettle/hmac.h>
#include <nettle/memxor.h>
#include <nettle/pbkdf2.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kx_rar {

namespace {

constexpr size_t kBlock = 256 * 1024; // a multiple of the cipher's block
constexpr size_t kVerifierSize = 2;
constexpr size_t kCodeSize = 10;
constexpr unsigned kIterations = 1000;

class AesEntryReader : public EntryReader {
public:
    AesEntryReader(fa::Native fd, const ZipEntry &entry, const std::string &password,
                   std::string shown)
        : fd_(fd), entry_(entry), shown_(std::move(shown)), keySize_(8u + 8u * entry.AesStrength),
          // The second kind stores no checksum: the authentication code stands for it.
          plain_(entry, shown_, entry.AesVersion == 1,
                 [this](const unsigned char *&bytes, size_t &size) {
                     if (!ReadRaw())
                         return false;
                     bytes = in_.data();
                     size = in_.size();
                     return true;
                 })
    {
        const size_t saltSize = keySize_ / 2;
        if (entry.CompressedSize < saltSize + kVerifierSize + kCodeSize)
            Bad("its encryption header is cut short");
        uint8_t header[16 + kVerifierSize];
        ReadExactly(header, saltSize + kVerifierSize, entry.DataAt);
        uint8_t keys[2 * 32 + kVerifierSize];
        pbkdf2_hmac_sha1(password.size(), reinterpret_cast<const uint8_t *>(password.data()),
                         kIterations, saltSize, header, 2 * keySize_ + kVerifierSize, keys);
        if (std::memcmp(keys + 2 * keySize_, header + saltSize, kVerifierSize) != 0)
            throw RarError(ExitCode::WrongPassword, "wrong password for " + shown_);
        switch (keySize_) {
        case 16:
            aes128_set_encrypt_key(&aes128_, keys);
            break;
        case 24:
            aes192_set_encrypt_key(&aes192_, keys);
            break;
        default:
            aes256_set_encrypt_key(&aes256_, keys);
            break;
        }
        hmac_sha1_set_key(&hmac_, keySize_, keys + keySize_);
        next_ = entry.DataAt + saltSize + kVerifierSize;
        dataEnd_ = entry.DataEnd - kCodeSize;
    }

    bool ReadBlock(const void *&data, size_t &size) override
    {
        if (checked_)
            return false;
        if (plain_.Next(data, size))
            return true;
        // Deflated data that ended before its stored end: the rest still counts for the code.
        while (ReadRaw()) {
        }
        uint8_t stored[kCodeSize];
        uint8_t computed[kCodeSize];
        ReadExactly(stored, kCodeSize, dataEnd_);
        hmac_sha1_digest(&hmac_, kCodeSize, computed);
        // As the library reports it: a checksum error, which for the entry that proves the
        // password means a wrong one.
        if (std::memcmp(stored, computed, kCodeSize) != 0)
            throw RarError(ExitCode::Checksum, "checksum error in " + shown_ +
                                                   ": its authentication code does not match");
        if (entry_.AesVersion == 1 && plain_.Crc() != entry_.Crc)
            Bad("checksum does not match");
        checked_ = true;
        return false;
    }

private:
    [[noreturn]] void Bad(const std::string &why) const { PlainData::Bad(shown_, why); }

    void ReadExactly(uint8_t *bytes, size_t size, uint64_t at) const
    {
        size_t got = 0;
        while (got < size) {
            const int64_t n = fa::ReadAt(fd_, bytes + got, size - got, at + got);
            if (n <= 0)
                throw RarError(ExitCode::Fatal,
                               "cannot read " + shown_ + ": " +
                                   (n < 0 ? fa::ErrorText() : "archive cut short"));
            got += static_cast<size_t>(n);
        }
    }

    // The next piece of the encrypted data into in_, authenticated and decrypted; false at its
    // end.
    bool ReadRaw()
    {
        const uint64_t left = dataEnd_ - next_;
        if (left == 0) {
            in_.clear();
            return false;
        }
        in_.resize(static_cast<size_t>(std::min<uint64_t>(left, kBlock)));
        ReadExactly(in_.data(), in_.size(), next_);
        next_ += in_.size();
        hmac_sha1_update(&hmac_, in_.size(), in_.data());
        // The counter runs from 1, its bytes in little-endian order; the pieces are whole
        // blocks but for the last.
        const size_t blocks = (in_.size() + 15) / 16;
        stream_.resize(blocks * 16);
        for (size_t b = 0; b < blocks; ++b) {
            for (size_t i = 0; i < 16 && ++counter_[i] == 0; ++i) {
            }
            std::memcpy(stream_.data() + b * 16, counter_, 16);
        }
        switch (keySize_) {
        case 16:
            aes128_encrypt(&aes128_, stream_.size(), stream_.data(), stream_.data());
            break;
        case 24:
            aes192_encrypt(&aes192_, stream_.size(), stream_.data(), stream_.data());
            break;
        default:
            aes256_encrypt(&aes256_, stream_.size(), stream_.data(), stream_.data());
            break;
        }
        memxor(in_.data(), stream_.data(), in_.size());
        return true;
    }

    fa::Native fd_;
    const ZipEntry &entry_;
    std::string shown_;
    size_t keySize_;
    aes128_ctx aes128_{};
    aes192_ctx aes192_{};
    aes256_ctx aes256_{};
    hmac_sha1_ctx hmac_{};
    uint8_t counter_[16] = {};
    uint64_t next_ = 0;
    uint64_t dataEnd_ = 0;
    bool checked_ = false;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> stream_;
    PlainData plain_;
};

} // namespace

std::unique_ptr<EntryReader> OpenAesEntry(fa::Native fd, const ZipEntry &entry,
                                          const std::string &password, std::string shownName)
{
    if ((entry.Method != 0 && entry.Method != 8) || entry.AesStrength < 1 ||
        entry.AesStrength > 3 || (entry.AesVersion != 1 && entry.AesVersion != 2))
        return nullptr;
    return std::make_unique<AesEntryReader>(fd, entry, password, std::move(shownName));
}

} // namespace kx_rar
