#include "traditional_reader.h"

#include "rar_error.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace kx_rar {

namespace {

constexpr size_t kBlock = 256 * 1024;
constexpr size_t kHeaderSize = 12;
// From this size on an entry gets a helper thread; smaller ones unpack side by side anyway.
constexpr uint64_t kHelperFrom = 4 * 1024 * 1024;
constexpr size_t kPiecesInFlight = 4;

const std::array<uint32_t, 256> &CrcTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1)));
            t[i] = c;
        }
        return t;
    }();
    return table;
}

} // namespace

TraditionalEntryReader::TraditionalEntryReader(fa::Native fd, const ZipEntry &entry,
                                               const std::string &password, std::string shownName)
    : fd_(fd), entry_(entry), shown_(std::move(shownName)), next_(entry.DataAt),
      plain_(entry, shown_, true, [this](const unsigned char *&bytes, size_t &size) {
          if (!ReadRaw())
              return false;
          bytes = reinterpret_cast<const unsigned char *>(in_.data());
          size = in_.size();
          return true;
      })
{
    const auto &table = CrcTable();
    const auto update = [&](unsigned char c) {
        keys_[0] = table[(keys_[0] ^ c) & 0xff] ^ (keys_[0] >> 8);
        keys_[1] = (keys_[1] + (keys_[0] & 0xff)) * 134775813u + 1;
        keys_[2] = table[(keys_[2] ^ (keys_[1] >> 24)) & 0xff] ^ (keys_[2] >> 8);
    };
    for (unsigned char c : password)
        update(c);
    if (entry.CompressedSize < kHeaderSize)
        Bad("its encryption header is cut short");
    unsigned char header[kHeaderSize];
    const int64_t n = fa::ReadAt(fd_, header, sizeof header, next_);
    if (n != static_cast<int64_t>(sizeof header))
        throw RarError(ExitCode::Fatal, "cannot read " + shown_ + ": " +
                                            (n < 0 ? fa::ErrorText() : "archive cut short"));
    next_ += kHeaderSize;
    Decrypt(header, sizeof header);
    // The last header byte repeats the checksum's high byte, or with sizes given after the
    // data, the high byte of the modification time.
    const unsigned expected = (entry.Flags & 8) ? (entry.LocalTime >> 8) & 0xff : entry.Crc >> 24;
    if (header[kHeaderSize - 1] != expected)
        throw RarError(ExitCode::WrongPassword, "wrong password for " + shown_);
    if (entry.CompressedSize >= kHelperFrom) {
        spare_.resize(kPiecesInFlight);
        helper_ = std::thread([this] { Produce(); });
    }
}

TraditionalEntryReader::~TraditionalEntryReader()
{
    if (helper_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        helper_.join();
    }
}

void TraditionalEntryReader::Produce()
{
    try {
        while (true) {
            std::string block;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || !spare_.empty(); });
                if (stop_)
                    return;
                block = std::move(spare_.back());
                spare_.pop_back();
            }
            const bool more = ReadAndDecrypt(block);
            {
                std::lock_guard lock(mutex_);
                if (more)
                    full_.push_back(std::move(block));
                else
                    produced_ = true;
            }
            changed_.notify_all();
            if (!more)
                return;
        }
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            produced_ = true;
        }
        changed_.notify_all();
    }
}

void TraditionalEntryReader::Decrypt(unsigned char *bytes, size_t size)
{
    const auto &table = CrcTable();
    uint32_t k0 = keys_[0], k1 = keys_[1], k2 = keys_[2];
    for (size_t i = 0; i < size; ++i) {
        // Bits 8 to 15 of the product depend on the low 16 bits of k2 alone: no mask needed.
        const uint32_t t = k2 | 2;
        const unsigned char c = bytes[i] ^ static_cast<unsigned char>((t * (t ^ 1)) >> 8);
        bytes[i] = c;
        k0 = table[(k0 ^ c) & 0xff] ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xff)) * 134775813u + 1;
        k2 = table[(k2 ^ (k1 >> 24)) & 0xff] ^ (k2 >> 8);
    }
    keys_[0] = k0, keys_[1] = k1, keys_[2] = k2;
}

bool TraditionalEntryReader::ReadAndDecrypt(std::string &block)
{
    const uint64_t left = entry_.DataEnd - next_;
    if (left == 0)
        return false;
    block.resize(static_cast<size_t>(std::min<uint64_t>(left, kBlock)));
    size_t got = 0;
    while (got < block.size()) {
        const int64_t n = fa::ReadAt(fd_, block.data() + got, block.size() - got, next_ + got);
        if (n <= 0)
            throw RarError(ExitCode::Fatal, "cannot read " + shown_ + ": " +
                                                (n < 0 ? fa::ErrorText() : "archive cut short"));
        got += static_cast<size_t>(n);
    }
    next_ += got;
    Decrypt(reinterpret_cast<unsigned char *>(block.data()), block.size());
    return true;
}

bool TraditionalEntryReader::ReadRaw()
{
    if (!helper_.joinable())
        return ReadAndDecrypt(in_);
    std::unique_lock lock(mutex_);
    if (holding_)
        spare_.push_back(std::move(in_));
    holding_ = false;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !full_.empty() || produced_; });
    if (full_.empty()) {
        if (failure_)
            std::rethrow_exception(failure_);
        in_.clear();
        return false;
    }
    in_ = std::move(full_.front());
    full_.pop_front();
    holding_ = true;
    return true;
}

void TraditionalEntryReader::Bad(const std::string &why) const
{
    PlainData::Bad(shown_, why);
}

bool TraditionalEntryReader::ReadBlock(const void *&data, size_t &size)
{
    if (plain_.Next(data, size))
        return true;
    if (plain_.Crc() != entry_.Crc)
        Bad("checksum does not match");
    return false;
}

} // namespace kx_rar
