#pragma once
// A package read as the tool reads it: the archiver's comment command writes the descriptor
// and its extract command unpacks the package, both into a scratch folder laid out like a
// program folder ("TempUpdate/Update.ini", "TempUpdate/<name>/...").

#include "platform/file_system.h"

#include <optional>
#include <string>
#include <vector>

namespace kxpack {

// A folder of its own under the system's temporary folder, removed with its content when the
// object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(offline_upgrade::IFileSystem &files);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;
    // With a trailing "/".
    const std::string &Path() const { return path_; }

private:
    offline_upgrade::IFileSystem &files_;
    std::string path_;
};

struct ArchiverRun {
    bool Started = false;
    std::optional<int> ExitCode;       // nothing: killed, or not started
    std::vector<std::string> Messages; // its lines on standard output and error
    bool Succeeded() const { return ExitCode && *ExitCode == 0; }
    std::string Describe() const; // "exit 2", "killed" or "not started"
};

// The archiver's two commands on one package.
struct PackageRead {
    std::string PackageFile;    // as given
    std::string FileName;       // without folder
    std::string ProgramFolder;  // the scratch folder, with "/"
    std::string DescriptorPath; // written as "TempUpdate/Update.ini", then kept apart
    ArchiverRun Comment;
    std::string CommentBytes; // the descriptor file's bytes after the comment command
    bool CommentWritten = false;
    ArchiverRun Extract;
    bool Extracted = false;     // the extract command ran
    std::string UnpackedFolder; // where the run looks: empty when the name leaves no folder
};

// Runs the comment command for packageFile (the scan's "cw -y"), and, when unpack is set, the
// extract command with the package password (the run's "x -y -pxr352") into
// ProgramFolder + "TempUpdate". archiver is the path of KX_Rar.exe.
PackageRead ReadPackage(const std::string &archiver, const std::string &packageFile,
                        const std::string &programFolder, bool unpack);

// The bytes of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string &path);

} // namespace kxpack
