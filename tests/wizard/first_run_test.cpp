// A first start: no settings file at all, a local course of real decks with tagged words, and the
// Index and the TOC run through the real window on the templates the program ships.
#include "course_builder.h"
#include "platform/doubles.h"
#include "platform/folders.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "wizard/frmWizard.h"
#include "wizard/program.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using namespace lf::wizard;

namespace {

fs::path host(const QString& windowsPath) {
    return lf::platform::hostFsPath(lf::platform::toHostPath(windowsPath).path);
}

bool holds(const std::vector<std::string>& texts, const std::string& part) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string& text) { return text.find(part) != std::string::npos; });
}

TEST(FirstRun, IndexAndTOCOfALocalCourseWorkOnTheShippedTemplates) {
    QFile::remove(lf::platform::configFolder() + "/Syllabo.ini");
    QFile::remove(lf::platform::configFolder() + "/drives.ini");
    fs::remove_all(host("C:\\Course"));
    fs::remove_all(host("C:\\Out"));
    fs::create_directories(host("C:\\Course"));
    fs::create_directories(host("C:\\Out"));
    lf::test::writeDeck(host("C:\\Course"), "01_Intro.pptx",
                        {lf::test::titledSlide("Welcome", {"apple", "banana"})});
    lf::test::writeDeck(host("C:\\Course"), "02_Storage.pptx",
                        {lf::test::titledSlide("Disks and volumes", {"cylinder"})});
    lf::oplog::RecordingLogSink log;
    lf::platform::ScriptedMessageBoxes boxes;
    lf::platform::RecordingSleeper sleeper;
    lf::platform::FixedPrinterCatalog printers{{"PDF Writer"}};

    frmWizard wizard(programParts());
    wizard.show();
    wizard.cmdNext->click();
    wizard.chkIndex->click();
    wizard.chkTOC->click();
    wizard.cmdNext->click();
    // The template fields are left as a fresh configuration fills them.
    wizard.txtSourcePath->setText("C:\\Course\\");
    wizard.txtDestinationPath->setText("C:\\Out\\");
    wizard.txtCourseName->setText("Storage Basics");
    wizard.cmdNext->click();
    ASSERT_TRUE(wizard.cmdNext->isEnabled()) << wizard.lblWelcome->text().toStdString();
    wizard.cmdNext->click();
    ASSERT_EQ(wizard.PageNumber, 5);

    const std::string lines = log.lines.join("\n").toStdString();
    EXPECT_TRUE(log.failures.isEmpty()) << lines;
    EXPECT_TRUE(boxes.shown.empty()) << lines;
    const fs::path toc = host("C:\\Out\\00b_Toc.docx");
    const fs::path index = host("C:\\Out\\00c_Index.docx");
    ASSERT_TRUE(fs::exists(toc)) << lines;
    ASSERT_TRUE(fs::exists(index)) << lines;
    // Both documents read back: the course's name in the header, its titles and tagged words in the body.
    EXPECT_EQ(lf::test::readHeaderText(toc), "Storage Basics");
    EXPECT_EQ(lf::test::readHeaderText(index), "Storage Basics");
    const auto tocTexts = lf::test::nonEmptyTexts(lf::test::readParagraphs(toc));
    EXPECT_TRUE(holds(tocTexts, "Table of Contents"));
    EXPECT_TRUE(holds(tocTexts, "Welcome"));
    EXPECT_TRUE(holds(tocTexts, "Disks and volumes"));
    const auto indexTexts = lf::test::nonEmptyTexts(lf::test::readParagraphs(index));
    for (const char* word : {"apple", "banana", "cylinder"})
        EXPECT_TRUE(holds(indexTexts, word)) << word;
    EXPECT_FALSE(holds(indexTexts, "template of Lessonforge")) << "the template's body is cleared";
    // The settings file written on the way keeps the shipped templates' paths.
    QFile settings(lf::platform::configFolder() + "/Syllabo.ini");
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        QString::fromUtf8(settings.readAll()).contains("TOCTemplate=" + wizard.txtTOCTemplate->text()));
}

} // namespace
