// RunWinZip and the libzip packer behind it: archives read back with unzip -t and libzip.
#include "workfiles/winzip.h"
#include "workfiles/zip_packer.h"
#include "workfiles_fixture.h"
#include "zip_reader.h"

#include <QRandomGenerator>

#include <csignal>
#include <sys/resource.h>

namespace lf::test {
namespace {

namespace fs = std::filesystem;
using workfiles::RunWinZip;

std::string textOf(int bytes, char seed) {
    std::string s;
    while (static_cast<int>(s.size()) < bytes)
        s += "Module " + std::string(1, seed) + " slide text that compresses well. ";
    s.resize(static_cast<size_t>(bytes));
    return s;
}

std::string randomBytes(size_t n) {
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return s;
}

std::vector<std::string> hiddenLeftovers(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().filename().string().front() == '.')
            out.push_back(e.path().filename().string());
    }
    return out;
}

class WinZipTest : public DriveTTest {
protected:
    void SetUp() override {
        DriveTTest::SetUp();
        work = driveT / "work";
        fs::create_directories(work / "sub");
        deck = readFile(corpusFiles("pptx").at(0));
        writeFile(work / "Module 1.pptx", deck);
        writeFile(work / "a.txt", textOf(100000, 'a'));
        writeFile(work / "sub" / "inner.txt", "in a subfolder");
    }
    fs::path work;
    std::string deck;
};

TEST_F(WinZipTest, PacksTheFolderItLiesInWithoutItself) {
    EXPECT_EQ(RunWinZip("T:\\work\\*.*", "T:\\work\\Course.zip"), QString());
    ASSERT_TRUE(fs::is_regular_file(work / "Course.zip"));
    QString out;
    EXPECT_EQ(unzipTest(work / "Course.zip", &out), 0) << out.toStdString();
    auto entries = readZip(work / "Course.zip");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries["Module 1.pptx"].data, deck);
    EXPECT_EQ(entries["a.txt"].data, textOf(100000, 'a'));
    EXPECT_EQ(entries["a.txt"].compression, ZIP_CM_DEFLATE);
    EXPECT_LT(fs::file_size(work / "Course.zip"), deck.size() + 20000); // the text shrank
    EXPECT_TRUE(hiddenLeftovers(work).empty());

    // Packing again adds to the archive, still without the archive itself.
    RunWinZip("T:\\work\\*.*", "T:\\work\\Course.zip");
    EXPECT_EQ(readZip(work / "Course.zip").size(), 2u);
    EXPECT_EQ(unzipTest(work / "Course.zip"), 0);
}

TEST_F(WinZipTest, AddingReplacesEntriesOfTheSameNameAndKeepsTheRest) {
    RunWinZip("T:\\work\\*.*", "T:\\work\\Course.zip");
    writeFile(work / "a.txt", "a new a");
    writeFile(work / "b.txt", textOf(5000, 'b'));
    RunWinZip("T:\\work\\*.txt", "T:\\work\\Course.zip");
    auto entries = readZip(work / "Course.zip");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries["a.txt"].data, "a new a");
    EXPECT_EQ(entries["b.txt"].data, textOf(5000, 'b'));
    EXPECT_EQ(entries["Module 1.pptx"].data, deck); // copied over from the old archive
    EXPECT_EQ(unzipTest(work / "Course.zip"), 0);
}

TEST_F(WinZipTest, NamesOfOtherCaseReplaceAsOnWindows) {
    RunWinZip("T:\\work\\a.txt", "T:\\out.zip");
    fs::remove(work / "a.txt");
    writeFile(work / "A.TXT", "upper");
    RunWinZip("T:\\work\\*.txt", "T:\\out.zip");
    auto entries = readZip(driveT / "out.zip");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->first, "A.TXT");
    EXPECT_EQ(entries.begin()->second.data, "upper");
}

TEST_F(WinZipTest, PathsWithBlanksArePassedWhole) {
    fs::create_directories(driveT / "my course");
    writeFile(driveT / "my course" / "Lab 1.docx", textOf(3000, 'l'));
    EXPECT_EQ(RunWinZip("T:\\my course\\*.*", "T:\\my course\\Course Pack.zip"), QString());
    auto entries = readZip(driveT / "my course" / "Course Pack.zip");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->first, "Lab 1.docx");
}

TEST_F(WinZipTest, AMissingFolderIsNamed) {
    const QString failure = RunWinZip("T:\\nowhere\\*.*", "T:\\work\\Course.zip");
    EXPECT_TRUE(failure.contains("T:\\nowhere")) << failure.toStdString();
    EXPECT_FALSE(fs::exists(work / "Course.zip"));
    EXPECT_TRUE(log.lines.isEmpty()); // the caller's failure line says it
}

TEST_F(WinZipTest, NothingMatchingLeavesTheArchiveAsItWas) {
    RunWinZip("T:\\work\\*.*", "T:\\work\\Course.zip");
    const std::string before = readFile(work / "Course.zip");
    EXPECT_EQ(RunWinZip("T:\\work\\*.pdf", "T:\\work\\Course.zip"),
              "WinZip found no files matching T:\\work\\*.pdf");
    EXPECT_EQ(readFile(work / "Course.zip"), before);
}

TEST_F(WinZipTest, ADamagedArchiveIsNamedAndLeftAlone) {
    writeFile(work / "Course.zip", "this is not a zip file at all");
    const QString failure = RunWinZip("T:\\work\\*.*", "T:\\work\\Course.zip");
    EXPECT_TRUE(failure.contains("T:\\work\\Course.zip")) << failure.toStdString();
    EXPECT_EQ(readFile(work / "Course.zip"), "this is not a zip file at all");
    EXPECT_TRUE(hiddenLeftovers(work).empty());
}

TEST_F(WinZipTest, AnUnreadableInputFailsThePackAndNamesTheFile) {
    RunWinZip("T:\\work\\*.*", "T:\\work\\Course.zip");
    const std::string before = readFile(work / "Course.zip");
    const auto result =
        workfiles::packFiles(QString::fromStdString((work / "Course.zip").string()),
                             {{QString::fromStdString((work / "a.txt").string()), "a.txt"},
                              {QString::fromStdString((work / "gone.pptx").string()), "gone.pptx"}});
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.failedFile.endsWith("gone.pptx"));
    EXPECT_FALSE(result.reason.isEmpty());
    EXPECT_EQ(readFile(work / "Course.zip"), before);
    EXPECT_TRUE(hiddenLeftovers(work).empty());
}

TEST_F(WinZipTest, NamesWithFoldersAreRefused) {
    const auto result =
        workfiles::packFiles(QString::fromStdString((work / "x.zip").string()),
                             {{QString::fromStdString((work / "a.txt").string()), "sub/a.txt"}});
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(fs::exists(work / "x.zip"));
}

// A full disk, made by a file-size limit: the new archive cannot be written, the old one stays.
TEST_F(WinZipTest, AFullDiskLeavesTheOldArchiveAsItWas) {
    RunWinZip("T:\\work\\*.*", "T:\\work\\Course.zip");
    const std::string before = readFile(work / "Course.zip");
    writeFile(work / "big.bin", randomBytes(3 * 1024 * 1024));

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString failure = RunWinZip("T:\\work\\*.*", "T:\\work\\Course.zip");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(failure.contains("T:\\work\\Course.zip")) << failure.toStdString();
    EXPECT_EQ(readFile(work / "Course.zip"), before);
    EXPECT_TRUE(hiddenLeftovers(work).empty());
}

} // namespace
} // namespace lf::test
