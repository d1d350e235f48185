#include "product/secretkey.h"

namespace offline_upgrade {

static_assert(sizeof kSecretKeyPrefix == 3 && kSecretKeyPrefix[0] >= '0' &&
                  kSecretKeyPrefix[0] <= '9' && kSecretKeyPrefix[1] >= '0' &&
                  kSecretKeyPrefix[1] <= '9',
              "the key prefix is two ASCII digits");

std::string XorWithKey(const std::string &Data, const std::string &Key)
{
    std::string result = Data;
    const size_t length = Key.size();
    bool forward = true;
    unsigned char fallback = 30;
    for (size_t i = 1; i <= result.size(); ++i) {
        const size_t m = i % (length + 1);
        unsigned char mask;
        if (m == 0) {
            forward = !forward;
            mask = fallback;
            fallback = fallback == 2 ? 30 : static_cast<unsigned char>(fallback - 2);
        } else {
            mask = static_cast<unsigned char>(forward ? Key[m - 1] : Key[length - m]);
        }
        result[i - 1] = static_cast<char>(static_cast<unsigned char>(result[i - 1]) ^ mask);
    }
    return result;
}

std::string UnscramblePassword(const std::string &Stored, const std::string &Key)
{
    return XorWithKey(XorWithKey(Stored, kSecretKeyPrefix + Key), Key);
}

} // namespace offline_upgrade
