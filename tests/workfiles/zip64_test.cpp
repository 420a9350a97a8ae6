// A file past 4 GiB needs zip64 records: the packer writes them and unzip reads the archive back.
#include "test_support.h"
#include "workfiles/zip_packer.h"
#include "zip_reader.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lf::test {
namespace {

namespace fs = std::filesystem;

TEST(Zip64Test, AFileLargerThanFourGigabytesRoundTrips) {
    TempDir temp;
    const fs::path big = temp / "big.bin";
    const std::uint64_t size = (std::uint64_t{1} << 32) + 4096;
    {
        std::ofstream f(big, std::ios::binary);
        f.seekp(static_cast<std::streamoff>(size - 5));
        f.write("tail!", 5); // sparse: zeros up to the tail
    }
    ASSERT_EQ(fs::file_size(big), size);
    const fs::path archive = temp / "big.zip";
    const auto result = workfiles::packFiles(QString::fromStdString(archive.string()),
                                             {{QString::fromStdString(big.string()), "big.bin"}});
    ASSERT_TRUE(result.ok) << result.reason.toStdString();
    auto entries = readZip(archive, false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries["big.bin"].size, size);
    EXPECT_EQ(entries["big.bin"].compression, ZIP_CM_DEFLATE);
    QString out;
    EXPECT_EQ(unzipTest(archive, &out, 600000), 0) << out.toStdString();
}

// More than 65535 entries need the zip64 end records too.
TEST(Zip64Test, MoreEntriesThanTheOldCountHolds) {
    TempDir temp;
    std::vector<workfiles::PackInput> inputs;
    const int count = 65600;
    for (int i = 0; i < count; ++i) {
        const std::string name = "n" + std::to_string(i) + ".txt";
        writeFile(temp / name, std::to_string(i));
        inputs.push_back({QString::fromStdString((temp / name).string()), QString::fromStdString(name)});
    }
    const fs::path archive = temp / "many.zip";
    const auto result = workfiles::packFiles(QString::fromStdString(archive.string()), inputs);
    ASSERT_TRUE(result.ok) << result.reason.toStdString();
    EXPECT_EQ(result.entriesWritten, count);
    auto entries = readZip(archive);
    ASSERT_EQ(entries.size(), static_cast<size_t>(count));
    EXPECT_EQ(entries["n65599.txt"].data, "65599");
    QString out;
    EXPECT_EQ(unzipTest(archive, &out, 600000), 0) << out.right(500).toStdString();
}

} // namespace
} // namespace lf::test
