#pragma once
// Product registrations a test writes where the system's registry service reads them: on POSIX
// a private store file in the test's folder, read by the store registry; on Windows the machine
// registry in its 32-bit view, where the products' 32-bit installers write, under product codes
// made unique to this process (test programs share one registry), removed again at the end.

#include "platform/registry.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace offline_upgrade {

class TestRegistrations {
public:
    // folder: where the store file lies on POSIX (as "registry.reg"); it outlives this object.
    explicit TestRegistrations(const std::filesystem::path &folder);
    ~TestRegistrations();
    TestRegistrations(const TestRegistrations &) = delete;
    TestRegistrations &operator=(const TestRegistrations &) = delete;

    // The code under which the product a test calls code is registered: code itself on POSIX,
    // code and this process's id on Windows.
    std::string Code(const std::string &code) const;
    // Every product is named by the code the test calls it; Code tells what it is registered as.
    // Sets the value name of the product's key (below "Software\vazerodu\CODE", e.g.
    // "ClientConfigure"), creating the key. The text types (kRegSz, kRegExpandSz, kRegMultiSz)
    // take UTF-8 text, zero bytes included, stored as the system stores text and, unless
    // empty, with a terminating zero as the registry editor writes it; the other types are
    // stored as the bytes given.
    void Set(const std::string &code, const std::string &key, const std::string &name,
             uint32_t type, const std::string &data);
    void SetText(const std::string &code, const std::string &key, const std::string &name,
                 const std::string &text)
    {
        Set(code, key, name, kRegSz, text);
    }
    // The product's key without values.
    void CreateKey(const std::string &code, const std::string &key);
    // True when the product's key exists.
    bool KeyExists(const std::string &code, const std::string &key);
    // Removes every product this object named so far (on Windows again at the end).
    void Clear();

    // The system's registry service, reading these registrations.
    IRegistry &Registry();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace offline_upgrade
