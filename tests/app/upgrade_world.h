#pragma once
// A real program folder for the end-to-end tests: the archiver and a package made with it,
// the installed product with its folder and registration in a private registry store, and a
// database of its own on the private server. The window is built on it in the test process;
// the program itself can be copied into it and run as a child process.

#include "tests/app/window_fixture.h"

#include "platform/diagnostics.h"
#include "platform/log_file.h"
#include "platform/odbc/odbc_data_access.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"
#include "product/secretkey.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_database.h"
#include "upgrade/upgrade_run.h"

#include <QPushButton>

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace offline_upgrade {

const std::string kTitle = "朔岱产品离线升级程序";
// The key the scan unscrambles stored passwords of SQL Server and Oracle products with.
const std::string kPasswordKey = "\x0B\x17\x02\x1C\x09\x12\x04\x1E\x0D\x15\x07\x19\x10\x03";
const std::string kNoTable = "<no table>";
const std::string kFolder = "<folder>";

const std::string kScript = "-- sql begin create\r\n"
                            "CREATE TABLE IF NOT EXISTS upgrade_log (id INT AUTO_INCREMENT "
                            "PRIMARY KEY, note VARCHAR(40)) CHARACTER SET utf8mb4\r\n"
                            "-- end sql\r\n"
                            "-- sql begin fill\r\n"
                            "INSERT INTO upgrade_log (note) VALUES ('升级'), ('5.2')\r\n"
                            "-- end sql\r\n";
const std::string kFailingScript = kScript + "-- sql begin broken\r\n"
                                             "INSERT INTO no_such_table VALUES (1)\r\n"
                                             "-- end sql\r\n"
                                             "-- sql begin never\r\n"
                                             "INSERT INTO upgrade_log (note) VALUES ('never')\r\n"
                                             "-- end sql\r\n";

inline std::string Base64(const std::string &bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        text += digits[group >> 18 & 63];
        text += digits[group >> 12 & 63];
        text += i + 1 < bytes.size() ? digits[group >> 6 & 63] : '=';
        text += i + 2 < bytes.size() ? digits[group & 63] : '=';
    }
    return text;
}

// The driver list of the private server, with its driver registered also under the Oracle
// provider's driver name: an Oracle product then opens against the private server, and only
// the Oracle host-address query of the locality rule fails, as on a server that refuses it.
class DriverList {
public:
    DriverList()
    {
        const char *shared = std::getenv("ODBCSYSINI");
        std::ifstream in(std::filesystem::path(shared ? shared : "") / "odbcinst.ini");
        std::string line;
        std::string driver;
        while (std::getline(in, line)) {
            if (line.rfind("Driver=", 0) == 0)
                driver = line;
        }
        if (driver.empty())
            return; // TestDatabaseReady() says what is missing
        folder_.Write("odbcinst.ini",
                      "[MySQL ODBC 5.1 Driver]\n" + driver + "\n\n[MSDAORA.1]\n" + driver + "\n");
        folder_.Write("odbc.ini", "");
        // Readable by every user, as the system's list is: a run as another user lists the
        // drivers too.
        std::filesystem::permissions(folder_.Path(), std::filesystem::perms(0755));
        setenv("ODBCSYSINI", folder_.Path().c_str(), 1);
    }

private:
    TempFolder folder_;
};

// The application files of the installed product and of the package.
struct ProductFiles {
    std::string AppConf;
    std::string Readme;
};
const ProductFiles kOldFiles{"version=5.1\n", "演示 5.1\n"};
const ProductFiles kNewFiles{"version=5.2\n", "演示 5.2\n"};

// What the archive holds below its top folder.
enum class Content {
    Full,       // UpdateSQL.sql and UpdateFiles
    BareFolder, // the top folder alone
    Nothing,    // no entry at all
};

struct PackageRecipe {
    std::string Password = "xr352";
    // The package's build; the product is installed with 5.1.
    std::string Build = "5.2";
    std::string Script = kScript;
    int DbType = 1;
    bool Damaged = false;
    Content Holds = Content::Full;
    // The package file's name when it differs from its top folder's (a renamed download).
    std::string FileName;
    // Made by the package makers' tool, which fills in the descriptor's block count.
    bool ByKxpack = false;
    // Further entries (with KX_Rar.exe a), named from the archive's root: beside the top
    // folder, or inside it ("demo_5.2/..."). A name with "/" makes folders.
    std::vector<std::pair<std::string, std::string>> Extra;
};

