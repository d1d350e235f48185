// The journal of the file stage: what it records comes back byte for byte, a journal cut
// anywhere is never taken for a whole one, and the next start obeys only a journal that is
// wholly the stage's own for the product's registered folder; any other is kept aside with
// nothing touched, and blocks until it is removed. On both systems: under Wine for Windows.

#include "upgrade/file_transaction.h"

#include "platform/diagnostics.h"
#include "platform/path_rules.h"
#include "real_services.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

FileTransaction Sample(bool committed)
{
    FileTransaction transaction;
    transaction.ProductCode = "A B\n";
    transaction.ProductFolder = "/p";
    // Names hold every byte a journal line could trip on.
    transaction.Files.push_back({"/p/a b.txt", "/p/.kxnew-x-0", "/p/.kxold-x-0"});
    transaction.Files.push_back({"/p/line\nend 12:x", "/p/.kxnew-x-1", ""});
    transaction.Files.push_back({std::string("/p/\xB3\xCC\0z", 8), "/p/.kxnew-x-2", ""});
    // A file to swap, with the largest identity a system may give.
    transaction.Files.push_back(
        {"/p/swap", "/p/.kxnew-x-3", "/p/.kxold-x-3", 18446744073709551615ull});
    transaction.NewFolders = {"/p/new", "/p/new/deeper:1"};
    transaction.FolderTimes = {{"/p", -5}, {"/p/sub folder", 1700000000123456789}};
    transaction.Committed = committed;
    return transaction;
}

bool Same(const FileTransaction &a, const FileTransaction &b)
{
    if (a.Files.size() != b.Files.size() || a.FolderTimes.size() != b.FolderTimes.size())
        return false;
    for (size_t i = 0; i < a.Files.size(); ++i) {
        if (a.Files[i].Target != b.Files[i].Target || a.Files[i].Temp != b.Files[i].Temp ||
            a.Files[i].Backup != b.Files[i].Backup || a.Files[i].Kept != b.Files[i].Kept)
            return false;
    }
    for (size_t i = 0; i < a.FolderTimes.size(); ++i) {
        if (a.FolderTimes[i].Folder != b.FolderTimes[i].Folder ||
            a.FolderTimes[i].Modified != b.FolderTimes[i].Modified)
            return false;
    }
    return a.ProductCode == b.ProductCode && a.ProductFolder == b.ProductFolder &&
           a.NewFolders == b.NewFolders && a.Committed == b.Committed;
}

TEST(FileJournal, RoundTripsAndRefusesEveryCutAndStrayByte)
{
    for (bool committed : {false, true}) {
        const FileTransaction original = Sample(committed);
        const std::string text = JournalText(original);
        FileTransaction read;
        ASSERT_TRUE(ParseJournal(text, read)) << committed;
        EXPECT_TRUE(Same(read, original)) << committed;

        // A cut anywhere: only the whole uncommitted journal is a prefix of the committed one.
        const std::string whole = JournalText(Sample(false));
        if (committed) {
            EXPECT_EQ(CommittedJournalText(whole), text);
        }
        for (size_t length = 0; length < text.size(); ++length) {
            const bool parsed = ParseJournal(text.substr(0, length), read);
            EXPECT_EQ(parsed, committed && length == whole.size()) << committed << " " << length;
            if (parsed) {
                EXPECT_FALSE(read.Committed);
            }
        }
        EXPECT_FALSE(ParseJournal(text + "x", read)) << committed;
        EXPECT_FALSE(ParseJournal("x" + text, read)) << committed;
    }
}

TEST(FileJournal, AJournalOfTheFormBeforeSwapsIsReadAndNoSwapInIt)
{
    // What an older build writes: the same lines under the header of its form, without swaps.
    const auto olderForm = [](FileTransaction transaction) {
        std::string text = JournalText(transaction);
        const size_t header = text.find('\n') + 1;
        return "kx-file-stage-journal 2\n" + text.substr(header);
    };
    FileTransaction withoutSwaps = Sample(false);
    withoutSwaps.Files.pop_back();
    FileTransaction read;
    ASSERT_TRUE(ParseJournal(olderForm(withoutSwaps), read));
    EXPECT_TRUE(Same(read, withoutSwaps));
    EXPECT_FALSE(ParseJournal(olderForm(Sample(false)), read));

    // Identities that no system gives, and none at all.
    for (const char *kept : {"0", "-1", "18446744073709551616", "x", ""}) {
        std::string text = JournalText(Sample(false));
        const size_t at = text.find("swap 18446744073709551615 ");
        ASSERT_NE(at, std::string::npos);
        text.replace(at, 26, std::string("swap ") + kept + " ");
        EXPECT_FALSE(ParseJournal(text, read)) << kept;
    }
}

class LogLines : public ILogSink {
public:
    LogLines() { SetLogSink(this); }
    ~LogLines() override { SetLogSink(nullptr); }
    void Write(LogLevel, std::string_view line) override { Text += std::string(line) + "\n"; }
    bool Has(const std::string &part) const { return Text.find(part) != std::string::npos; }
    std::string Text;
};

