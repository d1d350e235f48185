#pragma once
// One start of the program, whichever face it has (the Qt window, the Win32 window, the
// unattended run): the program folder's lock, then the system's services and the data access
// on them, handed back with named fields. How a refused start shows (a box, a line and an exit
// code) is each face's; whether it is refused is decided here, once.

#include "app/form/form_logic.h"
#include "platform/odbc/odbc_data_access.h"
#include "platform/program_folder_lock.h"
#include "platform/system_services.h"

#include <memory>
#include <string>

namespace offline_upgrade {

// The face starting: they differ in the one rule of a lock that cannot be taken.
enum class StartFace { Window, Unattended };

// What one start works with, for as long as its face runs. Not movable: the query and the
// command are bound to the connection.
class StartedServices {
public:
    StartedServices(std::string programFolder, ProgramFolderLock lock);
    StartedServices(const StartedServices &) = delete;
    StartedServices &operator=(const StartedServices &) = delete;

    // The logic's services on these, the upgrade run being the stages' RunUpgrade.
    FormServices Form();

    const std::string ProgramFolder; // with a trailing separator
    // Held (or, for a window, failed and logged) until the face ends.
    const ProgramFolderLock Lock;
    SystemServices System;
    OdbcConnection Connection;
    OdbcQuery Query{Connection};
    OdbcCommand Command{Connection};
};

struct StartUp {
    enum class Outcome {
        Started,     // Services is set
        FolderBusy,  // another run holds the program folder (exit code 4)
        CannotStart, // the lock cannot be taken and the face may not go on without it (3)
    };
    Outcome Result = Outcome::CannotStart;
    // For a refusal: the lock file and why, as the log has it.
    std::string Reason;
    std::unique_ptr<StartedServices> Services;
};

// Takes the program folder's lock (programFolder with a trailing separator) and makes the
// services. Another run holding the lock refuses every face. A lock that cannot be taken at
// all (a folder that cannot be written) refuses the unattended run, whose engine must not run
// two at once unawares; the window goes on with a warning in the log and fails at the scan as
// it always did. Each outcome is logged. Throws what making the services throws.
StartUp StartIn(const std::string &programFolder, StartFace face);

} // namespace offline_upgrade
