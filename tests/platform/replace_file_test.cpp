// Replacing a file through a temporary beside it: what a reader of the folder sees before, during and
// after, for the package save, the copies, the exports and the zips that all write this way.
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/replace_file.h"
#include "test_support.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <vector>

using namespace lf::platform;
using lf::test::readFile;
using lf::test::TempDir;
using lf::test::writeFile;

namespace {

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// Two copies into one folder at once (two operations staging into the working directory, or one
// target written twice) must not share a temporary: each writes its own, the target holds the old
// bytes until a rename, then whole bytes of one of them, and nothing is left behind.
TEST(ReplaceFile, ReplacementsOfOneTargetAtOnceNeverShareATemporary) {
    TempDir dir;
    const auto target = dir / "01_Intro.pptx";
    writeFile(target, "old");
    FileReplacement first(target), second(target);
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_NE(first.temporary(), second.temporary());
    EXPECT_EQ(first.temporary().filename().string().rfind(".01_Intro.pptx.lf-", 0), 0u)
        << first.temporary().filename();
    ASSERT_TRUE(first.write("first, and longer than the second") && second.write("second"));
    EXPECT_EQ(readFile(target), "old") << "nothing shows before a rename";
    ASSERT_TRUE(second.commit());
    EXPECT_EQ(readFile(target), "second");
    ASSERT_TRUE(first.commit());
    EXPECT_EQ(readFile(target), "first, and longer than the second");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"01_Intro.pptx"});
}

// A replacement that is given up (an exception, a failed write) or cannot start leaves the file as
// it was and no temporary; one that fails says which step and why.
TEST(ReplaceFile, AnAbandonedOrFailedReplacementLeavesTheFileAndNoTemporary) {
    TempDir dir;
    const auto target = dir / "Course.zip";
    writeFile(target, "the old archive");
    {
        FileReplacement abandoned(target);
        ASSERT_TRUE(abandoned.write("half an archive"));
    }
    EXPECT_EQ(readFile(target), "the old archive");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"Course.zip"});

    FileReplacement nowhere(dir / "missing" / "Course.zip");
    EXPECT_EQ(nowhere.failedStep(), ReplaceStep::CreateTemporary);
    EXPECT_EQ(nowhere.error(), ENOENT);
    EXPECT_FALSE(nowhere.write("x") || nowhere.commit());

    std::filesystem::create_directory(dir / "Folder");
    FileReplacement folder(dir / "Folder");
    EXPECT_EQ(folder.failedStep(), ReplaceStep::IsFolder);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"Course.zip", "Folder"}));
}

// The longest name a file system takes (255 bytes, here ending in a two-byte character) is written:
// the temporary's name is cut short, never inside a character, and its leftovers are still found.
TEST(ReplaceFile, ATargetNameOf255BytesIsWrittenThroughAShorterTemporary) {
    TempDir dir;
    const std::string name = std::string(240, 'n') + ".pp\xc3\xa9" + std::string(10, 'x');
    ASSERT_EQ(name.size(), 255u);
    FileReplacement replacement(dir / name);
    ASSERT_TRUE(replacement.ok()) << std::strerror(replacement.error());
    const std::string temporary = replacement.temporary().filename().string();
    EXPECT_LE(temporary.size(), 255u);
    EXPECT_EQ(temporary.substr(0, 245), "." + name.substr(0, 243) + ".") << "cut before the character";
    ASSERT_TRUE(replacement.write("long") && replacement.commit());
    EXPECT_EQ(readFile(dir / name), "long");

    // A leftover of a killed replacement of that name goes with the next one.
    writeFile(dir / temporary, "leftover");
    FileReplacement next(dir / name);
    ASSERT_TRUE(next.write("again") && next.commit());
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{name});
}

// Course decks are often read-only (a CD, a corpus kept read-only). Staging copies them with their
// permissions, and staging again must replace the read-only copy of the last run, not fail on it.
TEST(ReplaceFile, ACopyKeepsItsSourcesModeAndReplacesAReadOnlyCopyOfItself) {
    TempDir dir;
    writeFile(std::filesystem::path((configFolder() + "/drives.ini").toStdString()),
              ("[Drives]\nD=" + dir.qpath() + "\n").toStdString());
    writeFile(dir / "a.pptx", "deck");
    std::filesystem::permissions(dir / "a.pptx", std::filesystem::perms(0444));
    QString error;
    EXPECT_EQ(copyFile("D:\\a.pptx", "D:\\b.pptx", &error), CopyOutcome::Created) << error.toStdString();
    std::filesystem::permissions(dir / "a.pptx", std::filesystem::perms(0644));
    writeFile(dir / "a.pptx", "deck, changed");
    std::filesystem::permissions(dir / "a.pptx", std::filesystem::perms(0444));
    EXPECT_EQ(copyFile("D:\\a.pptx", "D:\\b.pptx", &error), CopyOutcome::Replaced) << error.toStdString();
    EXPECT_EQ(readFile(dir / "b.pptx"), "deck, changed");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "b.pptx").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    QFile::remove(configFolder() + "/drives.ini");
}
