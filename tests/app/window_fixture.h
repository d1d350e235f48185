#pragma once
// What the window tests share: a Qt application on the offscreen platform, a message box
// presenter that records instead of blocking, a fixed host identity, and a window built on a
// temporary program folder with the real scan behind it.

#include "app/message_box.h"
#include "app/u_main.h"
#include "platform/host_identity.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

#include <QApplication>
#include <QWidget>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace offline_upgrade {

// The one application of a test program; made on first use and kept to the end.
inline void EnsureApplication()
{
    if (QApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "window-test";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Records each box and returns at once, as if the user had pressed OK.
class RecordingPresenter : public IMessagePresenter {
public:
    void Show(QWidget *, const std::string &text, const std::string &caption,
              MessageIcon icon) override
    {
        Messages.push_back({text, caption, icon});
        if (OnShow)
            OnShow();
    }

    std::vector<RecordedMessage> Messages;
    // Runs while the box would be open, as event handlers can.
    std::function<void()> OnShow;
};

class FixedHostIdentity : public IHostIdentity {
public:
    // What the host name resolves to: LocalIP is the last of them (10.0.0.7).
    std::vector<Ipv4Address> Resolved = {{127, 0, 1, 1}, {10, 0, 0, 7}};

    bool HostName(std::string &name) override
    {
        name = "testhost";
        return true;
    }
    bool ResolveIPv4(const std::string &, std::vector<Ipv4Address> &addresses) override
    {
        addresses = Resolved;
        return !addresses.empty();
    }
    bool InterfaceIPv4(std::vector<Ipv4Address> &addresses) override
    {
        addresses = {{10, 0, 0, 7}};
        return true;
    }
    bool ComputerName(std::string &name) override
    {
        name = "TESTPC";
        return true;
    }
};

// A control of the window by its object name; throws (a test failure) when there is none.
template <typename T> T &Control(QWidget &window, const char *name)
{
    T *control = window.findChild<T *>(QString::fromLatin1(name));
    if (!control)
        throw std::runtime_error(std::string("no control ") + name);
    return *control;
}

// A window on an empty temporary program folder, with a private registry store.
class WindowFixture {
public:
    WindowFixture() : files(realFiles), registry(folder.Slashed() + "registry.reg")
    {
        EnsureApplication();
    }

    // Builds the window; the runner stands in for the upgrade run.
    TForm1 &Make(UpgradeRunner runner = {}, std::string programFolder = {})
    {
        if (programFolder.empty())
            programFolder = folder.Slashed();
        form =
            std::make_unique<TForm1>(FormServices{programFolder, files, processes, registry, host,
                                                  connection, query, command, std::move(runner)},
                                     messages);
        return *form;
    }

    TempFolder folder;
    PosixFileSystem realFiles;
    FaultyFileSystem files; // records the listings, so a scan can be seen
    PosixProcesses processes;
    RegFileRegistry registry;
    FixedHostIdentity host;
    FakeConnection connection;
    FakeQuery query;
    FakeCommand command;
    RecordingPresenter messages;
    std::unique_ptr<TForm1> form;
};

} // namespace offline_upgrade
