// Code page conversion for POSIX: the system code page is UTF-8, so text from Windows makers
// (code page 936, read as its superset GB18030) is converted with the C library's iconv.

#include "platform/codepage.h"

#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
const char kEuro[] = "\xE2\x82\xAC";        // U+20AC

class Converter {
public:
    Converter() : cd_(::iconv_open("UTF-8", "GB18030")) {}
    ~Converter()
    {
        if (ok())
            ::iconv_close(cd_);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

std::string ToSystemText(const std::string &bytes)
{
    if (IsValidUtf8(bytes))
        return bytes;
    return Gb18030ToSystemText(bytes);
}

std::string Gb18030ToSystemText(const std::string &bytes)
{
    Converter converter;
    if (!converter.ok())
        return bytes;

    std::string out;
    out.reserve(bytes.size() * 3 / 2 + 16);
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = bytes.size();
    char buffer[4096];
    while (inLeft > 0) {
        char *dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = ::iconv(converter.get(), &in, &inLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (rc != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (cut-off sequence at the end): the byte starts nothing valid. Code
        // page 936 has the euro sign at 0x80, which GB18030 leaves unassigned; anything else
        // becomes the replacement character and the conversion goes on with the next byte.
        out += static_cast<unsigned char>(*in) == 0x80 ? kEuro : kReplacement;
        ++in;
        --inLeft;
        ::iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}
