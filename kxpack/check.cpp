#include "kxpack/check.h"

#include "package/package_signature.h"

#include "archiver/archiver_commands.h"
#include "archiver/work_folder.h"
#include "package/package_info.h"
#include "package/package_scan.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "platform/native_path.h"
#include "platform/text.h"
#include "product/product_reg.h"
#include "upgrade/script_blocks.h"
#include "upgrade/update_tree.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>

namespace kxpack {

using offline_upgrade::ApplyAcceptanceRules;
using offline_upgrade::ChooseOdbcDriver;
using offline_upgrade::DatabaseKind;
using offline_upgrade::DatabaseKindName;
using offline_upgrade::DescriptorKey;
using offline_upgrade::DescriptorKeyKind;
using offline_upgrade::EqualsIgnoreAsciiCase;
using offline_upgrade::FoldAsciiCase;
using offline_upgrade::FolderEntry;
using offline_upgrade::Gb18030ToUtf8;
using offline_upgrade::IFileSystem;
using offline_upgrade::IRegistry;
using offline_upgrade::IsDotEntry;
using offline_upgrade::IsTreeFolder;
using offline_upgrade::IsValidUtf8;
using offline_upgrade::kArchiverImageName;
using offline_upgrade::kDbTypeMySql;
using offline_upgrade::kDbTypeOracle;
using offline_upgrade::kDbTypeSqlServer;
using offline_upgrade::kDescriptorKeys;
using offline_upgrade::kDescriptorSection;
using offline_upgrade::kPackageMaker;
using offline_upgrade::kPackagePassword;
using offline_upgrade::kSignatureSuffix;
using offline_upgrade::kUpdateFilesFolderName;
using offline_upgrade::kUpgradeScriptFileName;
using offline_upgrade::kWorkFolderName;
using offline_upgrade::ListedFolder;
using offline_upgrade::ListTree;
using offline_upgrade::MachineRegistration;
using offline_upgrade::NativePath;
using offline_upgrade::OdbcDriverChoice;
using offline_upgrade::PackageKeyList;
using offline_upgrade::PackagePublicKey;
using offline_upgrade::ParseDescriptorInteger;
using offline_upgrade::ParsePackageKeys;
using offline_upgrade::ParsePublicKeyFile;
using offline_upgrade::ReadDescriptorValue;
using offline_upgrade::ReadIniKeys;
using offline_upgrade::ReadPackageDescriptor;
using offline_upgrade::ScanVerdict;
using offline_upgrade::ScanVerdictText;
using offline_upgrade::ScriptCodePage;
using offline_upgrade::ScriptCutter;
using offline_upgrade::ScriptPiece;
using offline_upgrade::SignatureCheck;
using offline_upgrade::SignatureVerdictText;
using offline_upgrade::T_PackageInfo;
using offline_upgrade::T_ProductReg;
using offline_upgrade::ToolFileNamed;
using offline_upgrade::UnpackFolderProblem;
using offline_upgrade::UpgradeAllowed;
using offline_upgrade::VerifyPackageSignature;

namespace fs = std::filesystem;

namespace {

const std::string kUnpackFailure = "\"解压缩升级包文件失败！\"";
// Values are fetched into a buffer of this many bytes with its closing zero.
constexpr size_t kValueLimit = 2047;

std::string Where(const char *key)
{
    return std::string("Update.ini [CONFIG] ") + key;
}

bool IsAscii(const std::string &text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string CodePageName(ScriptCodePage page)
{
    switch (page) {
    case ScriptCodePage::Ascii:
        return "ASCII";
    case ScriptCodePage::Utf8:
        return "UTF-8";
    case ScriptCodePage::Gb18030:
        return "GB18030";
    }
    return "?";
}

// The code page the tool reads a comment in.
std::string CommentCodePage(const std::string &bytes)
{
    if (bytes.empty())
        return "none";
    if (bytes.starts_with("\xFF\xFE"))
        return "UTF-16LE";
    if (bytes.starts_with("\xFE\xFF"))
        return "UTF-16BE";
    if (!IsValidUtf8(bytes))
        return "GB18030";
    return IsAscii(bytes) ? "ASCII" : "UTF-8";
}

size_t EditDistance(const std::string &a, const std::string &b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const bool same = FoldAsciiCase(a[i - 1]) == FoldAsciiCase(b[j - 1]);
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

const char *DbTypeName(int32_t type)
{
    switch (type) {
    case kDbTypeSqlServer:
        return "SQL Server";
    case kDbTypeMySql:
        return "MySQL";
    case kDbTypeOracle:
        return "Oracle";
    default:
        return nullptr;
    }
}

struct DescriptorFacts {
    T_PackageInfo Info;
    bool SQLCountPresent = false;
};

DescriptorFacts CheckDescriptor(const PackageRead &read, Report &report)
{
    DescriptorFacts facts;
    const std::string &path = read.DescriptorPath;
    const std::string &bytes = read.CommentBytes;
    const std::string codePage = CommentCodePage(bytes);
    nlohmann::json json = {{"bytes", bytes.size()}, {"codePage", codePage}};
    report.Lines.push_back("descriptor (archive comment, " + std::to_string(bytes.size()) +
                           " bytes, read as " + codePage + ")");

    if (bytes.empty())
        report.Add(Severity::Error, "descriptor", "archive comment",
                   "the package has no descriptor (its archive comment is empty): the scan "
                   "passes it over");

    const std::vector<std::string> keys = ReadIniKeys(kDescriptorSection, path);
    if (!bytes.empty() && keys.empty())
        report.Add(Severity::Error, "descriptor", "Update.ini",
                   "no key in a section [CONFIG]: the tool reads every key as missing");
    std::map<std::string, int> seen; // by upper-case name
    for (const std::string &key : keys) {
        const std::string folded = FoldAsciiCase(key);
        if (++seen[folded] == 2)
            report.Add(Severity::Warning, "descriptor", Where(key.c_str()),
                       "given more than once: the tool takes the first");
        const bool known =
            std::any_of(std::begin(kDescriptorKeys), std::end(kDescriptorKeys),
                        [&](const DescriptorKey &k) { return EqualsIgnoreAsciiCase(key, k.Name); });
        if (known)
            continue;
        std::string text = "the tool does not read this key";
        for (const DescriptorKey &k : kDescriptorKeys) {
            if (EditDistance(key, k.Name) <= 2) {
                text += "; did you mean " + Quoted(k.Name) + "?";
                break;
            }
        }
        report.Add(Severity::Warning, "descriptor", Where(key.c_str()), text);
    }

    facts.Info = ReadPackageDescriptor(path);
    const T_PackageInfo &info = facts.Info;
    nlohmann::json list = nlohmann::json::array();
    for (const DescriptorKey &key : kDescriptorKeys) {
        const bool present = std::any_of(keys.begin(), keys.end(), [&](const std::string &k) {
            return EqualsIgnoreAsciiCase(k, key.Name);
        });
        const std::string value = ReadDescriptorValue(path, key.Name);
        nlohmann::json entry = {{"key", key.Name}, {"present", present}, {"value", value}};
        std::string line = std::string("  ") + key.Name;
        line.resize(15, ' ');
        line += present ? Quoted(value) : "(missing)";
        if (key.Kind == DescriptorKeyKind::Integer) {
            int32_t number = 0;
            const bool whole = ParseDescriptorInteger(value, number);
            entry["kind"] = "number";
            entry["number"] = number;
            entry["wholeNumber"] = whole;
            line += " -> " + std::to_string(number);
            if (std::string(key.Name) == "DbType" && DbTypeName(number))
                line += std::string(" (") + DbTypeName(number) + ")";
            if (present && !whole) {
                line += " (not wholly a number)";
                report.Add(std::string(key.Name) == "DbType" ? Severity::Error : Severity::Warning,
                           "descriptor", Where(key.Name),
                           Quoted(value) + " is not wholly a number: the tool reads 0");
            }
        } else {
            entry["kind"] = "text";
        }
        if (value.size() >= kValueLimit)
            report.Add(Severity::Warning, "descriptor", Where(key.Name),
                       "longer than the tool reads: it is cut to " + std::to_string(kValueLimit) +
                           " bytes");
        if (codePage == "UTF-8" && !IsAscii(value)) {
            const std::string other = Gb18030ToUtf8(value);
            entry["asGb18030"] = other;
            report.Add(Severity::Warning, "descriptor", Where(key.Name),
                       "read as UTF-8 " + Quoted(value) +
                           "; a machine that reads the comment in the Chinese code page "
                           "(GB18030, code page 936) reads " +
                           Quoted(other));
        }
        list.push_back(entry);
        report.Lines.push_back(line);
        if (std::string(key.Name) == "SQLCount")
            facts.SQLCountPresent = present;
    }
    json["keys"] = std::move(list);
    report.Facts["descriptor"] = std::move(json);

    if (info.corp != kPackageMaker) {
        std::string text;
        if (info.corp.empty())
            text = "missing or empty";
        else if (EqualsIgnoreAsciiCase(info.corp, kPackageMaker))
            text = Quoted(info.corp) + " differs in letter case";
        else
            text = Quoted(info.corp) + " is another maker";
        report.Add(Severity::Error, "descriptor", Where("corp"),
                   text + ": the scan accepts only " + Quoted(kPackageMaker) + ", byte for byte");
    }
    if (!DbTypeName(info.DbType))
        report.Add(Severity::Error, "descriptor", Where("DbType"),
                   std::to_string(info.DbType) +
                       " is not 0 (SQL Server), 1 (MySQL) or 2 (Oracle): the tool decodes the "
                       "password and connects the wrong way");
    else if (ReadDescriptorValue(path, "DbType").empty())
        report.Add(Severity::Warning, "descriptor", Where("DbType"),
                   "missing or empty: the tool reads 0 (SQL Server)");
    if (info.Version.empty())
        report.Add(Severity::Error, "descriptor", Where("Version"),
                   "empty: the scan accepts the package only for a product registered "
                   "without a version");
    if (info.Build.empty())
        report.Add(Severity::Error, "descriptor", Where("Build"),
                   "empty: it sorts below every registered build, so the scan passes the "
                   "package over");
    if (info.RegValue.empty())
        report.Add(Severity::Error, "descriptor", Where("RegValue"),
                   "empty: no product is registered under an empty code; the scan passes the "
                   "package over");
    if (info.Soft.empty())
        report.Add(Severity::Warning, "descriptor", Where("Soft"),
                   "empty: the window shows no product name");
    if (info.SQLCount < 0)
        report.Add(Severity::Warning, "descriptor", Where("SQLCount"),
                   "negative: the progress bar of the script stage takes 0");
    if (!info.PackageName.empty() && info.PackageName != read.FileName)
        report.Add(Severity::Note, "descriptor", Where("PackageName"),
                   Quoted(info.PackageName) + " is not the file's name; the tool uses " +
                       Quoted(read.FileName));
    if (codePage == "GB18030")
        report.Add(Severity::Note, "descriptor", "archive comment",
                   "not valid UTF-8: read as GB18030 (code page 936)");
    return facts;
}

bool HasZipExtension(const std::string &name)
{
    return name.size() >= 4 && EqualsIgnoreAsciiCase(name.substr(name.size() - 4), ".zip");
}

// Where the archiver's message names an entry: its text in double quotes after "entry".
std::string EntryOfMessage(const std::string &message)
{
    const size_t at = message.find("entry \"");
    if (at == std::string::npos)
        return {};
    const size_t start = at + 7;
    const size_t end = message.find('"', start);
    return end == std::string::npos ? std::string() : message.substr(start, end - start);
}

struct ArchiveFacts {
    bool Unpacked = false;
    std::string Script;      // path of UpdateSQL.sql when present
    std::string UpdateFiles; // path of UpdateFiles when present
};

ArchiveFacts CheckArchive(IFileSystem &files, const PackageRead &read, Report &report)
{
    ArchiveFacts facts;
    nlohmann::json json = {{"file", read.FileName}};
    if (!HasZipExtension(read.FileName))
        report.Add(Severity::Error, "archive", read.FileName,
                   "the scan looks only at files named *.zip");
    json["extract"] = {{"result", read.Extract.Describe()}, {"messages", read.Extract.Messages}};
    if (!read.Extract.Succeeded()) {
        const bool wrongPassword = read.Extract.ExitCode && *read.Extract.ExitCode == 11;
        std::string text =
            wrongPassword ? "does not open with the package password " + Quoted(kPackagePassword)
                          : "the archiver refuses or fails to unpack it";
        report.Add(Severity::Error, "archive", kArchiverImageName + " x",
                   text + " (" + read.Extract.Describe() + "): the run shows " + kUnpackFailure);
        for (const std::string &message : read.Extract.Messages) {
            const std::string entry = EntryOfMessage(message);
            report.Add(Severity::Error, "archive",
                       entry.empty() ? "archive" : "entry " + Quoted(entry), message);
        }
        report.Lines.push_back("archive: not unpacked (" + read.Extract.Describe() + ")");
        report.Facts["archive"] = std::move(json);
        return facts;
    }
    facts.Unpacked = true;

    const std::string work = read.ProgramFolder + kWorkFolderName;
    std::vector<FolderEntry> top;
    (void)files.ListFolder(work, "*.*", top);
    const std::string expected =
        read.FileName.size() > 4 ? read.FileName.substr(0, read.FileName.size() - 4) : "";
    const std::string nameProblem = UnpackFolderProblem(read.FileName);
    if (!nameProblem.empty())
        report.Add(Severity::Error, "archive", read.FileName,
                   nameProblem + ": the scan passes the package over");
    nlohmann::json topNames = nlohmann::json::array();
    for (const FolderEntry &entry : top) {
        topNames.push_back(entry.Name);
        if (entry.Name == expected && IsTreeFolder(entry))
            continue;
        // The run unpacks every entry into its work folder, where only the package's own
        // folder is the package's.
        const std::string tool = ToolFileNamed(entry.Name);
        report.Add(Severity::Error, "archive", Quoted(entry.Name),
                   "beside the top folder: the tool unpacks it into its work folder " +
                       kWorkFolderName + ", outside the package's own folder" +
                       (tool.empty() ? std::string()
                                     : "; it bears the name of the tool's own file " + tool));
    }
    json["topEntries"] = topNames;
    json["topFolder"] = expected;
    const bool found = !read.UnpackedFolder.empty() && files.DirectoryExists(read.UnpackedFolder);
    json["topFolderFound"] = found;
    if (!found) {
        report.Add(Severity::Error, "archive", "top folder",
                   "no top folder named " + Quoted(expected) +
                       " (the file name without \".zip\"): the run finds nothing and shows " +
                       kUnpackFailure);
        report.Lines.push_back("archive: opens with the package password; no top folder " +
                               Quoted(expected));
        report.Facts["archive"] = std::move(json);
        return facts;
    }

    const std::string script = read.UnpackedFolder + "/" + kUpgradeScriptFileName;
    const std::string tree = read.UnpackedFolder + "/" + kUpdateFilesFolderName;
    if (files.FileExists(script))
        facts.Script = script;
    if (files.DirectoryExists(tree))
        facts.UpdateFiles = tree;
    std::vector<FolderEntry> inside;
    (void)files.ListFolder(read.UnpackedFolder, "*.*", inside);
    for (const FolderEntry &entry : inside) {
        if ((entry.Name == kUpgradeScriptFileName && !IsTreeFolder(entry)) ||
            (entry.Name == kUpdateFilesFolderName && IsTreeFolder(entry)))
            continue;
        std::string text = "the tool never uses it";
        if (EqualsIgnoreAsciiCase(entry.Name, kUpgradeScriptFileName))
            text += IsTreeFolder(entry)
                        ? "; the script must be a file"
                        : "; the script's name is " + Quoted(kUpgradeScriptFileName) +
                              ", letter case counts";
        else if (EqualsIgnoreAsciiCase(entry.Name, kUpdateFilesFolderName))
            text += IsTreeFolder(entry)
                        ? "; the folder's name is " + Quoted(kUpdateFilesFolderName) +
                              ", letter case counts"
                        : "; the application files must be a folder";
        report.Add(Severity::Warning, "archive", Quoted(expected + "/" + entry.Name), text);
    }
    if (facts.Script.empty() && facts.UpdateFiles.empty())
        report.Add(Severity::Warning, "archive", Quoted(expected),
                   "neither UpdateSQL.sql nor UpdateFiles: the upgrade changes nothing");
    json["script"] = !facts.Script.empty();
    json["updateFiles"] = !facts.UpdateFiles.empty();
    report.Lines.push_back("archive: opens with the package password; top folder " +
                           Quoted(expected) + (facts.Script.empty() ? "" : "; UpdateSQL.sql") +
                           (facts.UpdateFiles.empty() ? "" : "; UpdateFiles"));
    report.Facts["archive"] = std::move(json);
    return facts;
}

std::string LineRange(int first, int last)
{
    if (first == 0)
        return "";
    return first == last ? "line " + std::to_string(first)
                         : "lines " + std::to_string(first) + "-" + std::to_string(last);
}

std::string ScriptWhere(int line)
{
    return std::string(kUpgradeScriptFileName) + ":" + std::to_string(line);
}

void CheckScript(const std::string &script, const DescriptorFacts &descriptor, Report &report)
{
    nlohmann::json json = nlohmann::json::object();
    try {
        ScriptCutter cutter(script);
        json["codePage"] = CodePageName(cutter.CodePage());
        std::map<std::string, int> names; // name -> line of its first begin marker
        int blocks = 0;
        bool anyEnd = false;
        ScriptPiece piece;
        while (cutter.Next(piece)) {
            switch (piece.What) {
            case ScriptPiece::Kind::Begin: {
                const auto [at, fresh] = names.emplace(piece.Name, piece.Line);
                if (!fresh)
                    report.Add(Severity::Warning, "script", ScriptWhere(piece.Line),
                               "block name " + Quoted(piece.Name) + " is used before (line " +
                                   std::to_string(at->second) +
                                   "): a failure message names it, not the line");
                break;
            }
            case ScriptPiece::Kind::End:
                ++blocks;
                if (piece.BeginLine == 0 && piece.Statements == 0)
                    report.Add(Severity::Error, "script", ScriptWhere(piece.Line),
                               std::string(anyEnd ? "a second end marker"
                                                  : "an end marker with no block before it") +
                                   ": an empty command runs; a database that refuses it "
                                   "stops the run with \"执行升级脚本失败(" +
                                   piece.Name + ")！\"");
                else if (piece.BeginLine == 0)
                    report.Add(Severity::Warning, "script", ScriptWhere(piece.Line),
                               "an end marker with no begin marker before its lines: they run "
                               "as a block named " +
                                   Quoted(piece.Name));
                else if (piece.Statements == 0)
                    report.Add(Severity::Error, "script", ScriptWhere(piece.BeginLine),
                               "block " + Quoted(piece.Name) +
                                   " has no statement: an empty command runs; a database that "
                                   "refuses it stops the run with \"执行升级脚本失败(" +
                                   piece.Name + ")！\"");
                anyEnd = true;
                break;
            case ScriptPiece::Kind::Dropped:
                if (piece.BeginLine != 0)
                    report.Add(Severity::Error, "script", ScriptWhere(piece.BeginLine),
                               "block " + Quoted(piece.Name) +
                                   " has no end marker: its lines are dropped" +
                                   (piece.Statements
                                        ? " (" + LineRange(piece.Line, piece.LastLine) + ")"
                                        : std::string()));
                else
                    report.Add(Severity::Warning, "script", ScriptWhere(piece.Line),
                               LineRange(piece.Line, piece.LastLine) +
                                   (piece.Line == piece.LastLine ? " stands" : " stand") +
                                   " outside any block: never run");
                break;
            }
        }
        json["blocks"] = blocks;
        const T_PackageInfo &info = descriptor.Info;
        if (blocks == 0)
            report.Add(Severity::Warning, "script", kUpgradeScriptFileName,
                       "no block: nothing runs");
        if (!descriptor.SQLCountPresent && blocks > 0)
            report.Add(Severity::Warning, "descriptor", Where("SQLCount"),
                       "missing: the script has " + std::to_string(blocks) +
                           " blocks; the progress shows (k/0)");
        else if (info.SQLCount != blocks)
            report.Add(Severity::Warning, "descriptor", Where("SQLCount"),
                       std::to_string(info.SQLCount) + " but the script has " +
                           std::to_string(blocks) + " blocks: the progress shows (k/" +
                           std::to_string(info.SQLCount) + ")");
        if (cutter.CodePage() == ScriptCodePage::Utf8)
            report.Add(Severity::Note, "script", kUpgradeScriptFileName,
                       "UTF-8: the tool sends it as UTF-8 here; a machine that reads scripts in "
                       "the Chinese code page (936) reads its non-ASCII text differently");
        else if (cutter.CodePage() == ScriptCodePage::Gb18030)
            report.Add(Severity::Note, "script", kUpgradeScriptFileName,
                       "not valid UTF-8: read as GB18030 (code page 936)");
        report.Lines.push_back(std::string("script: ") + kUpgradeScriptFileName + ", " +
                               CodePageName(cutter.CodePage()) + ", " + std::to_string(blocks) +
                               (blocks == 1 ? " block" : " blocks"));
    } catch (const std::exception &error) {
        report.Add(Severity::Error, "script", kUpgradeScriptFileName,
                   std::string("cannot be read: ") + error.what());
    }
    report.Facts["script"] = std::move(json);
}

void CountFiles(const ListedFolder &folder, uint64_t &files, uint64_t &bytes, int &unlisted)
{
    if (!folder.Listed)
        ++unlisted;
    size_t next = 0;
    for (const FolderEntry &entry : folder.Entries) {
        if (IsDotEntry(entry))
            continue;
        if (IsTreeFolder(entry)) {
            CountFiles(folder.Folders[next++], files, bytes, unlisted);
        } else {
            ++files;
            bytes += entry.Size;
        }
    }
}

void CheckFiles(IFileSystem &files, const std::string &tree, Report &report)
{
    const ListedFolder listed = ListTree(files, tree);
    uint64_t count = 0, bytes = 0;
    int unlisted = 0;
    CountFiles(listed, count, bytes, unlisted);
    report.Facts["files"] = {{"files", count}, {"bytes", bytes}};
    report.Lines.push_back("files: " + std::to_string(count) +
                           (count == 1 ? " file, " : " files, ") + std::to_string(bytes) +
                           " bytes");
    if (unlisted > 0)
        report.Add(Severity::Error, "files", kUpdateFilesFolderName,
                   std::to_string(unlisted) + " folders cannot be listed: the file stage fails");
}

// The registry the scan would read: the store file through a copy (the scan adds a missing
// ApplicationPath key), or this machine's registration, seen without writes. Null, with the
// error reported, when it cannot be read.
std::unique_ptr<IRegistry> ScanRegistry(const KxpackServices &services, const CheckOptions &options,
                                        const std::string &scratch, std::string &where,
                                        Report &report)
{
    std::string store;
    if (options.RegistryStore) {
        store = *options.RegistryStore;
    } else {
        MachineRegistration machine = services.Machine();
        where = machine.Name;
        if (machine.Registry)
            return std::move(machine.Registry);
        store = machine.StoreFile;
    }
    where = store;
    const std::string copy = scratch + "registry.reg";
    std::error_code error;
    if (!fs::is_regular_file(NativePath(store)) ||
        !fs::copy_file(NativePath(store), NativePath(copy), error)) {
        report.Add(Severity::Error, "scan", store, "the registry store cannot be read");
        return nullptr;
    }
    // Where the registration is a store file (POSIX), a user who may not write it sees no
    // product installed; on Windows the tool reads the registry, never a store.
    if (!services.Machine().StoreFile.empty() && !services.Files.MayReplaceFile(store))
        report.Add(Severity::Warning, "scan", store,
                   "this user may not write the store: the tool run by this user sees no "
                   "product installed (the check reads a copy)");
    return services.RegistryFromStore(copy);
}

// The package's signature against keys (from source, for the report). A missing or bad one is
// an error: a product that pins the keys passes the package over.
void CheckSignature(IFileSystem &files, const std::string &package, const PackageKeyList &keys,
                    const std::string &source, Report &report)
{
    const SignatureCheck check = VerifyPackageSignature(files, package, keys);
    nlohmann::json json = {{"keys", source},
                           {"verdict", SignatureVerdictText(check.Verdict)},
                           {"detail", check.Detail}};
    if (check.Good()) {
        json["trustedComment"] = check.TrustedComment;
        report.Lines.push_back("signature: " + check.Detail + " (keys from " + source + ")");
    } else {
        report.Add(Severity::Error, "signature", package + kSignatureSuffix,
                   std::string(SignatureVerdictText(check.Verdict)) + ": " + check.Detail +
                       " (keys from " + source +
                       "; a product that pins them passes the "
                       "package over)");
    }
    for (const std::string &part : keys.Unusable)
        report.Add(Severity::Warning, "signature", source,
                   Quoted(part) + " is no minisign public key and is ignored");
    report.Facts["signature"] = std::move(json);
}

void CheckScan(const KxpackServices &services, const CheckOptions &options,
               const std::string &scratch, const T_PackageInfo &package, Report &report)
{
    std::string store;
    const std::unique_ptr<IRegistry> registry =
        ScanRegistry(services, options, scratch, store, report);
    nlohmann::json json = {{"store", store}};
    if (!registry) {
        report.Facts["scan"] = std::move(json);
        return;
    }
    T_ProductReg product;
    ScanVerdict verdict = ScanVerdict::Error;
    std::string failure;
    try {
        verdict = ApplyAcceptanceRules(package, *registry, product);
    } catch (const std::exception &e) {
        failure = e.what();
    }
    json["verdict"] = verdict == ScanVerdict::Accepted ? "accepted" : "passed over";
    json["reason"] = ScanVerdictText(verdict);
    json["installed"] = {{"productCode", product.ProductCode},
                         {"Version", product.Version},
                         {"Build", product.Build},
                         {"Path", product.Path}};
    const std::string code = Quoted(package.RegValue);
    std::string detail;
    switch (verdict) {
    case ScanVerdict::MakerNotAccepted:
        detail = "corp is not " + Quoted(kPackageMaker);
        break;
    case ScanVerdict::NotRegistered:
        detail = "no product registered under " + code;
        break;
    case ScanVerdict::VersionDiffers:
        detail =
            "package Version " + Quoted(package.Version) + ", installed " + Quoted(product.Version);
        break;
    case ScanVerdict::BuildOlder:
        detail = "package Build " + Quoted(package.Build) + " sorts below the installed " +
                 Quoted(product.Build) + " (builds compare as texts, byte by byte)";
        break;
    case ScanVerdict::Error:
        detail = "the registration cannot be read: " + failure;
        break;
    default:
        break;
    }
    if (verdict != ScanVerdict::Accepted) {
        report.Add(Severity::Error, "scan", store,
                   std::string("passed over: ") + ScanVerdictText(verdict) + ": " + detail +
                       " (with no other package the window shows \"未找到有效的升级包文件！\")");
        report.Lines.push_back("scan: passed over (" + std::string(ScanVerdictText(verdict)) + ")");
        report.Facts["scan"] = std::move(json);
        return;
    }
    if (product.PackageKey.empty())
        report.Lines.push_back("scan: the product has no PackageKey: its packages are not "
                               "verified");
    else
        CheckSignature(services.Files, options.Package, ParsePackageKeys(product.PackageKey),
                       "PackageKey of " + code, report);
    const bool forceNeeded = !UpgradeAllowed(package.Build, product.Build, false);
    json["forceNeeded"] = forceNeeded;
    report.Lines.push_back("scan: accepted for " + code + " (installed Version " +
                           Quoted(product.Version) + ", Build " + Quoted(product.Build) +
                           "; package Build " + Quoted(package.Build) + ")");
    if (forceNeeded)
        report.Add(Severity::Warning, "scan", store,
                   "the package brings the installed build " + Quoted(product.Build) +
                       ": 升级 is enabled only while \"强制升级\" is checked");
    report.Facts["scan"] = std::move(json);
}

// The driver the connection would take on this machine for the package's database kind.
void CheckDriver(const KxpackServices &services, int32_t dbType, Report &report)
{
    if (!DbTypeName(dbType) || !services.Drivers)
        return;
    const auto kind = static_cast<DatabaseKind>(dbType);
    const OdbcDriverChoice choice = ChooseOdbcDriver(kind, services.Drivers());
    report.Facts["driver"] = {{"kind", DatabaseKindName(kind)},
                              {"tried", choice.Tried},
                              {"driver", choice.Driver},
                              {"only32Bit", choice.Only32Bit}};
    if (choice.Driver.empty()) {
        report.Lines.push_back(std::string("driver: none for ") + DatabaseKindName(kind) +
                               " on this machine");
        report.Add(Severity::Error, "driver", "this machine",
                   choice.Report.substr(choice.Report.find(": ") + 2) +
                       " (the run shows \"连接产品数据库失败！\")");
        return;
    }
    report.Lines.push_back(std::string("driver: ") + DatabaseKindName(kind) + " through " +
                           Quoted(choice.Driver) + " on this machine");
}

} // namespace

CheckOutcome CheckPackage(const KxpackServices &services, const CheckOptions &options,
                          const std::string &scratch, Report &report)
{
    report.Facts["package"] = options.Package;
    report.Lines.push_back("package " + options.Package);
    if (!fs::is_regular_file(NativePath(options.Package))) {
        report.Add(Severity::Error, "archive", options.Package, "no such file");
        return CheckOutcome::Unreadable;
    }
    const PackageRead read = ReadPackage(services.Archiver, options.Package, scratch, true);
    if (!read.Comment.Succeeded()) {
        report.Add(Severity::Error, "archive", kArchiverImageName + " cw",
                   "the comment cannot be read (" + read.Comment.Describe() +
                       "): not a readable ZIP archive; the scan passes it over");
        for (const std::string &message : read.Comment.Messages)
            report.Add(Severity::Error, "archive", "archive", message);
        return CheckOutcome::Unreadable;
    }
    const DescriptorFacts descriptor = CheckDescriptor(read, report);
    const ArchiveFacts archive = CheckArchive(services.Files, read, report);
    if (!archive.Script.empty())
        CheckScript(archive.Script, descriptor, report);
    else if (archive.Unpacked && descriptor.Info.SQLCount > 0)
        report.Add(Severity::Warning, "descriptor", Where("SQLCount"),
                   std::to_string(descriptor.Info.SQLCount) + " but the package has no " +
                       kUpgradeScriptFileName);
    if (!archive.UpdateFiles.empty())
        CheckFiles(services.Files, archive.UpdateFiles, report);
    if (options.RegistryStore || options.ThisMachine)
        CheckScan(services, options, scratch, descriptor.Info, report);
    if (options.ThisMachine)
        CheckDriver(services, descriptor.Info.DbType, report);
    if (options.KeyFile) {
        PackagePublicKey key;
        if (!fs::is_regular_file(NativePath(*options.KeyFile)) ||
            !ParsePublicKeyFile(ReadFileBytes(*options.KeyFile), key)) {
            report.Add(Severity::Error, "signature", *options.KeyFile,
                       "no minisign public key can be read from it");
        } else {
            PackageKeyList keys;
            keys.Keys.push_back(key);
            CheckSignature(services.Files, options.Package, keys, *options.KeyFile, report);
        }
    }
    return report.Count(Severity::Error) > 0 ? CheckOutcome::Errors : CheckOutcome::Clean;
}

} // namespace kxpack
