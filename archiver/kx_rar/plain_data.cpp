#include "plain_data.h"

#include "rar_error.h"

namespace kx_rar {

namespace {

constexpr size_t kOutBlock = 256 * 1024;

} // namespace

PlainData::PlainData(const ZipEntry &entry, std::string shownName, bool sumCrc, NextPiece next)
    : entry_(entry), shown_(std::move(shownName)), sumCrc_(sumCrc), next_(std::move(next)),
      deflated_(entry.Method == 8)
{
    if (deflated_) {
        if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK)
            throw RarError(ExitCode::Fatal, "out of memory");
        inflateOpen_ = true;
        out_.resize(kOutBlock);
    }
}

PlainData::~PlainData()
{
    if (inflateOpen_)
        inflateEnd(&zs_);
}

void PlainData::Bad(const std::string &shownName, const std::string &why)
{
    throw RarError(ExitCode::WrongPassword,
                   "wrong password or damaged data in " + shownName + ": " + why);
}

bool PlainData::Next(const void *&data, size_t &size)
{
    while (!finished_) {
        if (!deflated_) {
            const unsigned char *bytes = nullptr;
            if (!next_(bytes, size)) {
                finished_ = true;
                break;
            }
            data = bytes;
        } else {
            if (inAt_ == inSize_) {
                if (!next_(in_, inSize_))
                    Bad(shown_, "its deflated data ends early");
                inAt_ = 0;
            }
            zs_.next_in = const_cast<Bytef *>(in_ + inAt_);
            zs_.avail_in = static_cast<uInt>(inSize_ - inAt_);
            zs_.next_out = reinterpret_cast<Bytef *>(out_.data());
            zs_.avail_out = static_cast<uInt>(out_.size());
            const int r = inflate(&zs_, Z_NO_FLUSH);
            inAt_ = inSize_ - zs_.avail_in;
            if (r == Z_STREAM_END)
                finished_ = true;
            else if (r != Z_OK && r != Z_BUF_ERROR)
                Bad(shown_, "its deflated data does not unpack");
            data = out_.data();
            size = out_.size() - zs_.avail_out;
            if (size == 0 && !finished_)
                continue;
        }
        written_ += size;
        if (written_ > entry_.Size)
            Bad(shown_, "more data than stored");
        if (sumCrc_)
            crc_ = static_cast<uint32_t>(
                crc32(crc_, static_cast<const Bytef *>(data), static_cast<uInt>(size)));
        if (size > 0)
            return true;
    }
    if (written_ != entry_.Size)
        Bad(shown_, "less data than stored");
    return false;
}

} // namespace kx_rar
