#include "kxpack/package_reader.h"

#include "archiver/archiver_commands.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "platform/program_run.h"
#include "upgrade/upgrade_context.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace kxpack {

using offline_upgrade::IFileSystem;
using offline_upgrade::kPackagePassword;
using offline_upgrade::KxError;
using offline_upgrade::NativePath;
using offline_upgrade::PathText;
using offline_upgrade::ProgramOutcome;
using offline_upgrade::RunProgramToEnd;
using offline_upgrade::UnpackedPackageFolder;

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(IFileSystem &files) : files_(files)
{
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("kxpack-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = PathText(candidate) + "/";
            return;
        }
    }
    throw KxError("cannot make a scratch folder in " + PathText(base));
}

ScratchFolder::~ScratchFolder()
{
    (void)files_.RemoveTree(path_);
}

std::string ArchiverRun::Describe() const
{
    if (!Started)
        return "not started";
    if (!ExitCode)
        return "killed";
    return "exit " + std::to_string(*ExitCode);
}

std::string ReadFileBytes(const std::string &path)
{
    std::ifstream in(NativePath(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

namespace {

ArchiverRun RunArchiver(const std::vector<std::string> &arguments)
{
    const ProgramOutcome outcome = RunProgramToEnd(arguments);
    ArchiverRun run;
    run.Started = outcome.Started;
    run.ExitCode = outcome.ExitCode;
    std::istringstream lines(outcome.Messages);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty())
            run.Messages.push_back(line);
    }
    return run;
}

} // namespace

PackageRead ReadPackage(const std::string &archiver, const std::string &packageFile,
                        const std::string &programFolder, bool unpack)
{
    PackageRead read;
    read.PackageFile = packageFile;
    read.FileName = PathText(NativePath(packageFile).filename());
    read.ProgramFolder = programFolder;
    const std::string work = programFolder + "TempUpdate";
    read.DescriptorPath = work + "/Update.ini";
    fs::create_directories(NativePath(work));

    read.Comment = RunArchiver({archiver, "cw", "-y", packageFile, read.DescriptorPath});
    read.CommentWritten = fs::is_regular_file(NativePath(read.DescriptorPath));
    if (read.CommentWritten) {
        read.CommentBytes = ReadFileBytes(read.DescriptorPath);
        // The scan reads the descriptor before anything is unpacked; an entry of the same
        // name must not take its place here.
        const std::string kept = programFolder + "descriptor/Update.ini";
        fs::create_directories(NativePath(programFolder + "descriptor"));
        fs::rename(NativePath(read.DescriptorPath), NativePath(kept));
        read.DescriptorPath = kept;
    }
    read.UnpackedFolder = UnpackedPackageFolder(programFolder, read.FileName);
    if (unpack && read.Comment.Succeeded()) {
        read.Extracted = true;
        read.Extract =
            RunArchiver({archiver, "x", "-y", "-p" + kPackagePassword, packageFile, work});
    }
    return read;
}

} // namespace kxpack
