#include "kxpack/kxpack.h"

#include "kxpack/sign.h"
#include "platform/console.h"

#include "archiver/archiver_commands.h"
#include "package/package_info.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/ini_file.h"
#include "platform/native_path.h"
#include "platform/program_run.h"
#include "platform/text.h"
#include "upgrade/script_blocks.h"
#include "upgrade/update_tree.h"

#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

namespace kxpack {

using offline_upgrade::EnvironmentText;
using offline_upgrade::EqualsIgnoreAsciiCase;
using offline_upgrade::FolderEntry;
using offline_upgrade::FormatMinisignSignature;
using offline_upgrade::HashFile;
using offline_upgrade::IFileSystem;
using offline_upgrade::ILogSink;
using offline_upgrade::IsDotEntry;
using offline_upgrade::IsTreeFolder;
using offline_upgrade::JoinTreePath;
using offline_upgrade::kArchiverImageName;
using offline_upgrade::kDescriptorSection;
using offline_upgrade::KeyIdText;
using offline_upgrade::kPackagePassword;
using offline_upgrade::kSignatureSuffix;
using offline_upgrade::kUpdateFilesFolderName;
using offline_upgrade::kUpgradeScriptFileName;
using offline_upgrade::ListedFolder;
using offline_upgrade::ListTree;
using offline_upgrade::LogLevel;
using offline_upgrade::MinisignSignature;
using offline_upgrade::NativePath;
using offline_upgrade::ParseDescriptorInteger;
using offline_upgrade::PathText;
using offline_upgrade::ProgramOutcome;
using offline_upgrade::ReadDescriptorValue;
using offline_upgrade::ReadIniKeys;
using offline_upgrade::ReadPackageDescriptor;
using offline_upgrade::ReadSecretFromTerminal;
using offline_upgrade::RunProgramToEnd;
using offline_upgrade::ScopedLogSink;
using offline_upgrade::ScriptCutter;
using offline_upgrade::ScriptPiece;
using offline_upgrade::T_PackageInfo;
using offline_upgrade::TrimControl;

namespace fs = std::filesystem;

namespace {

// The file system's reasons for a failure, for kxpack's error output: it keeps no log.
class LineCollector : public ILogSink {
public:
    void Write(LogLevel, std::string_view line) override
    {
        Text += line;
        Text += '\n';
    }
    std::string Text;
};

struct Arguments {
    std::string Command;
    std::vector<std::string> Names;
    bool Json = false;
    bool ThisMachine = false; // --registry without a store
    std::optional<std::string> Registry, Product, Descriptor, Sql, Files, Key, SignKey;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Arguments Parse(const std::vector<std::string> &args)
{
    if (args.empty())
        throw UsageError("no command");
    Arguments parsed;
    parsed.Command = args[0];
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &a = args[i];
        const auto value = [&](std::optional<std::string> &slot) {
            if (i + 1 >= args.size() || slot)
                throw UsageError(a + " needs one value");
            slot = args[++i];
        };
        if (a == "--json")
            parsed.Json = true;
        else if (a == "--registry") {
            // Without a store (last, or before another option): this machine's registration.
            if (parsed.Registry || parsed.ThisMachine)
                throw UsageError(a + " given twice");
            if (i + 1 < args.size() && !args[i + 1].starts_with("--"))
                parsed.Registry = args[++i];
            else
                parsed.ThisMachine = true;
        } else if (a == "--product")
            value(parsed.Product);
        else if (a == "--descriptor")
            value(parsed.Descriptor);
        else if (a == "--sql")
            value(parsed.Sql);
        else if (a == "--files")
            value(parsed.Files);
        else if (a == "--key")
            value(parsed.Key);
        else if (a == "--sign-key")
            value(parsed.SignKey);
        else if (a.starts_with("--"))
            throw UsageError("unknown option " + a);
        else
            parsed.Names.push_back(a);
    }
    const auto allow = [&](bool ok) {
        if (!ok)
            throw UsageError("an option that " + parsed.Command + " does not take");
    };
    const bool signing = parsed.Key || parsed.SignKey;
    if (parsed.Command == "check")
        allow(!parsed.Product && !parsed.Descriptor && !parsed.Sql && !parsed.Files &&
              !parsed.SignKey);
    else if (parsed.Command == "blocks")
        allow(!parsed.Registry && !parsed.ThisMachine && !parsed.Product && !parsed.Descriptor &&
              !parsed.Sql && !parsed.Files && !signing);
    else if (parsed.Command == "files")
        allow(!parsed.Registry && !parsed.ThisMachine && !parsed.Descriptor && !parsed.Sql &&
              !parsed.Files && !signing);
    else if (parsed.Command == "make")
        allow(parsed.Descriptor && !parsed.Registry && !parsed.ThisMachine && !parsed.Product &&
              !parsed.Json && !parsed.Key);
    else if (parsed.Command == "sign")
        allow(parsed.Key && !parsed.Registry && !parsed.ThisMachine && !parsed.Product &&
              !parsed.Descriptor && !parsed.Sql && !parsed.Files && !parsed.SignKey &&
              !parsed.Json);
    else
        throw UsageError("unknown command " + parsed.Command);
    if (parsed.Names.size() != 1)
        throw UsageError(parsed.Command + " takes one package file");
    return parsed;
}

int CheckCommand(const KxpackServices &services, const Arguments &args, std::ostream &out)
{
    ScratchFolder scratch(services.Files);
    Report report;
    const CheckOutcome outcome =
        CheckPackage(services, {args.Names[0], args.Registry, args.ThisMachine, args.Key},
                     scratch.Path(), report);
    if (args.Json)
        WriteJson(out, report.ToJson());
    else
        report.WriteText(out);
    switch (outcome) {
    case CheckOutcome::Clean:
        return kPackClean;
    case CheckOutcome::Errors:
        return kPackErrors;
    case CheckOutcome::Unreadable:
        return kPackUnreadable;
    }
    return kPackErrors;
}

// Unpacks the package as the run does; false (with the reason on err) when it does not
// unpack into its own folder.
bool Unpack(const KxpackServices &services, const std::string &package, const std::string &scratch,
            PackageRead &read, std::ostream &err)
{
    if (!fs::is_regular_file(NativePath(package))) {
        err << "kxpack: " << package << ": no such file\n";
        return false;
    }
    read = ReadPackage(services.Archiver, package, scratch, true);
    const ArchiverRun &failed = !read.Comment.Succeeded() ? read.Comment : read.Extract;
    if (!read.Comment.Succeeded() || !read.Extract.Succeeded()) {
        err << "kxpack: " << package << ": the archiver fails (" << failed.Describe() << ")\n";
        for (const std::string &m : failed.Messages)
            err << "  " << m << "\n";
        return false;
    }
    if (read.UnpackedFolder.empty() || !services.Files.DirectoryExists(read.UnpackedFolder)) {
        err << "kxpack: " << package
            << ": no top folder named after the file; the run finds nothing\n";
        return false;
    }
    return true;
}

int BlocksCommand(const KxpackServices &services, const Arguments &args, std::ostream &out,
                  std::ostream &err)
{
    ScratchFolder scratch(services.Files);
    PackageRead read;
    if (!Unpack(services, args.Names[0], scratch.Path(), read, err))
        return kPackUnreadable;
    const std::string script = read.UnpackedFolder + "/" + kUpgradeScriptFileName;
    nlohmann::json blocks = nlohmann::json::array();
    nlohmann::json dropped = nlohmann::json::array();
    std::ostringstream text;
    if (!services.Files.FileExists(script)) {
        text << "no " << kUpgradeScriptFileName << ": no block runs\n";
    } else {
        try {
            ScriptCutter cutter(script);
            ScriptPiece piece;
            int index = 0;
            while (cutter.Next(piece)) {
                if (piece.What == ScriptPiece::Kind::End) {
                    ++index;
                    const int first = piece.BeginLine ? piece.BeginLine : piece.Line;
                    blocks.push_back({{"index", index},
                                      {"name", piece.Name},
                                      {"firstLine", first},
                                      {"lastLine", piece.Line},
                                      {"command", piece.Command}});
                    text << "block " << index << " " << Quoted(piece.Name) << ", lines " << first
                         << "-" << piece.Line << ":\n";
                    std::istringstream lines(piece.Command);
                    std::string line;
                    while (std::getline(lines, line)) {
                        if (!line.empty() && line.back() == '\r')
                            line.pop_back();
                        text << "    " << line << "\n";
                    }
                } else if (piece.What == ScriptPiece::Kind::Dropped) {
                    dropped.push_back({{"name", piece.Name},
                                       {"beginLine", piece.BeginLine},
                                       {"firstLine", piece.Line},
                                       {"lastLine", piece.LastLine}});
                    text << "(never run: "
                         << (piece.BeginLine ? "block " + Quoted(piece.Name) + " without end marker"
                                             : std::string("lines outside any block"));
                    if (piece.Line)
                        text << ", lines " << piece.Line << "-" << piece.LastLine;
                    text << ")\n";
                }
            }
        } catch (const std::exception &e) {
            err << "kxpack: " << kUpgradeScriptFileName << " cannot be read: " << e.what() << "\n";
            return kPackUnreadable;
        }
    }
    if (args.Json)
        WriteJson(out, {{"package", args.Names[0]}, {"blocks", blocks}, {"dropped", dropped}});
    else
        out << text.str();
    return kPackClean;
}

struct FileRow {
    std::string Path; // below UpdateFiles
    uint64_t Size;
    std::string Status; // "file", "new", "replaced", "blocked: ..."
};

void CollectFiles(IFileSystem &files, const ListedFolder &folder, const std::string &relative,
                  const std::optional<std::string> &product, std::vector<FileRow> &rows)
{
    size_t next = 0;
    for (const FolderEntry &entry : folder.Entries) {
        if (IsDotEntry(entry))
            continue;
        const std::string path = relative.empty() ? entry.Name : relative + "/" + entry.Name;
        if (IsTreeFolder(entry)) {
            CollectFiles(files, folder.Folders[next++], path, product, rows);
            continue;
        }
        std::string status = "file";
        if (product) {
            const std::string target = JoinTreePath(*product, path);
            if (files.DirectoryExists(target))
                status = "blocked: a folder stands there";
            else if (!files.FileExists(target))
                status = "new";
            else if (files.MayReplaceFile(target))
                status = "replaced";
            else
                status = "blocked: may not be replaced";
        }
        rows.push_back({path, entry.Size, status});
    }
}

int FilesCommand(const KxpackServices &services, const Arguments &args, std::ostream &out,
                 std::ostream &err)
{
    ScratchFolder scratch(services.Files);
    PackageRead read;
    if (!Unpack(services, args.Names[0], scratch.Path(), read, err))
        return kPackUnreadable;
    const std::string tree = read.UnpackedFolder + "/" + kUpdateFilesFolderName;
    std::vector<FileRow> rows;
    if (services.Files.DirectoryExists(tree))
        CollectFiles(services.Files, ListTree(services.Files, tree), "", args.Product, rows);
    uint64_t total = 0;
    nlohmann::json list = nlohmann::json::array();
    for (const FileRow &row : rows) {
        total += row.Size;
        list.push_back({{"path", row.Path}, {"size", row.Size}, {"status", row.Status}});
    }
    if (args.Json) {
        nlohmann::json json = {{"package", args.Names[0]}, {"files", list}, {"bytes", total}};
        if (args.Product)
            json["product"] = *args.Product;
        WriteJson(out, json);
    } else {
        if (!services.Files.DirectoryExists(tree))
            out << "no " << kUpdateFilesFolderName << ": no file is copied\n";
        for (const FileRow &row : rows) {
            std::string status = row.Status;
            status.resize(std::max<size_t>(status.size(), 9), ' ');
            std::string size = std::to_string(row.Size);
            size.insert(0, size.size() < 12 ? 12 - size.size() : 0, ' ');
            out << status << size << "  " << row.Path << "\n";
        }
        out << rows.size() << " files, " << total << " bytes\n";
    }
    return kPackClean;
}

// The line-end style of a text: CR LF when its first line ends so.
std::string LineEnd(const std::string &text)
{
    const size_t lf = text.find('\n');
    return lf != std::string::npos && lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
}

// The descriptor with "SQLCount=count" added as the first key of its section [CONFIG]. Empty
// when no line of the bytes opens that section.
std::string WithSQLCount(const std::string &bytes, int count)
{
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        end = end == std::string::npos ? bytes.size() : end + 1;
        const std::string line = TrimControl(std::string_view(bytes).substr(at, end - at));
        if (line.starts_with("[")) {
            const size_t close = line.rfind(']');
            if (close != std::string::npos &&
                EqualsIgnoreAsciiCase(TrimControl(std::string_view(line).substr(1, close - 1)),
                                      kDescriptorSection)) {
                const std::string eol = LineEnd(bytes);
                std::string head = bytes.substr(0, end);
                if (end == bytes.size() && !head.ends_with("\n"))
                    head += eol;
                return head + "SQLCount=" + std::to_string(count) + eol + bytes.substr(end);
            }
        }
        at = end;
    }
    return {};
}

// Opens the secret key file; the password, when it has one, comes from KXPACK_KEY_PASSWORD or
// is asked for on the terminal. False with the reason on err.
bool OpenKeyFile(const std::string &file, PackageSecretKey &key, std::ostream &err)
{
    if (!fs::is_regular_file(NativePath(file))) {
        err << "kxpack: " << file << ": no such file\n";
        return false;
    }
    const auto password = [&]() -> std::optional<std::string> {
        if (std::optional<std::string> given = EnvironmentText("KXPACK_KEY_PASSWORD"))
            return given;
        std::string typed;
        if (ReadSecretFromTerminal("Password for " + file + ": ", typed))
            return typed;
        return std::nullopt;
    };
    std::string why;
    std::string text = ReadFileBytes(file);
    const bool opened = OpenSecretKey(text, password, key, why);
    std::fill(text.begin(), text.end(), '\0');
    if (!opened)
        err << "kxpack: " << file << ": " << why << "\n";
    return opened;
}

// Signs the package file with the key and writes its signature file beside target (the
// package's final path, whose name the trusted comment carries). False with the reason on err.
bool WriteSignature(const KxpackServices &services, const PackageSecretKey &key,
                    const std::string &package, const std::string &target,
                    const T_PackageInfo &descriptor, std::ostream &out, std::ostream &err)
{
    std::string digest;
    if (!HashFile(services.Files, package, digest)) {
        err << "kxpack: " << package << ": cannot be read\n";
        return false;
    }
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    const std::string name = PathText(NativePath(target).filename());
    const MinisignSignature signature = SignDigest(
        key, digest, PackageTrustedComment(now, name, descriptor.RegValue, descriptor.Build));
    const std::string file = target + kSignatureSuffix;
    if (!services.Files.WriteFileDurably(file, FormatMinisignSignature(signature))) {
        err << "kxpack: cannot write " << file << "\n";
        return false;
    }
    out << "signed " << target << " with key " << KeyIdText(key.KeyId) << ": " << file << "\n";
    return true;
}

int SignCommand(const KxpackServices &services, const Arguments &args, std::ostream &out,
                std::ostream &err)
{
    const std::string package = args.Names[0];
    if (!fs::is_regular_file(NativePath(package))) {
        err << "kxpack: " << package << ": no such file\n";
        return kPackUnreadable;
    }
    PackageSecretKey key;
    if (!OpenKeyFile(*args.Key, key, err))
        return kPackErrors;
    // The descriptor names the product and build the trusted comment carries.
    ScratchFolder scratch(services.Files);
    const PackageRead read = ReadPackage(services.Archiver, package, scratch.Path(), false);
    if (!read.Comment.Succeeded() || read.CommentBytes.empty()) {
        err << "kxpack: " << package << ": no descriptor can be read (" << read.Comment.Describe()
            << "); not signed\n";
        return kPackUnreadable;
    }
    const T_PackageInfo descriptor = ReadPackageDescriptor(read.DescriptorPath);
    return WriteSignature(services, key, package, package, descriptor, out, err) ? kPackClean
                                                                                 : kPackErrors;
}

int MakeCommand(const KxpackServices &services, const Arguments &args, std::ostream &out,
                std::ostream &err)
{
    const std::string outFile = args.Names[0];
    const std::string outName = PathText(NativePath(outFile).filename());
    if (outName.size() <= 4 || !EqualsIgnoreAsciiCase(outName.substr(outName.size() - 4), ".zip")) {
        err << "kxpack: " << outFile << ": a package's name ends in \".zip\"\n";
        return kPackBadCommand;
    }
    const std::string base = outName.substr(0, outName.size() - 4);
    // Opened first: a wrong password costs no packing.
    PackageSecretKey key;
    if (args.SignKey && !OpenKeyFile(*args.SignKey, key, err))
        return kPackErrors;
    if (!fs::is_regular_file(NativePath(*args.Descriptor))) {
        err << "kxpack: " << *args.Descriptor << ": no such file\n";
        return kPackUnreadable;
    }
    std::string descriptor = ReadFileBytes(*args.Descriptor);

    int blocks = 0;
    if (args.Sql) {
        if (!fs::is_regular_file(NativePath(*args.Sql))) {
            err << "kxpack: " << *args.Sql << ": no such file\n";
            return kPackUnreadable;
        }
        try {
            ScriptCutter cutter(*args.Sql);
            ScriptPiece piece;
            while (cutter.Next(piece))
                blocks += piece.What == ScriptPiece::Kind::End ? 1 : 0;
        } catch (const std::exception &e) {
            err << "kxpack: " << *args.Sql << ": " << e.what() << "\n";
            return kPackUnreadable;
        }
    }
    if (args.Files && !fs::is_directory(NativePath(*args.Files))) {
        err << "kxpack: " << *args.Files << ": no such folder\n";
        return kPackUnreadable;
    }

    ScratchFolder scratch(services.Files);
    const std::vector<std::string> keys = ReadIniKeys(kDescriptorSection, *args.Descriptor);
    const bool hasCount = std::any_of(keys.begin(), keys.end(), [](const std::string &k) {
        return EqualsIgnoreAsciiCase(k, "SQLCount");
    });
    if (hasCount) {
        int32_t declared = 0;
        (void)ParseDescriptorInteger(ReadDescriptorValue(*args.Descriptor, "SQLCount"), declared);
        if (declared != blocks) {
            err << "kxpack: SQLCount is " << declared << " but the script has " << blocks
                << " blocks; no package made\n";
            return kPackErrors;
        }
    } else {
        descriptor = WithSQLCount(descriptor, blocks);
        if (descriptor.empty()) {
            err << "kxpack: " << *args.Descriptor << " has no section [CONFIG]; no package made\n";
            return kPackErrors;
        }
        out << "SQLCount=" << blocks << " added to the descriptor (it had none)\n";
    }

    const std::string stage = scratch.Path() + "stage/";
    const std::string top = stage + base;
    fs::create_directories(NativePath(top));
    if (args.Sql)
        fs::copy_file(NativePath(*args.Sql), NativePath(top + "/" + kUpgradeScriptFileName));
    if (args.Files)
        fs::copy(NativePath(*args.Files), NativePath(top + "/" + kUpdateFilesFolderName),
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    {
        std::ofstream comment(NativePath(scratch.Path() + "comment.ini"), std::ios::binary);
        comment << descriptor;
        if (!comment.flush()) {
            err << "kxpack: cannot write the descriptor to a scratch folder\n";
            return kPackUnreadable;
        }
    }
    const std::string made = scratch.Path() + "made/" + outName;
    fs::create_directories(NativePath(scratch.Path() + "made"));
    const ProgramOutcome archived =
        RunProgramToEnd({services.Archiver, "a", "-y", "-p" + kPackagePassword,
                         "-z" + scratch.Path() + "comment.ini", made, base},
                        stage);
    if (!archived.ExitCode || *archived.ExitCode != 0) {
        err << "kxpack: " << kArchiverImageName << " a fails\n" << archived.Messages;
        return kPackErrors;
    }

    Report report;
    const CheckOutcome outcome =
        CheckPackage(services, {.Package = made}, scratch.Path() + "check/", report);
    report.WriteText(out);
    if (outcome != CheckOutcome::Clean) {
        err << "kxpack: the package has errors; none made\n";
        return kPackErrors;
    }
    // Written beside its place under a temporary name, so no half package is ever there. The
    // name is made anew and the file created only where nothing is, never through a link or
    // over a file that someone placed at a name known beforehand.
    const fs::path target = fs::absolute(NativePath(outFile));
    const std::string targetPath = PathText(target);
    LineCollector reasons;
    const ScopedLogSink collecting(reasons);
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temporary =
            PathText(target.parent_path() /
                     NativePath("." + outName + ".kxpack-" + std::to_string(random()) + ".tmp"));
        if (services.Files.FileExists(temporary) || services.Files.DirectoryExists(temporary))
            continue;
        if (!services.Files.CopyFileBeside(made, targetPath, temporary))
            break;
        if (!services.Files.RenameFile(temporary, targetPath, true)) {
            (void)services.Files.RemoveFile(temporary);
            break;
        }
        out << "made " << outFile << "\n";
        if (args.SignKey &&
            !WriteSignature(services, key, outFile, outFile,
                            ReadPackageDescriptor(scratch.Path() + "comment.ini"), out, err))
            return kPackErrors;
        return kPackClean;
    }
    err << "kxpack: cannot write " << outFile << "\n" << reasons.Text;
    return kPackErrors;
}

} // namespace

