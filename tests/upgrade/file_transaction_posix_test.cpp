// The journal's rows that only POSIX has: a replaced file swapped with its new copy in one step
// is told from the new copy by its inode number, wherever a cut left the two.

#include "upgrade/file_transaction.h"

#include "real_services.h"
#include "tests/support/log_recorder.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace offline_upgrade {

namespace {

namespace fs = std::filesystem;

uint64_t InodeOf(const fs::path &path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

TEST(FileJournalPosix, ASwappedFileIsFoundByItsIdentityAndPutBack)
{
    enum class Left { Swapped, NotSwapped, RenamedAside, RenamedAsideAndReplaced, NeitherName };
    struct Case {
        const char *what;
        Left left;
        bool restored; // else both names are left as they are and the journal stays
    };
    const Case cases[] = {
        {"swapped: the replaced file under the temporary name", Left::Swapped, true},
        {"not yet swapped: the new copy under the temporary name", Left::NotSwapped, true},
        {"the swap refused: the replaced file renamed aside", Left::RenamedAside, true},
        {"the swap refused: renamed aside, the new copy in place", Left::RenamedAsideAndReplaced,
         true},
        {"neither name holds the replaced file", Left::NeitherName, false},
    };
    for (const Case &c : cases) {
        TempFolder temp;
        const std::string P = temp.Slashed() + "product";
        const fs::path target = P + "/a.txt", copy = P + "/.kxnew-t-0", aside = P + "/.kxold-t-0";
        temp.Write("product/a.txt", "old a");
        const uint64_t kept = InodeOf(target);
        temp.Write("product/.kxnew-t-0", "new a");
        switch (c.left) {
        case Left::Swapped:
            fs::rename(target, P + "/x");
            fs::rename(copy, target);
            fs::rename(P + "/x", copy);
            break;
        case Left::NotSwapped:
            break;
        case Left::RenamedAside:
            fs::rename(target, aside);
            break;
        case Left::RenamedAsideAndReplaced:
            fs::rename(target, aside);
            fs::rename(copy, target);
            break;
        case Left::NeitherName:
            // Another program put files of its own at both names meanwhile. The replaced file
            // lives on elsewhere, so that no new file can take its inode number.
            fs::rename(target, temp.Path() / "moved.txt");
            temp.Write("product/a.txt", "someone's a");
            fs::remove(copy);
            temp.Write("product/.kxnew-t-0", "someone's copy");
            break;
        }
        FileTransaction journal;
        journal.ProductCode = "ABC";
        journal.ProductFolder = P;
        journal.Files = {{target.string(), copy.string(), aside.string(), kept}};
        temp.Write("prog/UpdateFiles.journal", JournalText(journal));
        SystemFileSystem files;
        LogRecorder log;

        const bool recovered =
            RecoverFileStage(files, temp.Slashed() + "prog/",
                             [&](const std::string &) { return std::optional<std::string>(P); });

        EXPECT_EQ(recovered, c.restored) << c.what << "\n" << log.Text();
        EXPECT_EQ(fs::exists(temp.Path() / "prog/UpdateFiles.journal"), !c.restored) << c.what;
        if (c.restored) {
            EXPECT_EQ(ReadWholeFile(target), "old a") << c.what;
            EXPECT_EQ(InodeOf(target), kept) << c.what;
            EXPECT_FALSE(fs::exists(copy)) << c.what;
            EXPECT_FALSE(fs::exists(aside)) << c.what;
        } else {
            EXPECT_EQ(ReadWholeFile(target), "someone's a") << c.what;
            EXPECT_EQ(ReadWholeFile(copy), "someone's copy") << c.what;
            EXPECT_TRUE(log.Holds("is the file the stage replaced; both are left as they are"))
                << c.what << "\n"
                << log.Text();
        }
    }
}

} // namespace

} // namespace offline_upgrade
