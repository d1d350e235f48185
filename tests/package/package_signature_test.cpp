// The signature check on package files and signature files made at test time, on the real file
// system, on both systems.

#include "package/package_signature.h"

#include "real_services.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/package_signer.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

const std::string kPackageBytes = [] {
    std::string bytes = "PK\x03\x04 a package's bytes ";
    for (int i = 0; i < 3000; ++i)
        bytes += static_cast<char>(i * 7);
    return bytes;
}();

struct Keys {
    TestSigningKey First = MakeTestSigningKey();
    TestSigningKey Second = MakeTestSigningKey();
    TestSigningKey Stranger = MakeTestSigningKey();
};

// What one row does: the PackageKey value, the package bytes on disk and the signature file's
// text (nothing: no signature file).
struct Given {
    std::string PackageKey;
    std::string Package = kPackageBytes;
    std::optional<std::string> Signature;
};

struct Row {
    const char *Name;
    std::function<Given(const Keys &)> Make;
    SignatureVerdict Expected;
};

std::string Sign(const TestSigningKey &key, const std::string &bytes, bool prehashed = true,
                 const std::string &comment = "timestamp:1\tfile:pkg_2.zip\thashed")
{
    return SignBytesForTest(key, bytes, prehashed, comment);
}

std::string ReplaceLine(const std::string &text, size_t index, const std::string &line)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    lines[index] = line;
    std::string out;
    for (const std::string &l : lines)
        out += l + "\n";
    return out;
}

const Row kRows[] = {
    {"good",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes, Sign(k.First, kPackageBytes)};
     },
     SignatureVerdict::Good},
    {"unsigned",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes, std::nullopt};
     },
     SignatureVerdict::Missing},
    {"other key",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes, Sign(k.Stranger, kPackageBytes)};
     },
     SignatureVerdict::OtherKey},
    {"two keys, the second signs",
     [](const Keys &k) {
         return Given{k.First.PublicLine() + ";" + k.Second.PublicLine(), kPackageBytes,
                      Sign(k.Second, kPackageBytes)};
     },
     SignatureVerdict::Good},
    {"key value with blanks and ;",
     [](const Keys &k) {
         return Given{"  " + k.First.PublicLine() + " ;\t;\r\n" + k.Second.PublicLine() + " ; ",
                      kPackageBytes, Sign(k.Second, kPackageBytes)};
     },
     SignatureVerdict::Good},
    {"a part that is no key beside a good one",
     [](const Keys &k) {
         return Given{"RWnotakey;" + k.First.PublicLine(), kPackageBytes,
                      Sign(k.First, kPackageBytes)};
     },
     SignatureVerdict::Good},
    {"no usable key in the value",
     [](const Keys &k) {
         return Given{"untrusted comment: minisign public key", kPackageBytes,
                      Sign(k.First, kPackageBytes)};
     },
     SignatureVerdict::NoUsableKey},
    {"one byte of the package changed",
     [](const Keys &k) {
         std::string changed = kPackageBytes;
         changed[1000] ^= 1;
         return Given{k.First.PublicLine(), changed, Sign(k.First, kPackageBytes)};
     },
     SignatureVerdict::BytesDiffer},
    {"byte appended to the package",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes + "x", Sign(k.First, kPackageBytes)};
     },
     SignatureVerdict::BytesDiffer},
    {"trusted comment altered",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes,
                      ReplaceLine(Sign(k.First, kPackageBytes), 2,
                                  "trusted comment: timestamp:1\tfile:pkg_9.zip\thashed")};
     },
     SignatureVerdict::CommentAltered},
    {"untrusted comment altered (allowed)",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes,
                      ReplaceLine(Sign(k.First, kPackageBytes), 0, "untrusted comment: edited")};
     },
     SignatureVerdict::Good},
    {"legacy signature",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes, Sign(k.First, kPackageBytes, false)};
     },
     SignatureVerdict::Good},
    {"legacy signature, one byte changed",
     [](const Keys &k) {
         std::string changed = kPackageBytes;
         changed[0] ^= 0x20;
         return Given{k.First.PublicLine(), changed, Sign(k.First, kPackageBytes, false)};
     },
     SignatureVerdict::BytesDiffer},
    {"prehashed signature relabelled legacy",
     [](const Keys &k) {
         // The same 64 bytes under the other algorithm must not verify.
         const std::string text = Sign(k.First, kPackageBytes);
         std::string raw;
         const size_t start = text.find('\n') + 1;
         const std::string line = text.substr(start, text.find('\n', start) - start);
         EXPECT_TRUE(DecodeBase64(line, 74, raw));
         raw[1] = 'd';
         return Given{k.First.PublicLine(), kPackageBytes, ReplaceLine(text, 1, EncodeBase64(raw))};
     },
     SignatureVerdict::BytesDiffer},
    {"signature file with CR LF",
     [](const Keys &k) {
         std::string text = Sign(k.First, kPackageBytes), crlf;
         for (char c : text)
             crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return Given{k.First.PublicLine(), kPackageBytes, crlf};
     },
     SignatureVerdict::Good},
    {"malformed: garbage",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes, std::string("hello\n")};
     },
     SignatureVerdict::Malformed},
    {"malformed: empty file",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes, std::string()};
     },
     SignatureVerdict::Malformed},
    {"malformed: signature line not Base64",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes,
                      ReplaceLine(Sign(k.First, kPackageBytes), 1, "RWQ!!!!")};
     },
     SignatureVerdict::Malformed},
    {"malformed: global signature missing",
     [](const Keys &k) {
         const std::string text = Sign(k.First, kPackageBytes);
         return Given{k.First.PublicLine(), kPackageBytes,
                      text.substr(0, text.rfind('\n', text.size() - 2) + 1)};
     },
     SignatureVerdict::Malformed},
    {"malformed: unknown algorithm",
     [](const Keys &k) {
         const std::string text = Sign(k.First, kPackageBytes);
         std::string raw;
         const size_t start = text.find('\n') + 1;
         EXPECT_TRUE(DecodeBase64(text.substr(start, text.find('\n', start) - start), 74, raw));
         raw[0] = 'X';
         return Given{k.First.PublicLine(), kPackageBytes, ReplaceLine(text, 1, EncodeBase64(raw))};
     },
     SignatureVerdict::Malformed},
    {"malformed: huge file",
     [](const Keys &k) {
         return Given{k.First.PublicLine(), kPackageBytes, std::string(200000, 'A')};
     },
     SignatureVerdict::Malformed},
};