const char *KxpackUsage()
{
    return "usage:\n"
           "  kxpack check PACKAGE.zip [--registry [STORE]] [--key PUBLIC_KEY] [--json]\n"
           "  kxpack blocks PACKAGE.zip [--json]\n"
           "  kxpack files PACKAGE.zip [--product FOLDER] [--json]\n"
           "  kxpack make --descriptor Update.ini [--sql UpdateSQL.sql] [--files FOLDER] "
           "[--sign-key SECRET_KEY] OUT.zip\n"
           "  kxpack sign --key SECRET_KEY PACKAGE.zip\n"
           "a secret key with a password reads it from KXPACK_KEY_PASSWORD, or asks on the "
           "terminal\n"
           "exit codes: 0 no error, 1 errors (make: no package made), 2 the package cannot be "
           "read, 3 bad command line\n";
}

int RunKxpack(const KxpackServices &services, const std::vector<std::string> &args,
              std::ostream &out, std::ostream &err)
{
    Arguments parsed;
    try {
        if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
            out << KxpackUsage();
            return kPackClean;
        }
        parsed = Parse(args);
    } catch (const UsageError &e) {
        err << "kxpack: " << e.what() << "\n" << KxpackUsage();
        return kPackBadCommand;
    }
    if (!fs::is_regular_file(NativePath(services.Archiver))) {
        err << "kxpack: the archiver " << services.Archiver
            << " is missing: kxpack reads packages with the tool's own archiver, beside it\n";
        return kPackUnreadable;
    }
    try {
        if (parsed.Command == "check")
            return CheckCommand(services, parsed, out);
        if (parsed.Command == "blocks")
            return BlocksCommand(services, parsed, out, err);
        if (parsed.Command == "files")
            return FilesCommand(services, parsed, out, err);
        if (parsed.Command == "sign")
            return SignCommand(services, parsed, out, err);
        return MakeCommand(services, parsed, out, err);
    } catch (const std::exception &e) {
        err << "kxpack: " << e.what() << "\n";
        return kPackUnreadable;
    }
}

} // namespace kxpack
