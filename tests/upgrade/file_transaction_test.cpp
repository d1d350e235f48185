// The journal of the file stage: what it records comes back byte for byte, and a journal cut
// anywhere is never taken for a whole one.

#include "upgrade/file_transaction.h"

#include <gtest/gtest.h>

#include <string>

namespace {

FileTransaction Sample(bool committed)
{
    FileTransaction transaction;
    // Names hold every byte a journal line could trip on.
    transaction.Files.push_back({"/p/a b.txt", "/p/.kxnew-x-0", "/p/.kxold-x-0"});
    transaction.Files.push_back({"/p/line\nend 12:x", "/p/.kxnew-x-1", ""});
    transaction.Files.push_back({std::string("/p/\xB3\xCC\0z", 8), "/p/.kxnew-x-2", ""});
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
            a.Files[i].Backup != b.Files[i].Backup)
            return false;
    }
    for (size_t i = 0; i < a.FolderTimes.size(); ++i) {
        if (a.FolderTimes[i].Folder != b.FolderTimes[i].Folder ||
            a.FolderTimes[i].Modified != b.FolderTimes[i].Modified)
            return false;
    }
    return a.NewFolders == b.NewFolders && a.Committed == b.Committed;
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

} // namespace
