#include "tests/support/test_registrations.h"

#include "platform/posix/registry_posix.h"

#include <fstream>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

namespace offline_upgrade {

namespace {

bool IsText(uint32_t type)
{
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// UTF-8 text as UTF-16LE bytes; zero bytes stay.
std::string Utf16Le(const std::string &text)
{
    std::string out;
    auto put = [&out](uint32_t unit) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    };
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? c : c & (0x3F >> (length - 1));
        for (int k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 | (code >> 10));
            put(0xDC00 | (code & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

std::string HexList(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ',';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Quoted(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

// The store as the registry editor exports it (UTF-16LE, CR LF), written anew on each change.
struct TestRegistrations::State {
    explicit State(const std::filesystem::path &folder)
        : path(folder / "registry.reg"), registry(path.string())
    {
    }
    void Write() const
    {
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
        for (const auto &[key, lines] : keys) {
            text += "[HKEY_LOCAL_MACHINE\\" + key + "]\r\n";
            for (const std::string &line : lines)
                text += line + "\r\n";
            text += "\r\n";
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "\xFF\xFE" << Utf16Le(text);
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }
    std::vector<std::string> &Lines(const std::string &key)
    {
        for (auto &[name, lines] : keys)
            if (name == key)
                return lines;
        return keys.emplace_back(key, std::vector<std::string>{}).second;
    }

    std::filesystem::path path;
    RegFileRegistry registry;
    std::vector<std::pair<std::string, std::vector<std::string>>> keys; // in the file's order
};

TestRegistrations::TestRegistrations(const std::filesystem::path &folder)
    : state_(std::make_unique<State>(folder))
{
}

TestRegistrations::~TestRegistrations() = default;

std::string TestRegistrations::Code(const std::string &code) const
{
    return code;
}

void TestRegistrations::Set(const std::string &code, const std::string &key,
                            const std::string &name, uint32_t type, const std::string &data)
{
    std::string line = Quoted(name) + "=";
    if (type == kRegSz && data.find('\0') == std::string::npos &&
        data.find_first_of("\r\n") == std::string::npos && !data.empty())
        line += Quoted(data);
    else if (IsText(type))
        line += "hex(" + std::to_string(type) +
                "):" + HexList(data.empty() ? std::string() : Utf16Le(data + '\0'));
    else
        line += "hex(" + std::to_string(type) + "):" + HexList(data);
    // A value set again is replaced where it stands.
    const std::string start = Quoted(name) + "=";
    std::vector<std::string> &lines = state_->Lines("Software\\vazerodu\\" + code + "\\" + key);
    bool replaced = false;
    for (std::string &old : lines)
        if (old.starts_with(start))
            old = line, replaced = true;
    if (!replaced)
        lines.push_back(line);
    state_->Write();
}

void TestRegistrations::CreateKey(const std::string &code, const std::string &key)
{
    state_->Lines("Software\\vazerodu\\" + code + "\\" + key);
    state_->Write();
}

bool TestRegistrations::KeyExists(const std::string &code, const std::string &key)
{
    RegKey handle = kNoRegKey;
    const bool exists =
        state_->registry.OpenKey("Software\\vazerodu\\" + code + "\\" + key, handle);
    state_->registry.CloseKey(handle);
    return exists;
}

void TestRegistrations::Clear()
{
    state_->keys.clear();
    state_->Write();
}

IRegistry &TestRegistrations::Registry()
{
    return state_->registry;
}

} // namespace offline_upgrade
