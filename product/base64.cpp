#include "product/base64.h"

#include <algorithm>
#include <array>
#include <climits>

namespace offline_upgrade {

namespace {

constexpr unsigned kPad = 255;

constexpr std::array<unsigned char, 256> MakeValues()
{
    std::array<unsigned char, 256> values{}; // outside the alphabet: 0
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
    values['='] = kPad;
    return values;
}

constexpr std::array<unsigned char, 256> kValues = MakeValues();

} // namespace

int DecodeBase64Buffer(const char *Input, unsigned char *Output, int Size)
{
    const int groups = Size / 4;
    if (groups <= 0 || Input == nullptr || Output == nullptr)
        return 0;
    int written = 0;
    for (int g = 0; g < groups; ++g) {
        unsigned t[4];
        for (int k = 0; k < 4; ++k)
            t[k] = kValues[static_cast<unsigned char>(Input[g * 4 + k])];
        Output[written++] = static_cast<unsigned char>((t[0] << 2) | (t[1] >> 4));
        if (t[2] == kPad)
            continue;
        Output[written++] = static_cast<unsigned char>((t[1] << 4) | (t[2] >> 2));
        if (t[3] == kPad)
            continue;
        Output[written++] = static_cast<unsigned char>((t[2] << 6) | t[3]);
    }
    return written;
}

std::string DecodeBase64Text(const std::string &Input)
{
    std::string result(Input.size() / 4 * 3, '\0');
    // Groups decode independently, so a text too long for one int-sized call goes in pieces of
    // whole groups.
    constexpr size_t kPiece = INT_MAX / 4 * 4;
    size_t read = 0;
    size_t written = 0;
    while (Input.size() - read >= 4) {
        const size_t piece = std::min(Input.size() - read, kPiece);
        written += static_cast<size_t>(DecodeBase64Buffer(
            Input.data() + read, reinterpret_cast<unsigned char *>(result.data()) + written,
            static_cast<int>(piece)));
        read += piece / 4 * 4;
    }
    result.resize(written);
    return result;
}

} // namespace offline_upgrade