// One program folder with the archiver and a package, the installed product with its folder
// and registration, a database of its own, and the window on them. The names of the program
// folder and of the package are bytes, as a copy from another machine leaves them.
class UpgradeWorld {
public:
    explicit UpgradeWorld(std::string database, const std::string &programName = "prog",
                          std::string packageBase = "demo_5.2")
        : database_(std::move(database)), packageBase_(std::move(packageBase))
    {
        EnsureApplication();
        program_ = folder_.Slashed() + programName + "/";
        packageFile_ = program_ + packageBase_ + ".zip";
        std::filesystem::create_directories(program_);
        std::filesystem::copy_file(BinDir() / "KX_Rar.exe", program_ + "KX_Rar.exe");
        folder_.Write("product/bin/app.conf", kOldFiles.AppConf);
        folder_.Write("product/readme.txt", kOldFiles.Readme);
        folder_.Write("product/keep.cfg", "local settings");
        // The program's own log, set up as at its start.
        log_ = OpenUpgradeLog(program_);
        installedLog_.emplace(*log_);
        db_.Exec("DROP DATABASE IF EXISTS " + database_ + "; CREATE DATABASE " + database_ +
                 " CHARACTER SET utf8mb4");
    }

    ~UpgradeWorld()
    {
        try {
            db_.Exec("DROP DATABASE IF EXISTS " + database_);
        } catch (const std::exception &) {
        }
    }

    // Makes the package in the program folder with KX_Rar.exe: the descriptor as the archive
    // comment and one top folder named like the file, holding UpdateSQL.sql and UpdateFiles.
    void MakePackage(const PackageRecipe &recipe)
    {
        if (!recipe.FileName.empty())
            packageFile_ = program_ + recipe.FileName;
        const std::string staging = folder_.Slashed() + "staging/";
        const std::string top = "staging/" + packageBase_ + "/";
        std::filesystem::create_directories(folder_.Path() / top);
        if (recipe.Holds == Content::Full) {
            if (!recipe.Script.empty())
                folder_.Write(top + "UpdateSQL.sql", recipe.Script);
            folder_.Write(top + "UpdateFiles/bin/app.conf", kNewFiles.AppConf);
            folder_.Write(top + "UpdateFiles/readme.txt", kNewFiles.Readme);
            // Bytes that do not compress, so the middle of the archive lies in this file's data.
            std::string library(64 * 1024, '\0');
            uint32_t state = 7;
            for (char &c : library) {
                state = state * 1103515245u + 12345u;
                c = static_cast<char>(state >> 24);
            }
            const std::filesystem::path libraryFile =
                folder_.Write(top + "UpdateFiles/lib/libdemo.so", library);
            // A set-user-ID bit must never reach the product from a package.
            std::filesystem::permissions(libraryFile, std::filesystem::perms(04755));
        }
        folder_.Write("staging/comment.ini",
                      "[CONFIG]\r\ncorp=glenmarsh\r\nSoft=朔岱演示系统\r\nVersion=5\r\n"
                      "Build=" +
                          recipe.Build +
                          "\r\nEndDate=2099-12-31\r\nSQLCount=4\r\n"
                          "PackageName=demo_5.2.zip\r\nDbType=" +
                          std::to_string(recipe.DbType) + "\r\nExeName=demo\r\nRegValue=E2E\r\n");
        std::string command;
        if (recipe.ByKxpack) {
            std::string descriptor = ReadWholeFile(staging + "comment.ini");
            descriptor.erase(descriptor.find("SQLCount=4\r\n"), 12);
            folder_.Write("staging/comment.ini", descriptor);
            command = "'" + (BinDir() / "kxpack").string() + "' make --descriptor '" + staging +
                      "comment.ini' --sql '" + staging + packageBase_ +
                      "/UpdateSQL.sql' --files '" + staging + packageBase_ + "/UpdateFiles' '" +
                      PackageFile() + "' >/dev/null";
        } else if (recipe.Holds == Content::Nothing) {
            const char *source = std::getenv("KX_SOURCE_DIR");
            command = "python3 '" + std::string(source ? source : ".") +
                      "/tests/support/make_zip.py' '" + PackageFile() + "' '" + staging +
                      "comment.ini'";
        } else {
            std::string names = "'" + packageBase_ + "'";
            for (const auto &[name, bytes] : recipe.Extra) {
                folder_.Write("staging/" + name, bytes);
                const std::string first = name.substr(0, name.find('/'));
                if (first != packageBase_ && names.find("'" + first + "'") == std::string::npos)
                    names += " '" + first + "'";
            }
            command = "cd '" + staging + "' && '" + program_ + "KX_Rar.exe' a -y -p" +
                      recipe.Password + " -z'" + staging + "comment.ini' '" + PackageFile() + "' " +
                      names + " >/dev/null";
        }
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::filesystem::remove_all(staging);
        if (recipe.Damaged) {
            std::fstream archive(PackageFile(), std::ios::in | std::ios::out | std::ios::binary);
            const auto size =
                static_cast<std::streamoff>(std::filesystem::file_size(PackageFile()));
            for (std::streamoff at = size / 2; at < size / 2 + 16; ++at) {
                archive.seekg(at);
                const char byte = static_cast<char>(archive.get() ^ 0x5A);
                archive.seekp(at);
                archive.put(byte);
            }
        }
    }

