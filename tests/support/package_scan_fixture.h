#pragma once
// The scan's world for its tables on both systems: a temporary program folder holding the real
// archiver and packages that it made, the system's file system and processes, and products
// registered in the system's registry (test_registrations.h).

#include "package/package_scan.h"
#include "real_services.h"
#include "tests/support/archiver_stand_in.h"
#include "tests/support/log_recorder.h"
#include "tests/support/package_signer.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_registrations.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace offline_upgrade {

class RecordingView : public IScanView {
public:
    void ShowNoPackage() override { Calls.push_back("none"); }
    void ShowPackage(const std::string &product, const std::string &currBuild,
                     const std::string &newBuild, const std::string &path) override
    {
        Calls.push_back("package:" + product + "|" + currBuild + "|" + newBuild + "|" + path);
    }
    std::vector<std::string> Calls;
};

// Real processes; remembers every command line it was asked to start.
class RecordingProcesses : public SystemProcesses {
public:
    bool Start(const std::string &commandLine) override
    {
        Started.push_back(commandLine);
        return SystemProcesses::Start(commandLine);
    }
    std::vector<std::string> Started;
};

// A package's descriptor; RegValue names the product as the test calls it.
struct Descriptor {
    std::string corp = "glenmarsh";
    std::string Soft = "Demo";
    std::string Version = "5";
    std::string Build = "20";
    std::string DbType = "1";
    std::string RegValue = "ABC";
    std::string PackageName;

    // The descriptor's text, with regValue (the product as registered) in RegValue.
    std::string Text(const std::string &regValue) const
    {
        std::string text = "[CONFIG]\r\ncorp=" + corp + "\r\nSoft=" + Soft +
                           "\r\nVersion=" + Version + "\r\nBuild=" + Build +
                           "\r\nSQLCount=3\r\nDbType=" + DbType + "\r\nRegValue=" + regValue +
                           "\r\nExeName=demo\r\n";
        if (!PackageName.empty())
            text += "PackageName=" + PackageName + "\r\n";
        return text;
    }
};

// A descriptor changed from the one that fits.
template <typename Change> Descriptor With(Change change)
{
    Descriptor d;
    change(d);
    return d;
}

// The one line of the log that names the package's verdict; empty when there is none.
inline std::string VerdictOf(const LogRecorder &log, const std::string &name)
{
    std::string found;
    for (const std::string &line : log.Lines) {
        if (line.starts_with("scan: " + name + ": "))
            found += line;
    }
    return found;
}

class PackageScan : public ::testing::Test {
protected:
    using Path = std::filesystem::path;

    void SetUp() override
    {
        program = folder.Slashed();
        std::filesystem::copy_file(Archiver(), folder.Path() / "KX_Rar.exe");
        RegisterProduct("ABC", "5", "20", "c2VjcmV0"); // Base64 of "secret"
        startDir = std::filesystem::current_path();
    }

    void TearDown() override { std::filesystem::current_path(startDir); }

    // The archiver the build made, beside the test programs.
    static Path Archiver()
    {
        return ThisProgram().parent_path().parent_path() / "bin" / "KX_Rar.exe";
    }

    // The product as registered.
    std::string Code(const std::string &code) const { return registrations.Code(code); }

    void RegisterProduct(const std::string &code, const std::string &version,
                         const std::string &build, const std::string &password,
                         const std::string &packageKey = "")
    {
        const std::string config = "ClientConfigure";
        registrations.SetText(code, config, "Version", version);
        registrations.SetText(code, config, "Build", build);
        registrations.SetText(code, config, "ServerName", "localhost");
        registrations.SetText(code, config, "DBaseName", "db");
        registrations.SetText(code, config, "UserName", "kx");
        registrations.SetText(code, config, "PassWord", password);
        if (!packageKey.empty())
            registrations.SetText(code, config, "PackageKey", packageKey);
        registrations.SetText(code, "ApplicationPath", "Path", "/opt/demo");
    }

    // A package file in the program folder, made by the archiver, whose comment holds the
    // given bytes (none when comment is null).
    void MakePackage(const std::string &name, const std::string *comment)
    {
        namespace fs = std::filesystem;
        // The entry's name is its path as given, below the working directory.
        folder.Write("maker/pkg/UpdateFiles/a.txt", "payload");
        std::string command = "\"" + Archiver().string() + "\" a -y";
        if (comment)
            command += " \"-z" + folder.Write("comment.bin", *comment).string() + "\"";
        command += " \"" + program + name + "\" pkg";
        const Path here = fs::current_path();
        fs::current_path(folder.Path() / "maker");
        SystemProcesses maker;
        const bool started = maker.Start(command);
        for (int waited = 0; started && !maker.LastHasEnded() && waited < 60000; waited += 10)
            maker.Sleep(10);
        fs::current_path(here);
        ASSERT_TRUE(started) << command;
        ASSERT_EQ(maker.LastExitCode(), 0) << command << "\n" << maker.LastErrorOutput();
    }
    void MakePackage(const std::string &name, const Descriptor &descriptor)
    {
        const std::string text = descriptor.Text(Code(descriptor.RegValue));
        MakePackage(name, &text);
    }

    void Scan()
    {
        ScanContext context{.ProgramFolder = program,
                            .View = view,
                            .Window = window,
                            .Files = files,
                            .Processes = processes,
                            .Registry = registrations.Registry(),
                            .CommentWaitLimit = commentWaitLimit,
                            .OnlyPackage = onlyPackage};
        FindUpgradePackage(context, Package, Product);
    }

    TempFolder folder;
    TestRegistrations registrations{folder.Path()};
    std::string program;
    Path startDir;
    RecordingView view;
    RecordingWindow window;
    SystemFileSystem files;
    RecordingProcesses processes;
    std::chrono::milliseconds commentWaitLimit = kCommentWaitLimit;
    std::string onlyPackage;
    T_PackageInfo Package;
    T_ProductReg Product;
};

// Signed packages: the signature is checked after the descriptor rules pass, for a product
// that pins keys; a package whose signature does not verify is passed over with the reason.
class SignedScan : public PackageScan {
protected:
    std::string Sign(const TestSigningKey &key, const std::string &name, bool prehashed = true)
    {
        const std::string bytes = ReadWholeFile(folder.Path() / name);
        const std::string text =
            SignBytesForTest(key, bytes, prehashed, "timestamp:1\tfile:" + name);
        folder.Write(name + ".minisig", text);
        return text;
    }
    void Flip(const std::string &name, size_t at)
    {
        std::string bytes = ReadWholeFile(folder.Path() / name);
        bytes[at] = static_cast<char>(bytes[at] ^ 1);
        folder.Write(name, bytes);
    }

    TestSigningKey first = MakeTestSigningKey();
    TestSigningKey second = MakeTestSigningKey();
    TestSigningKey stranger = MakeTestSigningKey();
};

} // namespace offline_upgrade
