#include "product/product_reg.h"

#include "platform/error.h"
#include "platform/registry.h"

#include <string_view>
#include <utility>

namespace offline_upgrade {

namespace {

const char kPlaceholder[] = "kx_product_code";
const char kClientConfigureTemplate[] = "\\Software\\vazerodu\\kx_product_code\\ClientConfigure";
const char kApplicationPathTemplate[] = "\\Software\\vazerodu\\kx_product_code\\ApplicationPath";

// Every occurrence of the placeholder, left to right; text put in is not searched again, so
// a product code that holds the placeholder itself does not loop.
std::string ReplaceAll(const std::string &text, std::string_view from, const std::string &to)
{
    std::string out;
    size_t start = 0;
    for (size_t hit; (hit = text.find(from, start)) != std::string::npos; start = hit + from.size())
        out.append(text, start, hit - start).append(to);
    return out.append(text, start);
}

// Puts the product code into the key variables and the templates back when the read ends,
// whichever way it ends.
class KeySubstitution {
public:
    explicit KeySubstitution(const std::string &productCode)
    {
        ClientConfigureKey = ReplaceAll(ClientConfigureKey, kPlaceholder, productCode);
        ApplicationPathKey = ReplaceAll(ApplicationPathKey, kPlaceholder, productCode);
    }
    ~KeySubstitution()
    {
        ClientConfigureKey = kClientConfigureTemplate;
        ApplicationPathKey = kApplicationPathTemplate;
    }
    KeySubstitution(const KeySubstitution &) = delete;
    KeySubstitution &operator=(const KeySubstitution &) = delete;
};

// A registry accessor on the local machine root with full access. It holds at most one open
// key and closes it when another is opened and when it goes out of scope.
class RegistryAccessor {
public:
    explicit RegistryAccessor(IRegistry &registry) : registry_(registry) {}
    ~RegistryAccessor() { Close(); }
    RegistryAccessor(const RegistryAccessor &) = delete;
    RegistryAccessor &operator=(const RegistryAccessor &) = delete;

    // path is absolute ("\a\b"): it is opened from the root without its leading backslash.
    bool Open(const std::string &path, bool create)
    {
        Close();
        const std::string subKey = path.starts_with('\\') ? path.substr(1) : path;
        return create ? registry_.CreateKey(subKey, key_) : registry_.OpenKey(subKey, key_);
    }

    // A string value of the open key; empty when it is missing or has no data.
    std::string ReadString(const std::string &name)
    {
        uint32_t type = kRegNone;
        uint32_t size = 0;
        if (!registry_.QueryValueInfo(key_, name, type, size) || size == 0)
            return std::string();
        std::string data;
        if (!registry_.QueryValueData(key_, name, size, type, data))
            throw KxError("Failed to get data for '" + name + "'");
        // Expandable strings are taken as stored: environment references stay unexpanded.
        if (type != kRegSz && type != kRegExpandSz)
            throw KxError("Invalid data type for '" + name + "'");
        return data.substr(0, data.find('\0'));
    }

private:
    void Close()
    {
        if (key_ != kNoRegKey)
            registry_.CloseKey(std::exchange(key_, kNoRegKey));
    }

    IRegistry &registry_;
    RegKey key_ = kNoRegKey;
};

} // namespace

std::string ClientConfigureKey = kClientConfigureTemplate;
std::string ApplicationPathKey = kApplicationPathTemplate;

void ReadProductReg(IRegistry &registry, const std::string &productCode, T_ProductReg &result)
{
    result = T_ProductReg{};
    RegistryAccessor accessor(registry);
    const KeySubstitution substitution(productCode);

    if (accessor.Open(ClientConfigureKey, false)) {
        result.ProductCode = productCode;
        result.Version = accessor.ReadString("Version");
        result.Build = accessor.ReadString("Build");
        result.ServerName = accessor.ReadString("ServerName");
        result.DBaseName = accessor.ReadString("DBaseName");
        result.UserName = accessor.ReadString("UserName");
        result.PassWord = accessor.ReadString("PassWord");
        result.PackageKey = accessor.ReadString("PackageKey");
    }
    if (accessor.Open(ApplicationPathKey, true))
        result.Path = accessor.ReadString("Path");
}

} // namespace offline_upgrade