    // The product E2E, build 5.1, registered with its database on serverName.
    void Register(const std::string &serverName, int dbType = 1)
    {
        // MySQL products store the password in Base64, the others scrambled.
        const std::string stored = dbType == 1
                                       ? Base64(kTestDbPassword)
                                       : XorWithKey(XorWithKey(kTestDbPassword, kPasswordKey),
                                                    kSecretKeyPrefix + kPasswordKey);
        folder_.Write("registry.reg",
                      "REGEDIT4\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\E2E\\ClientConfigure]\r\n"
                      "\"Version\"=\"5\"\r\n\"Build\"=\"5.1\"\r\n\"ServerName\"=\"" +
                          serverName + "\"\r\n\"DBaseName\"=\"" + database_ +
                          "\"\r\n\"UserName\"=\"" + kTestDbUser + "\"\r\n\"PassWord\"=\"" + stored +
                          "\"\r\n\r\n" +
                          "[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\E2E\\ApplicationPath]\r\n"
                          "\"Path\"=\"" +
                          ProductFolder() + "/\"\r\n");
    }

    // Builds the window, which scans the program folder; true when it found the package.
    bool Open()
    {
        registry_.emplace(folder_.Slashed() + "registry.reg");
        form_ =
            std::make_unique<TForm1>(FormServices{program_, faults_, processes_, *registry_, host_,
                                                  connection_, query_, command_, RunUpgrade},
                                     messages_);
        form_->FormCreate();
        return form_->Package.PackagePath + form_->Package.PackageName == PackageFile();
    }