TEST(PackageSignature, TableOfCases)
{
    const Keys keys;
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const Row &row = kRows[i];
        SCOPED_TRACE(std::string("row ") + std::to_string(i) + ": " + row.Name);
        TempFolder folder;
        const Given setup = row.Make(keys);
        const std::string package = folder.Write("pkg_2.zip", setup.Package).string();
        if (setup.Signature)
            folder.Write("pkg_2.zip.minisig", *setup.Signature);
        SystemFileSystem real;
        FaultyFileSystem files(real);
        const SignatureCheck check =
            VerifyPackageSignature(files, package, ParsePackageKeys(setup.PackageKey));
        EXPECT_EQ(SignatureVerdictText(check.Verdict),
                  std::string(SignatureVerdictText(row.Expected)))
            << check.Detail;
        EXPECT_FALSE(check.Detail.empty());
        // The package is opened at most once: the signature file, then one pass.
        EXPECT_LE(std::count(files.OperationNames.begin(), files.OperationNames.end(),
                             "OpenFileForReading"),
                  2);
        if (row.Expected == SignatureVerdict::Good) {
            EXPECT_NE(check.Detail.find("timestamp:1?file:pkg_2.zip?hashed"), std::string::npos)
                << "the verified trusted comment is shown, its tabs made visible: " << check.Detail;
        }
    }
}

TEST(PackageSignature, DigestIsTheBlake2bOfTheBytesAndTheCopyHoldsThem)
{
    const Keys keys;
    TempFolder folder;
    const std::string package = folder.Write("pkg_2.zip", kPackageBytes).string();
    folder.Write("pkg_2.zip.minisig", Sign(keys.First, kPackageBytes));
    SystemFileSystem files;
    const std::string copyPath = (folder.Path() / "copy.zip").string();
    std::unique_ptr<IFileWriter> copy = files.CreateNewFile(copyPath);
    ASSERT_TRUE(copy);
    int paced = 0;
    const SignatureCheck check = VerifyPackageSignature(
        files, package, ParsePackageKeys(keys.First.PublicLine()), {[&] { ++paced; }, copy.get()});
    ASSERT_TRUE(copy->Close());
    ASSERT_TRUE(check.Good()) << check.Detail;
    EXPECT_EQ(ReadWholeFile(copyPath), kPackageBytes);
    std::string digest;
    ASSERT_TRUE(HashFile(files, package, digest));
    EXPECT_EQ(check.Digest, digest);
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(KeyIdText(check.KeyId).size(), 16u);
    // A new file is never made over one that is there.
    EXPECT_FALSE(files.CreateNewFile(copyPath));
}

TEST(PackageSignature, KeyIdsReadAsMinisignShowsThem)
{
    EXPECT_EQ(KeyIdText(std::string("\x01\x02\x03\x04\x05\x06\x07\xAB", 8)), "AB07060504030201");
}

} // namespace

} // namespace offline_upgrade
