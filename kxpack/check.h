#pragma once
// kxpack check: a package read as the tool reads it, with every rule the tool applies to it.

#include "kxpack/package_reader.h"
#include "kxpack/report.h"
#include "platform/file_system.h"
#include "platform/odbc/odbc_drivers.h"
#include "platform/registry.h"
#include "platform/system_services.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kxpack {

struct KxpackServices {
    offline_upgrade::IFileSystem &Files;
    std::string Archiver; // the path of KX_Rar.exe
    // A registry on a store file (the scan's view of another machine's registration).
    std::function<std::unique_ptr<offline_upgrade::IRegistry>(const std::string &store)>
        RegistryFromStore;
    // This machine's registration, as the tool reads it (--registry without a store).
    std::function<offline_upgrade::MachineRegistration()> Machine;
    // This machine's ODBC drivers, as the tool finds them (--registry without a store).
    std::function<offline_upgrade::OdbcDriverLists()> Drivers;
};

struct CheckOptions {
    std::string Package{};
    std::optional<std::string> RegistryStore{}; // --registry STORE
    bool ThisMachine = false;                   // --registry alone
    std::optional<std::string> KeyFile{};       // --key PUBLIC_KEY: a minisign public key file
};

enum class CheckOutcome {
    Clean,      // no error (exit 0)
    Errors,     // errors found (exit 1)
    Unreadable, // the package cannot be read at all (exit 2)
};

// Reads the package into scratch (a program folder of its own) and checks the descriptor, the
// archive, the script, the application files and, with a registry store, the scan's verdict;
// with this machine's registration also the ODBC driver the product's database kind would use.
// The signature beside the package is verified with the key of KeyFile, and with the keys of
// the product's PackageKey when the registry is read and holds one: a missing or bad signature
// is an error.
CheckOutcome CheckPackage(const KxpackServices &services, const CheckOptions &options,
                          const std::string &scratch, Report &report);

} // namespace kxpack
