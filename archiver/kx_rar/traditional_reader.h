#pragma once
// The data of one entry under traditional ZIP encryption, stored or deflated, read straight
// from the archive file. The archive library decrypts these byte by byte through a function
// call per checksum step, which makes one large entry unpack at a fraction of the disk's
// speed; this cipher keeps its table in hand. The cipher is a chain from byte to byte, so for
// a large entry a thread of its own reads and decrypts while the caller's thread inflates,
// checks and writes.

#include "file_access.h"
#include "plain_data.h"
#include "zip_layout.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx_rar {

class TraditionalEntryReader {
public:
    // fd is the archive (it must outlive the reader); entry has passed CheckEntryData, is
    // encrypted without AES, and its method is stored or deflate.
    TraditionalEntryReader(fa::Native fd, const ZipEntry &entry, const std::string &password,
                           std::string shownName);
    ~TraditionalEntryReader();
    TraditionalEntryReader(const TraditionalEntryReader &) = delete;
    TraditionalEntryReader &operator=(const TraditionalEntryReader &) = delete;

    // The next piece of plain data, valid until the next call; false after the last one, once
    // the size and the checksum have been checked. Throws RarError: ExitCode::WrongPassword
    // when the password check fails, and for data that does not unpack or whose checksum or
    // size do not match (a wrong password that passed the check looks like that, and so does
    // damaged data); ExitCode::Fatal when the archive cannot be read.
    bool ReadBlock(const void *&data, size_t &size);

private:
    void Decrypt(unsigned char *bytes, size_t size);
    // Reads and decrypts the next piece of the stored data into block; false at its end.
    bool ReadAndDecrypt(std::string &block);
    // The next decrypted piece into in_, from the helper thread when there is one; false at
    // the end of the data.
    bool ReadRaw();
    void Produce();
    [[noreturn]] void Bad(const std::string &why) const;

    fa::Native fd_;
    const ZipEntry &entry_;
    std::string shown_;
    uint32_t keys_[3] = {0x12345678, 0x23456789, 0x34567890};
    uint64_t next_ = 0; // archive offset of the next raw byte
    std::string in_;    // the decrypted piece in hand
    PlainData plain_;

    // The helper thread's hand-over: decrypted pieces in order, and spare buffers.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> full_;
    std::vector<std::string> spare_;
    bool produced_ = false; // the helper has read all data or failed
    bool stop_ = false;     // the caller gave up
    bool holding_ = false;  // in_ is a piece from the helper, to go back when done
    std::exception_ptr failure_;
    std::thread helper_;
};

} // namespace kx_rar
