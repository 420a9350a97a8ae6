// The print-ready run over a repository course: exported into the working directory, decks printed
// in the background, the PDFs printed on the PDF printer (not imported), and the print files imported
// into the repository destination as one zip; the repository's documents stay as they were.
#include "course_fixture.h"
#include "platform/dialogs.h"
#include "printready/modPrintReady.h"
#include "private_cups.h"
#include "repository_fixture.h"
#include "test_pdf.h"
#include "workfiles/working_files.h"

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

namespace fs = std::filesystem;

// Answers the boxes of the import step as a user who waits for the printing would.
class WaitingUser : public platform::MessageBoxService {
public:
    WaitingUser() : previous_(&platform::messageBoxes()) { platform::installMessageBoxes(this); }
    ~WaitingUser() override { platform::installMessageBoxes(previous_); }
    platform::MessageAnswer show(const platform::MessageRequest& request) override {
        titles.push_back(request.title);
        return request.buttons == platform::MessageButtons::YesNo ? platform::MessageAnswer::Yes
                                                                  : platform::MessageAnswer::Ok;
    }
    std::vector<QString> titles;

private:
    platform::MessageBoxService* previous_;
};

class PrintReadyRepository : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        const QString reason = PrivateCups::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        cups.emplace();
        fs::create_directories(driveT / "work");
        src = temp / "src";
        fs::create_directories(src);
        courseDeck(2, "Welcome").write(src / "00_Welcome.pptx");
        courseDeck(3, "Storage").write(src / "02_Storage.pptx");
        fs::copy_file(corpusFiles("docx").front(), src / "Handout.docx");
        repo->importFiles({src / "00_Welcome.pptx", src / "02_Storage.pptx", src / "Handout.docx"}, kCourse);
        tessarel::makeFolders(repo->admin, kOut);
        ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
        log.lines.clear();
    }

    fs::path content(const std::string& path) {
        const fs::path out = temp / "out" / fs::path(path).filename();
        fs::create_directories(out.parent_path());
        fs::remove(out);
        tessarel::TsObjectPtr o = repo->admin->objectByPath(path);
        if (!o)
            return {};
        o->getFile(out.string());
        return out;
    }

    static constexpr const char* kOut = "/Edvara/Courses/Printed";
    std::optional<PrivateCups> cups;
    fs::path src;
};

TEST_F(PrintReadyRepository, ExportedPrintedInTheBackgroundAndImportedAsOneZip) {
    WaitingUser user;
    printready::PrintSwitches switches;
    switches.useBackgroundPrinting = true;
    switches.publishPDFs = false;

    printready::RunPrintReady(kCourse, kOut, true, "T:\\work", true, true, "PrintReady.zip",
                              PrivateCups::psPrinter, PrivateCups::psPrinter, PrivateCups::pdfPrinter,
                              switches);

    const QStringList pru = linesOf("PRU");
    ASSERT_FALSE(pru.isEmpty());
    EXPECT_TRUE(pru.contains("Files downloaded to T:\\work for printing")) << pru.join("\n").toStdString();
    EXPECT_TRUE(pru.contains("Importing files into repository"));
    EXPECT_EQ(pru.last(), "If you printed PDF files, they must be imported and zipped manually")
        << pru.join("\n").toStdString();
    EXPECT_TRUE(std::find(user.titles.begin(), user.titles.end(), "Waiting for printing") !=
                user.titles.end());
    EXPECT_TRUE(log.failures.isEmpty()) << log.failures.join("\n").toStdString();

    // The zip holds every print file and only those: the PDF printer's files are its own.
    const fs::path zip = content(std::string(kOut) + "/PrintReady.zip");
    ASSERT_FALSE(zip.empty()) << "no zip was imported";
    std::map<std::string, std::string> entries = readZip(zip);
    ASSERT_EQ(entries.size(), 3u);
    for (const char* name : {"00_Welcome.prn", "02_Storage.prn", "Handout.prn"}) {
        ASSERT_TRUE(entries.count(name)) << name;
        EXPECT_EQ(entries[name].substr(0, 4), "%!PS") << name;
    }
    ASSERT_TRUE(cups->waitUntilIdle(PrivateCups::pdfPrinter));
    EXPECT_EQ(cups->pdfOutputs().size(), 3u) << "one PDF printer job per deck and document";

    // The repository's documents are as they were; the exported copies, the print files and their zip
    // are gone from the working directory once they are in the repository.
    EXPECT_EQ(readFile(content(std::string(kCourse) + "/02_Storage.pptx")),
              readFile(src / "02_Storage.pptx"));
    EXPECT_EQ(readFile(content(std::string(kCourse) + "/Handout.docx")), readFile(src / "Handout.docx"));
    EXPECT_FALSE(fs::exists(driveT / "work" / "02_Storage.pptx"));
    EXPECT_FALSE(fs::exists(driveT / "work" / "print ready" / "02_Storage.prn"));
    EXPECT_FALSE(fs::exists(driveT / "work" / "print ready" / "PrintReady.zip"));
    EXPECT_FALSE(fs::exists(driveT / "work" / ".lessonforge-files"));
}

} // namespace
} // namespace lf::test
