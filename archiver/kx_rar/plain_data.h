#pragma once
// The plain data of one encrypted entry, out of its decrypted pieces: inflated when the entry
// is deflated, counted against its stored size and, where asked, summed for its checksum. The
// readers of both ciphers hand their pieces to it.

#include "zip_layout.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kx_rar {

class PlainData {
public:
    // The next decrypted piece of the stored data, valid until the next call; false at its end.
    using NextPiece = std::function<bool(const unsigned char *&bytes, size_t &size)>;

    // entry's method is stored or deflate. Throws RarError (ExitCode::Fatal) when the inflater
    // cannot start.
    PlainData(const ZipEntry &entry, std::string shownName, bool sumCrc, NextPiece next);
    ~PlainData();
    PlainData(const PlainData &) = delete;
    PlainData &operator=(const PlainData &) = delete;

    // The next piece of plain data, valid until the next call; false after the last one, once
    // the size has been checked. Throws RarError (ExitCode::WrongPassword, which is what data
    // decrypted with a wrong key looks like) for data that does not inflate or whose size does
    // not match.
    bool Next(const void *&data, size_t &size);
    // The checksum of the plain data handed out so far (when summed).
    uint32_t Crc() const { return crc_; }

    // "wrong password or damaged data in <shownName>: <why>", thrown.
    [[noreturn]] static void Bad(const std::string &shownName, const std::string &why);

private:
    const ZipEntry &entry_;
    std::string shown_;
    bool sumCrc_;
    NextPiece next_;
    bool deflated_;
    bool inflateOpen_ = false;
    bool finished_ = false;
    z_stream zs_{};
    const unsigned char *in_ = nullptr;
    size_t inSize_ = 0;
    size_t inAt_ = 0;
    std::string out_;
    uint64_t written_ = 0;
    uint32_t crc_ = 0;
};

} // namespace kx_rar
