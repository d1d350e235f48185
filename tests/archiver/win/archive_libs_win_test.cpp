// The archive libraries as the Windows archiver links them (cross-built, static, Windows'
// crypto): an AES entry written by libzip is read back by libarchive with its password, and a
// wrong password yields no bytes. A build whose crypto backend is missing or broken fails here
// before the archiver's own tests would only say "cannot extract".
#include "tests/support/temp_folder.h"

#include <archive.h>
#include <archive_entry.h>
#include <zip.h>

#include <gtest/gtest.h>

#include <string>

namespace kx_rar {

using offline_upgrade::TempFolder;

namespace {

const std::string kContent = "the same bytes after the round trip\n";

// An archive of one entry, "a.txt", encrypted with `method` under `password`.
void WriteEncrypted(const std::string &path, zip_uint16_t method, const char *password)
{
    int error = 0;
    zip_t *zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(zip, nullptr) << "zip_open: " << error;
    zip_source_t *source = zip_source_buffer(zip, kContent.data(), kContent.size(), 0);
    ASSERT_NE(source, nullptr);
    const zip_int64_t index = zip_file_add(zip, "a.txt", source, ZIP_FL_ENC_UTF_8);
    ASSERT_GE(index, 0) << zip_strerror(zip);
    ASSERT_EQ(zip_file_set_encryption(zip, static_cast<zip_uint64_t>(index), method, password), 0)
        << zip_strerror(zip);
    ASSERT_EQ(zip_close(zip), 0) << zip_strerror(zip);
}

// The first entry's bytes as libarchive gives them with `password`; empty when refused.
std::string ReadFirst(const std::string &path, const char *password)
{
    archive *reader = archive_read_new();
    archive_read_support_format_zip(reader);
    archive_read_add_passphrase(reader, password);
    std::string bytes;
    archive_entry *entry = nullptr;
    if (archive_read_open_filename(reader, path.c_str(), 4096) == ARCHIVE_OK &&
        archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        char buffer[4096];
        la_ssize_t n = 0;
        while ((n = archive_read_data(reader, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, static_cast<size_t>(n));
        if (n < 0)
            bytes.clear();
    }
    archive_read_free(reader);
    return bytes;
}

struct Method {
    const char *name;
    zip_uint16_t method;
};

class ArchiveLibsWinTest : public ::testing::TestWithParam<Method> {};

TEST_P(ArchiveLibsWinTest, RoundTripsWithThePasswordAndRefusesAWrongOne)
{
    const TempFolder folder;
    const std::string path = (folder.Path() / "enc.zip").string();
    WriteEncrypted(path, GetParam().method, "s3cret");
    EXPECT_EQ(ReadFirst(path, "s3cret"), kContent);
    EXPECT_EQ(ReadFirst(path, "wrong"), "");
}

INSTANTIATE_TEST_SUITE_P(Methods, ArchiveLibsWinTest,
                         ::testing::Values(Method{"Aes256", ZIP_EM_AES_256},
                                           Method{"Aes128", ZIP_EM_AES_128},
                                           Method{"Traditional", ZIP_EM_TRAD_PKWARE}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace

} // namespace kx_rar