    // Presses 升级; every box is answered at once.
    void PressUpgrade() { Control<QPushButton>(*form_, "BtnUpdate").click(); }

    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const RecordedMessage &m : messages_.Messages)
            texts.push_back(m.Text);
        return texts;
    }

    // The notes of upgrade_log in insertion order, joined by ","; kNoTable when there is none.
    std::string Rows()
    {
        if (db_.Number("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = '" +
                       database_ + "' AND table_name = 'upgrade_log'") == 0)
            return kNoTable;
        return db_.Text("SELECT IFNULL(GROUP_CONCAT(note ORDER BY id), '') FROM " + database_ +
                        ".upgrade_log");
    }

    // The two files' bytes; kFolder for a folder in a file's place.
    ProductFiles Files() const
    {
        const auto read = [](const std::string &path) {
            return std::filesystem::is_directory(path) ? kFolder : ReadWholeFile(path);
        };
        return {read(ProductFolder() + "/bin/app.conf"), read(ProductFolder() + "/readme.txt")};
    }

    // The window is back in its package-found state and the connection is closed.
    void ExpectRestored(const std::string &where)
    {
        TForm1 &form = *form_;
        EXPECT_TRUE(Control<QWidget>(form, "BtnUpdate").isEnabled()) << where;
        EXPECT_TRUE(Control<QWidget>(form, "Btn_refresh").isEnabled()) << where;
        EXPECT_TRUE(Control<QWidget>(form, "Lab_CurrentStep").isHidden()) << where;
        EXPECT_TRUE(Control<QWidget>(form, "ProgressBar").isHidden()) << where;
        EXPECT_FALSE(connection_.Connected()) << where;
    }

    // What the upgrade log in the program folder holds.
    std::string Log() const { return ReadWholeFile(program_ + kLogFileName); }
    // Opens the log again, as a new start of the program would; the path it writes to.
    std::string ReopenLog()
    {
        installedLog_.reset();
        log_ = OpenUpgradeLog(program_);
        installedLog_.emplace(*log_);
        return log_->Path();
    }
    // Replaces text in the registry store.
    void EditRegistry(const std::string &from, const std::string &to)
    {
        std::string text = ReadWholeFile(folder_.Path() / "registry.reg");
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        folder_.Write("registry.reg", text);
    }

    std::string ProductFolder() const { return folder_.Slashed() + "product"; }
    std::string PackageFile() const { return packageFile_; }
    std::string ProgramFolder() const { return program_; }
    TForm1 &Form() { return *form_; }
    const std::vector<RecordedMessage> &Messages() const { return messages_.Messages; }
    void ClearMessages() { messages_.Messages.clear(); }
    TempFolder &Folder() { return folder_; }
    // This machine's identity as the window sees it; change it before Open().
    FixedHostIdentity &Host() { return host_; }
    // The window's file system: it passes everything on unless a test asks otherwise.
    FaultyFileSystem &Faults() { return faults_; }
    std::string Journal() const { return program_ + "UpdateFiles.journal"; }

    // The program as a child process: copied into the program folder as an administrator
    // ships it, started there with the private registry store, with neither a display nor a
    // Qt platform, its output in files of the temporary folder named after tag.
    struct ProgramRun {
        int ExitCode = -1; // -1: it did not end normally
        std::string Out;
        std::string Err;
    };
    void PlaceProgram()
    {
        std::filesystem::copy_file(BinDir() / "offline-upgrade", program_ + "offline-upgrade",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    pid_t StartProgram(const std::string &arguments, const std::string &tag)
    {
        const std::string command =
            "cd '" + program_ + "' && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM" +
            " KX_REGISTRY='" + folder_.Slashed() + "registry.reg' ./offline-upgrade " + arguments +
            " >'" + folder_.Slashed() + tag + ".out' 2>'" + folder_.Slashed() + tag + ".err'";
        const char *argv[] = {"sh", "-c", command.c_str(), nullptr};
        pid_t pid = -1;
        if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char **>(argv), environ) !=
            0)
            return -1;
        return pid;
    }
    ProgramRun WaitProgram(pid_t pid, const std::string &tag)
    {
        ProgramRun run;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            run.ExitCode = WEXITSTATUS(status);
        run.Out = ReadWholeFile(folder_.Path() / (tag + ".out"));
        run.Err = ReadWholeFile(folder_.Path() / (tag + ".err"));
        return run;
    }
    ProgramRun RunProgram(const std::string &arguments, const std::string &tag = "run")
    {
        return WaitProgram(StartProgram(arguments, tag), tag);
    }

private:
    std::string database_;
    std::string packageBase_;
    TempFolder folder_;
    std::string program_;
    std::unique_ptr<FileLogSink> log_;
    std::optional<ScopedLogSink> installedLog_;
    std::string packageFile_;
    TestDatabase db_;
    PosixFileSystem files_;
    FaultyFileSystem faults_{files_};
    PosixProcesses processes_;
    std::optional<RegFileRegistry> registry_;
    FixedHostIdentity host_; // TESTPC at 10.0.0.7: "127.0.0.1" is another machine to it
    OdbcConnection connection_;
    OdbcQuery query_{connection_};
    OdbcCommand command_{connection_};
    RecordingPresenter messages_;
    std::unique_ptr<TForm1> form_;
};

} // namespace offline_upgrade