// Every entry below root: its bytes (files) and its modification time, so that a rename, a
// removal or a time set back shows.
std::map<std::string, std::string> Snapshot(const fs::path &root)
{
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root)) {
        std::string what = std::to_string(entry.last_write_time().time_since_epoch().count());
        if (entry.is_regular_file())
            what += " " + ReadWholeFile(entry.path());
        entries[fs::relative(entry.path(), root).generic_string()] = what;
    }
    return entries;
}

// A program folder with a journal, the product folder P it was written for, and a folder
// outside both with files and a folder of its own, which no journal may reach.
class JournalWorld {
public:
    JournalWorld()
    {
        // What a stage cut short amid its renames leaves: the new a.txt in place, the old one
        // kept aside, the new sub/new.txt in the new folder sub.
        temp.Write("product/a.txt", "new a");
        temp.Write("product/.kxold-t-0", "old a");
        temp.Write("product/keep.cfg", "settings");
        temp.Write("product/sub/new.txt", "new");
        temp.Write("outside/victim.txt", "victim");
        temp.Write("outside/script.sh", "script");
        fs::create_directories(temp.Path() / "outside/empty");
        fs::create_directories(temp.Path() / "prog");
        Journal.ProductCode = "ABC";
        Journal.ProductFolder = P;
        Journal.Files = {{P + "/a.txt", P + "/.kxnew-t-0", P + "/.kxold-t-0"},
                         {P + "/sub/new.txt", P + "/sub/.kxnew-t-1", ""}};
        Journal.NewFolders = {P + "/sub"};
        Journal.FolderTimes = {{P, 1000000000}};
    }

    std::string Program() const { return temp.Slashed() + "prog/"; }
    std::string JournalFile() const { return Program() + "UpdateFiles.journal"; }
    std::string KeptFile() const { return JournalFile() + ".rejected-1"; }

    TempFolder temp;
    const std::string P = temp.Slashed() + "product";
    const std::string O = temp.Slashed() + "outside";
    FileTransaction Journal;
    SystemFileSystem files;
};

TEST(FileJournal, OnlyTheStagesOwnJournalForTheRegisteredFolderIsObeyed)
{
    using Change = std::function<void(JournalWorld &, FileTransaction &)>;
    const Change same = [](JournalWorld &, FileTransaction &) {};
    enum class Text { Whole, Torn, OlderKind, FolderInstead };
    struct Case {
        const char *what;
        Change change;
        std::string logged; // part of the reason; empty: the journal passes and is obeyed
        Text text = Text::Whole;
        std::optional<std::string> registered = "P"; // "P": the world's product folder
        bool windowsOnly = false;
    };
    const Case cases[] = {
        {"the stage's own journal", same, ""},
        {"the stage's own journal that made the product folder",
         [](JournalWorld &w, FileTransaction &t) {
             t.NewFolders.insert(t.NewFolders.begin(), w.P);
             t.FolderTimes = {{w.temp.Path().string(), 1000000000}};
         },
         ""},
        {"a target outside the product folder",
         [](JournalWorld &w, FileTransaction &t) {
             t.Files[1] = {w.O + "/victim.txt", w.O + "/.kxnew-t-1", ""};
         },
         "lies outside the product folder"},
        {"a target climbing out with ..",
         [](JournalWorld &w, FileTransaction &t) {
             t.Files[1] = {w.P + "/../outside/victim.txt", w.P + "/../outside/.kxnew-t-1", ""};
         },
         "the name \"..\""},
        {"a relative target",
         [](JournalWorld &, FileTransaction &t) {
             t.Files[1] = {"victim.txt", ".kxnew-t-1", ""};
         },
         "lies outside the product folder"},
        {"a target below an absolute path",
         [](JournalWorld &w, FileTransaction &t) {
             t.Files[1] = {w.P + "/" + w.O + "/victim.txt", w.P + "/" + w.O + "/.kxnew-t-1", ""};
         },
         "below the product folder"},
        {"a kept file elsewhere",
         [](JournalWorld &w, FileTransaction &t) { t.Files[0].Backup = w.O + "/script.sh"; },
         "is not the file stage's own name beside it"},
        {"a kept file of a foreign name beside its target",
         [](JournalWorld &w, FileTransaction &t) { t.Files[0].Backup = w.P + "/keep.cfg"; },
         "is not the file stage's own name beside it"},
        {"a temporary file of a foreign name",
         [](JournalWorld &w, FileTransaction &t) { t.Files[1].Temp = w.P + "/keep.cfg"; },
         "is not the file stage's own name beside it"},
        {"names of another stage",
         [](JournalWorld &w, FileTransaction &t) { t.Files[1].Temp = w.P + "/sub/.kxnew-u-1"; },
         "is not the file stage's own name beside it"},
        {"a file to swap without a kept file",
         [](JournalWorld &, FileTransaction &t) { t.Files[1].Kept = 7; },
         "is to be swapped but has no kept file"},
        {"a target named twice",
         [](JournalWorld &w, FileTransaction &t) {
             t.Files[1] = {w.P + "/a.txt", w.P + "/.kxnew-t-1", w.P + "/.kxold-t-1"};
         },
         "is named twice"},
        {"a new folder outside",
         [](JournalWorld &w, FileTransaction &t) { t.NewFolders.push_back(w.O + "/empty"); },
         "lies outside the product folder"},
        {"a folder time outside",
         [](JournalWorld &w, FileTransaction &t) {
             t.FolderTimes.push_back({w.O, 0});
         },
         "lies outside the product folder"},
        {"a parent of the product folder that the stage did not make",
         [](JournalWorld &w, FileTransaction &t) {
             t.FolderTimes.push_back({w.temp.Path().string(), 0});
         },
         "lies outside the product folder"},
        {"a product not registered here", same, "which is not registered", Text::Whole,
         std::nullopt},
        {"a product registered in another folder", same,
         "which is registered with the folder /elsewhere", Text::Whole, "/elsewhere"},
        {"a torn journal", same, "is torn", Text::Torn},
        {"a journal of an older kind", same, "is torn", Text::OlderKind},
        {"a folder where the journal goes", same, "is a folder", Text::FolderInstead},
        {"a Windows separator climbing out",
         [](JournalWorld &w, FileTransaction &t) {
             t.Files[1] = {w.P + "/sub\\..\\..\\outside\\victim.txt",
                           w.P + "/sub\\..\\..\\outside\\.kxnew-t-1", ""};
         },
         "the name \"..\"", Text::Whole, "P", true},
        {"a Windows stream",
         [](JournalWorld &w, FileTransaction &t) { t.Files[0].Target = w.P + "/a.txt:x"; },
         "a \":\"", Text::Whole, "P", true},
    };
    const bool windows = IsPathSeparator('\\');
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string where = "case " + std::to_string(i) + " (" + c.what + ")";
        if (c.windowsOnly && !windows)
            continue;
        JournalWorld world;
        c.change(world, world.Journal);
        std::string text = JournalText(world.Journal);
        switch (c.text) {
        case Text::Whole:
            break;
        case Text::Torn:
            text.resize(text.size() - 5);
            break;
        case Text::OlderKind:
            text = "kx-file-stage-journal 1\nend\n";
            break;
        case Text::FolderInstead:
            text.clear();
            world.temp.Write("prog/UpdateFiles.journal/x", "x");
            break;
        }
        if (!text.empty())
            world.temp.Write("prog/UpdateFiles.journal", text);
        const std::optional<std::string> registered =
            c.registered == "P" ? std::optional<std::string>(world.P) : c.registered;
        const RegisteredFolder lookup = [&](const std::string &code) {
            EXPECT_EQ(code, "ABC") << where;
            return registered;
        };
        const auto product = Snapshot(world.temp.Path() / "product");
        const auto outside = Snapshot(world.temp.Path() / "outside");
        LogLines log;

        const bool recovered = RecoverFileStage(world.files, world.Program(), lookup);

        if (c.logged.empty()) {
            // Rolled back: the old a.txt in place, the new file and folder gone.
            EXPECT_TRUE(recovered) << where << "\n" << log.Text;
            EXPECT_EQ(ReadWholeFile(world.P + "/a.txt"), "old a") << where;
            EXPECT_FALSE(fs::exists(world.P + "/sub")) << where;
            EXPECT_FALSE(fs::exists(world.JournalFile())) << where;
            EXPECT_FALSE(fs::exists(world.KeptFile())) << where;
            EXPECT_EQ(Snapshot(world.temp.Path() / "outside"), outside) << where;
            continue;
        }
        EXPECT_FALSE(recovered) << where;
        EXPECT_EQ(Snapshot(world.temp.Path() / "product"), product) << where;
        EXPECT_EQ(Snapshot(world.temp.Path() / "outside"), outside) << where;
        EXPECT_FALSE(fs::exists(world.JournalFile())) << where;
        if (text.empty())
            EXPECT_TRUE(fs::is_directory(world.KeptFile())) << where;
        else
            EXPECT_EQ(ReadWholeFile(world.KeptFile()), text) << where;
        EXPECT_TRUE(log.Has(c.logged)) << where << "\n" << log.Text;
        EXPECT_TRUE(log.Has("nothing it names was touched, and it is kept as " + world.KeptFile()))
            << where << "\n"
            << log.Text;

        // The next start: still blocked, and it says why and what to do; nothing touched.
        LogLines again;
        EXPECT_FALSE(RecoverFileStage(world.files, world.Program(), lookup)) << where;
        EXPECT_TRUE(again.Has("no upgrade runs from this program folder while " + world.KeptFile()))
            << where << "\n"
            << again.Text;
        EXPECT_TRUE(again.Has(c.logged)) << where << "\n" << again.Text;
        EXPECT_TRUE(again.Has("then deletes " + world.KeptFile())) << where;
        EXPECT_EQ(Snapshot(world.temp.Path() / "product"), product) << where;
        EXPECT_EQ(Snapshot(world.temp.Path() / "outside"), outside) << where;

        // Once an administrator has removed it, nothing blocks.
        fs::remove_all(world.KeptFile());
        EXPECT_TRUE(RecoverFileStage(world.files, world.Program(), lookup)) << where;
    }
}

} // namespace

} // namespace offline_upgrade
