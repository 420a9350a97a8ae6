// lessonforge-run: the real wizard driven offscreen from the command line, run as its own process
// over course folders and a repository made here (the child shares this test's private folders).
#include "../workfiles/zip_reader.h"
#include "course_builder.h"
#include "courserun/course_run.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "private_postgres.h"
#include "repository_fixture.h"
#include "test_support.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include <unistd.h>

using namespace lf::test;
namespace fs = std::filesystem;

namespace {

struct RunResult {
    int exitCode = -1;
    QString out;
    QString err;
};

RunResult runTool(const QStringList& arguments, const char* program = LF_RUN_TOOL) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    RunResult r;
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(process.readAllStandardError());
    return r;
}

fs::path host(const QString& windowsPath) {
    const fs::path p = lf::platform::toHostPath(windowsPath).path.toStdString();
    fs::create_directories(p.parent_path());
    return p;
}

class RunTool : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        const fs::path c = lf::platform::driveFolder(QChar('C')).toStdString();
        for (const auto& entry : fs::directory_iterator(c))
            fs::remove_all(entry.path());
        fs::remove(fs::path(lf::platform::configFolder().toStdString()) / "Syllabo.ini");
        fs::create_directories(host("C:\\Out\\x"));
        fs::create_directories(host("C:\\syllabo\\x"));
        writeWordTemplate(host("C:\\Templates\\Template.docx"));
        writeDeck(host("C:\\Course\\x").parent_path(), "01_Intro.pptx",
                  {titledSlide("Welcome", {"apple"}), titledSlide("Agenda", {"Banana"})});
        writeDeck(host("C:\\Course\\x").parent_path(), "02_More.pptx", {titledSlide("More", {"apple"})});
    }
    const QStringList fields = {"--source",         "C:\\Course\\",
                                "--destination",    "C:\\Out",
                                "--toc-template",   "C:\\Templates\\Template.docx",
                                "--index-template", "C:\\Templates\\Template.docx",
                                "--toc-name",       "TOC.docx",
                                "--index-name",     "Index.docx",
                                "--course-name",    "Scripted Course"};
};

TEST_F(RunTool, RunsIndexAndTOCThroughTheWizard) {
    // A settings file written by another program in the ANSI code page: a run without --save-settings
    // leaves it byte for byte.
    const fs::path iniPath = fs::path(lf::platform::configFolder().toStdString()) / "Syllabo.ini";
    const std::string ansi = "; kept by hand\r\n[TOC Values]\r\nTOCCourseName=Caf\xe9 \x80 course\r\n";
    writeFile(iniPath, ansi);
    const RunResult r = runTool(QStringList{"--index", "--toc"} + fields);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.contains("Index - Begin")) << r.out.toStdString();
    EXPECT_TRUE(lines.contains("Index - Indexing Complete")) << r.out.toStdString();
    EXPECT_TRUE(lines.contains("TOC - TOC Creation Complete")) << r.out.toStdString();
    // The TOC read the decks the Index staged.
    EXPECT_TRUE(lines.contains("TOC - Opening C:\\syllabo\\01_Intro.pptx")) << r.out.toStdString();
    EXPECT_LT(lines.indexOf("Index - Indexing Complete"), lines.indexOf("TOC - Begin"));
    EXPECT_FALSE(r.out.contains("[page 4]")) << "page 4's check prints nothing for a clean course";
    EXPECT_EQ(nonEmptyTexts(readParagraphs(host("C:\\Out\\Index.docx"))),
              (std::vector<std::string>{"A", "apple, 1-1, 2-1", "B", "Banana, 1-2"}));
    EXPECT_EQ(readHeaderText(host("C:\\Out\\TOC.docx")), "Scripted Course");
    EXPECT_EQ(readFile(iniPath), ansi);

    // Again, saving the fields: the documents exist, and the answers decide per title.
    QStringList japanese = fields;
    japanese[japanese.indexOf("--course-name") + 1] = QString::fromUtf8("日本語コース");
    const RunResult again = runTool(
        QStringList{"--save-settings", "--index", "--toc", "--answer", "no", "--answer", "TOC Exists=yes"} +
        japanese);
    const std::string ini = readFile(iniPath);
    EXPECT_EQ(ini.rfind("\xEF\xBB\xBF; kept by hand\r\n", 0), 0u) << ini;
    EXPECT_NE(ini.find("TOCCourseName=日本語コース\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("SourcePath=C:\\Course\\\r\n"), std::string::npos) << ini;
    EXPECT_EQ(readHeaderText(host("C:\\Out\\TOC.docx")), "日本語コース");
    ASSERT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_TRUE(again.out.contains("[box] Index Exists: Index document exists.  OK to overwrite? -> No\n"))
        << again.out.toStdString();
    EXPECT_TRUE(again.out.contains("[box] TOC Exists: TOC document exists.  OK to overwrite? -> Yes\n"))
        << again.out.toStdString();
    EXPECT_FALSE(again.out.contains("Created index document in"));
    EXPECT_TRUE(again.out.contains("TOC - Created TOC document in C:\\Out"));
}

TEST_F(RunTool, WordsTaggedWithTheDeckToolReachTheIndexAndUntaggedOnesLeaveIt) {
    const fs::path course = host("C:\\Course\\x").parent_path();
    const auto deckTool = [&](const QStringList& arguments) {
        const RunResult r = runTool(arguments, LF_DECK_TOOL);
        EXPECT_EQ(r.exitCode, 0) << arguments.join(' ').toStdString() << "\n" << r.err.toStdString();
        return r;
    };
    const auto deck = [&](const char* name) { return QString::fromStdString((course / name).string()); };
    writeFile(temp / "intro.tsv", "# the words of module 1\n1\tCache\n2\tcache\n2\tbanana\n");
    writeFile(temp / "more.tsv", "1\tCache\n1\tZebra\n");
    EXPECT_TRUE(
        deckTool({"tag-from", deck("01_Intro.pptx"), QString::fromStdString((temp / "intro.tsv").string())})
            .out.contains("slide 2: \"banana\" is already tagged"));
    deckTool({"tag-from", deck("02_More.pptx"), QString::fromStdString((temp / "more.tsv").string())});

    RunResult r = runTool(QStringList{"--index"} + fields);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(nonEmptyTexts(readParagraphs(host("C:\\Out\\Index.docx"))),
              (std::vector<std::string>{"A", "apple, 1-1, 2-1", "B", "Banana, 1-2", "C",
                                        "Cache, 1-1, 1-2, 2-1", "Z", "Zebra, 2-1"}));

    deckTool({"untag", deck("02_More.pptx"), "1", "zebra"});
    deckTool({"untag", deck("01_Intro.pptx"), "2", "CACHE"});
    r = runTool(QStringList{"--index", "--answer", "yes"} + fields);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(nonEmptyTexts(readParagraphs(host("C:\\Out\\Index.docx"))),
              (std::vector<std::string>{"A", "apple, 1-1, 2-1", "B", "Banana, 1-2", "C", "Cache, 1-1, 2-1"}));
}

// What page 4's check finds is printed before the run, which goes on as at the window; a problem the
// run survives (a slide the TOC leaves out) leaves its exit status alone.
TEST_F(RunTool, PageFourProblemsArePrintedBeforeTheRunAndLeaveItsStatus) {
    writeDeck(host("C:\\Course\\x").parent_path(), "02_More.pptx", {titledSlide("More"), SlideSpec{}});
    const RunResult r = runTool(QStringList{"--toc"} + fields);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines[0].startsWith("[page 4] C:\\Course\\02_More.pptx: slide 2: no title shape"))
        << r.out.toStdString();
    EXPECT_EQ(lines[1], "TOC - Begin");
}

TEST_F(RunTool, FieldsNotGivenKeepTheSettingsFilesValues) {
    ASSERT_EQ(runTool(QStringList{"--save-settings", "--toc"} + fields).exitCode, 0);
    fs::remove(host("C:\\Out\\TOC.docx"));
    const RunResult r = runTool({"--toc", "--course-name", "Second name"});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_EQ(readHeaderText(host("C:\\Out\\TOC.docx")), "Second name");
}

TEST_F(RunTool, AnIncompletePageFourEndsWithItsHeader) {
    const RunResult r = runTool({"--toc", "--source", "C:\\Course"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("[page 4] Please complete all path information.  Click Back."))
        << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("TOC - Begin"));
}

TEST_F(RunTool, BadOptionsAreRefused) {
    EXPECT_EQ(runTool({}).exitCode, 2);
    EXPECT_EQ(runTool({"--toc", "--bogus"}).exitCode, 2);
    EXPECT_EQ(runTool({"--toc", "--answer", "maybe"}).exitCode, 2);
    EXPECT_EQ(runTool({"--toc", "--source"}).exitCode, 2);
    EXPECT_EQ(runTool({"--toc", "--user", "alice"}).exitCode, 2);
    const RunResult pdf = runTool({"--toc", "--pdf"});
    EXPECT_EQ(pdf.exitCode, 2);
    EXPECT_TRUE(pdf.err.contains("--print-ready")) << pdf.err.toStdString();
    EXPECT_EQ(runTool({"--toc", "--ppt-printer", "PS-Printer"}).exitCode, 2);
}

// A build server must see a failed run: each of these finishes page 5 but does not do its work.
TEST_F(RunTool, ARunThatFailsExitsThree) {
    fs::create_directories(host("C:\\Out\\x").parent_path());
    writeFile(host("C:\\Out\\a file"), "not a folder");
    const QStringList failing[] = {
        {"--index", "--source", "C:\\Nowhere"},
        {"--toc", "--source", "Q:\\Course"},
        {"--toc", "--toc-name", "..\\escaped_toc.docx"},
        {"--toc", "--destination", "C:\\Out\\a file"},
    };
    for (const QStringList& change : failing) {
        QStringList args = QStringList{change[0]} + fields;
        args[args.indexOf(change[1]) + 1] = change[2];
        const RunResult r = runTool(args);
        EXPECT_EQ(r.exitCode, 3) << change.join(' ').toStdString() << "\n" << r.out.toStdString();
        EXPECT_TRUE(r.err.contains("failure")) << r.err.toStdString();
    }
    EXPECT_FALSE(fs::exists(host("C:\\escaped_toc.docx")));
    EXPECT_EQ(readFile(host("C:\\Out\\a file")), "not a folder");
    EXPECT_EQ(runTool(QStringList{"--index", "--toc"} + fields).exitCode, 0);
}

// A line break in a field would plant lines of its own in the settings file (a working directory for
// every later run): page 4 refuses the field and nothing is saved, so the next run is not steered.
TEST_F(RunTool, AFieldHoldingALineBreakIsRefusedAndTheSettingsFileKeepsWhatItHeld) {
    ASSERT_EQ(runTool(QStringList{"--save-settings", "--toc"} + fields).exitCode, 0);
    const fs::path ini = fs::path(lf::platform::configFolder().toStdString()) / "Syllabo.ini";
    const std::string saved = readFile(ini);
    fs::create_directories(host("C:\\secret\\x").parent_path());
    writeFile(host("C:\\secret\\passwords.txt"), "hunter2");

    QStringList injected = QStringList{"--toc"} + fields;
    injected[injected.indexOf("--course-name") + 1] = "Course\n[Other Values]\nWorkingDirectory=C:\\secret";
    const RunResult r = runTool(injected);
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("[page 4] The Course Name holds a line break")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("TOC - Begin")) << r.out.toStdString();
    EXPECT_EQ(readFile(ini), saved);

    const RunResult zip = runTool(QStringList{"--zip"} + fields);
    EXPECT_EQ(zip.exitCode, 0) << zip.out.toStdString() << zip.err.toStdString();
    EXPECT_TRUE(fs::exists(host("C:\\Out\\Course.zip")));
    EXPECT_FALSE(zip.out.contains("secret")) << zip.out.toStdString();
}

// A course copied from an old Windows share can hold a name in Latin-1 bytes. The deck is a deck like
// any other: grayed in place, packed under the bytes of its name, read into the TOC, named in the log
// with the replacement character, its staged copy cleaned up, and a problem in it reported by --check.
TEST_F(RunTool, ADeckWhoseNameIsNotUtf8IsProcessedAndNamedLikeAnyOther) {
    const fs::path course = host("C:\\Course\\x").parent_path();
    const std::string name = "03_Sp\xe9"
                             "cial.pptx";
    const QString shown = QString::fromUtf8("03_Sp\uFFFDcial.pptx");
    writeDeck(course, name, {titledSlide("Special topics", {"cherry"})});
    const std::string before = readFile(course / name);

    const RunResult gray = runTool(QStringList{"--grayscale"} + fields);
    ASSERT_EQ(gray.exitCode, 0) << gray.out.toStdString() << gray.err.toStdString();
    EXPECT_NE(readFile(course / name), before);

    const RunResult zip = runTool(QStringList{"--zip"} + fields);
    ASSERT_EQ(zip.exitCode, 0) << zip.out.toStdString() << zip.err.toStdString();
    const std::vector<std::string> entries = rawEntryNames(host("C:\\Out\\Course.zip"));
    EXPECT_NE(std::find(entries.begin(), entries.end(), name), entries.end());

    const RunResult toc = runTool(QStringList{"--toc"} + fields);
    ASSERT_EQ(toc.exitCode, 0) << toc.out.toStdString() << toc.err.toStdString();
    const std::vector<std::string> paragraphs = nonEmptyTexts(readParagraphs(host("C:\\Out\\TOC.docx")));
    EXPECT_NE(std::find(paragraphs.begin(), paragraphs.end(), "Module 3: Special topics"), paragraphs.end());
    EXPECT_NE(std::find(paragraphs.begin(), paragraphs.end(), "Special topics\t3-1"), paragraphs.end());
    EXPECT_TRUE(toc.out.contains(shown)) << toc.out.toStdString();
    for (const auto& entry : fs::directory_iterator(host("C:\\syllabo\\x").parent_path()))
        EXPECT_EQ(entry.path().filename().string().rfind("03_Sp", 0), std::string::npos) << entry.path();

    writeFile(course / name, "not a deck");
    const RunResult check = runTool(QStringList{"--toc", "--check"} + fields);
    EXPECT_EQ(check.exitCode, 3) << check.out.toStdString();
    EXPECT_TRUE(check.out.contains(shown + ": cannot be opened")) << check.out.toStdString();
}

// Two runs in one working directory would delete each other's files and pack each other's course:
// the second is refused, told which run holds it, and the first run's files stay.
TEST_F(RunTool, ASecondRunInTheSameWorkingDirectoryIsToldWhichRunHoldsIt) {
    {
        lf::courserun::CourseRun holder("C:\\syllabo");
        writeFile(host("C:\\syllabo\\01_Intro.pptx"), "the first run's staged deck");
        const RunResult r = runTool(QStringList{"--zip"} + fields);
        EXPECT_EQ(r.exitCode, 3) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains("The working directory C:\\syllabo is in use by another run"))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("(process " + QString::number(::getpid()) + ")")) << r.err.toStdString();
        EXPECT_FALSE(fs::exists(host("C:\\Out\\Course.zip")));
        EXPECT_EQ(readFile(host("C:\\syllabo\\01_Intro.pptx")), "the first run's staged deck");
    }
    fs::remove(host("C:\\syllabo\\01_Intro.pptx"));
    const RunResult after = runTool(QStringList{"--zip"} + fields);
    EXPECT_EQ(after.exitCode, 0) << after.out.toStdString() << after.err.toStdString();
    EXPECT_TRUE(fs::exists(host("C:\\Out\\Course.zip")));
}

// A script ends a run with SIGTERM: the Index stops at its next deck as a failure ends it, the TOC
// is not started, the one line is printed and the exit status is 3.
TEST_F(RunTool, SigtermStopsTheRunBetweenFilesAndExitsThree) {
    QProcess process;
    process.start(LF_RUN_TOOL, QStringList{"--index", "--toc"} + fields);
    QString out;
    while (!out.contains("Index - Begin") && process.waitForReadyRead(60000))
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
    ASSERT_TRUE(out.contains("Index - Begin")) << out.toStdString();
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(60000));
    out += QString::fromLocal8Bit(process.readAllStandardOutput());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 3) << out.toStdString();
    EXPECT_EQ(out.count("Stopped by the user"), 1) << out.toStdString();
    EXPECT_TRUE(out.contains("Index - Stopped by the user")) << out.toStdString();
    EXPECT_FALSE(out.contains("TOC - ")) << out.toStdString();
    EXPECT_FALSE(fs::exists(host("C:\\Out\\Index.docx")));
    for (const auto& entry : fs::directory_iterator(host("C:\\syllabo\\x").parent_path()))
        EXPECT_TRUE(entry.is_directory() || entry.path().filename().string().front() == '.') << entry.path();
}

TEST_F(RunTool, LogsInWhenARepositoryPathNeedsIt) {
    const fs::path local = temp / "decks";
    fs::create_directories(local);
    repo->importFiles({writeDeck(local, "05_Repo.pptx", {titledSlide("From the repository", {"remote"})})},
                      kCourse);
    writeFile(temp / "password", std::string(kPassword) + "\n");
    QStringList args = {"--index",
                        "--source",
                        kCourse,
                        "--destination",
                        "C:\\Out",
                        "--index-template",
                        "C:\\Templates\\Template.docx",
                        "--index-name",
                        "Index.docx",
                        "--course-name",
                        "Remote"};
    const RunResult refused = runTool(args);
    EXPECT_EQ(refused.exitCode, 1) << refused.out.toStdString();
    EXPECT_TRUE(refused.out.contains("[login] no --repository")) << refused.out.toStdString();

    args << "--repository"
         << "ts_notes"
         << "--user" << kUser << "--password-file" << QString::fromStdString((temp / "password").string());
    const RunResult r = runTool(args);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Index - Files downloaded to C:\\syllabo for indexing"))
        << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(kPassword));
    EXPECT_EQ(nonEmptyTexts(readParagraphs(host("C:\\Out\\Index.docx"))),
              (std::vector<std::string>{"R", "remote, 5-1"}));
}

TEST_F(RunTool, ChecksOutGraysChecksInAndIndexesOnATeamRepository) {
    if (const QString why = PrivatePostgres::unavailableReason(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    // The same course on a private PostgreSQL server, listed as ts_notes; the run logs in as alice.
    sharedPostgres().exec("DROP ROLE IF EXISTS alice, bob");
    const auto database = sharedPostgres().makeDatabase("run_tool");
    repo = std::make_unique<TestRepository>("postgresql:" + database.conninfo, "ts_notes");
    writeFile(fs::path(lf::platform::configFolder().toStdString()) / "tessarel.ini",
              "[Repositories]\nts_notes=postgresql:" + database.conninfo + "\n");
    const fs::path local = temp / "decks";
    fs::create_directories(local);
    repo->importFiles({writeDeck(local, "05_Repo.pptx", {titledSlide("From the server", {"remote"})})},
                      kCourse);
    writeFile(temp / "password", std::string(kPassword) + "\n");
    const RunResult r =
        runTool({"--grayscale", "--index", "--source", kCourse, "--destination", "C:\\Out",
                 "--index-template", "C:\\Templates\\Template.docx", "--index-name", "Index.docx",
                 "--course-name", "Remote", "--repository", "ts_notes", "--user", kUser, "--password-file",
                 QString::fromStdString((temp / "password").string())});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(nonEmptyTexts(readParagraphs(host("C:\\Out\\Index.docx"))),
              (std::vector<std::string>{"R", "remote, 5-1"}));
    // The grayed deck came back as alice's new version, with no lock left.
    auto deck = repo->admin->objectByPath(std::string(kCourse) + "/05_Repo.pptx");
    ASSERT_TRUE(deck);
    EXPECT_EQ(deck->versionLabel(), "1.1");
    EXPECT_FALSE(deck->isCheckedOut());
    const auto versions = lf::tessarel::objectVersions(deck);
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions.back().modifier, kUser);
}

// The setting IndexLanguage, read with the others, reaches the check and the run: a Russian word in a German
// course is reported and gets a Russian letter; a tag that names no language gives way to the system's.
TEST_F(RunTool, TheIndexLanguageSettingReachesTheCheckAndTheRun) {
    const fs::path iniPath = fs::path(lf::platform::configFolder().toStdString()) / "Syllabo.ini";
    writeFile(iniPath, "[Other Values]\r\nIndexLanguage=de\r\n");
    writeDeck(host("C:\\Deutsch\\x").parent_path(), "01_Obst.pptx",
              {titledSlide("Obst", {"zucker", "Äpfel"}), titledSlide("Reise", {"Москва"})});
    QStringList args = fields;
    args[args.indexOf("--source") + 1] = "C:\\Deutsch";
    const QString cyrillic = "C:\\Deutsch\\01_Obst.pptx: slide 2: the tagged word \"Москва\" is written in "
                             "Cyrillic, which the Index's language (%1) does not index: it is grouped apart "
                             "from the language's words";
    const RunResult check = runTool(QStringList{"--check", "--index"} + args);
    EXPECT_EQ(check.exitCode, 3) << check.out.toStdString() << check.err.toStdString();
    EXPECT_EQ(check.out, cyrillic.arg("de") + "\n");
    const std::vector<std::string> index = {"A", "Äpfel, 1-1", "Z", "zucker, 1-1", "М", "Москва, 1-2"};
    const RunResult run = runTool(QStringList{"--index"} + args);
    ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(nonEmptyTexts(readParagraphs(host("C:\\Out\\Index.docx"))), index);

    // The system's language, in the "C" locale English.
    writeFile(iniPath, "[Other Values]\r\nIndexLanguage=de_DE\r\n");
    const QByteArray locale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    const RunResult fallback = runTool(QStringList{"--check", "--index"} + args);
    const RunResult fallbackRun = runTool(QStringList{"--index", "--answer", "Index Exists=yes"} + args);
    qputenv("LC_ALL", locale);
    const QString setting =
        "The setting IndexLanguage \"de_DE\" names no language (a tag such as de, sv-SE or "
        "ja): the Index follows the system's language, en";
    EXPECT_EQ(fallback.exitCode, 3) << fallback.out.toStdString() << fallback.err.toStdString();
    EXPECT_EQ(fallback.out, setting + "\n" + cyrillic.arg("en") + "\n");
    ASSERT_EQ(fallbackRun.exitCode, 0) << fallbackRun.out.toStdString() << fallbackRun.err.toStdString();
    EXPECT_TRUE(fallbackRun.out.contains("\nIndex - " + setting + "\n")) << fallbackRun.out.toStdString();
    EXPECT_EQ(nonEmptyTexts(readParagraphs(host("C:\\Out\\Index.docx"))), index);
}

// The check lists every problem a run would meet, one line each, and changes nothing.
TEST_F(RunTool, ChecksACourseAndListsEveryProblemAtOnce) {
    const fs::path course = host("C:\\Checked\\x").parent_path();
    const SlideSpec good = titledSlide("Welcome", {"apple"});
    SlideSpec bannerOnly;
    bannerOnly.shapes = {banner(2, "Module 1: Storage")};
    writeDeck(course, "01_Intro.pptx", {good, bannerOnly});
    writeDeck(course, "02_Again.pptx", {good});
    writeDeck(course, "02_Tags.pptx", {titledSlide("Tags", {"", "Smith, John", "fine"})});
    writeDeck(course, "03_Case.pptx", {good});
    writeDeck(course, "03_case.pptx", {good});
    writeFile(course / "04_Broken.pptx", "not a deck");
    writeDeck(course, "Intro.pptx", {good});
    // A template from another producer: no "Course Name" in its header, no TOC styles.
    fs::copy_file(corpusDir() / "docx" / "poi-sample.docx", host("C:\\Templates\\Other.docx"));
    writeWordTemplate(host("C:\\Templates\\Plain.docx"), "Our Course");
    auto snapshot = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry :
             fs::recursive_directory_iterator(lf::platform::driveFolder(QChar('C')).toStdString()))
            if (entry.is_regular_file())
                files[entry.path().string()] = readFile(entry.path());
        return files;
    };
    const auto before = snapshot();

    QStringList args = QStringList{"--check"} + fields;
    args[args.indexOf("--source") + 1] = "C:\\Checked";
    args[args.indexOf("--toc-template") + 1] = "C:\\Templates\\Other.docx";
    args[args.indexOf("--index-template") + 1] = "C:\\Templates\\Plain.docx";
    const RunResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 3) << r.out.toStdString() << r.err.toStdString();
    const QString toc = "the TOC leaves the slide out";
    const QStringList expected = {
        "C:\\Checked\\03_case.pptx: its name differs only in letter case from 03_Case.pptx: one "
        "would replace the other; rename one",
        "C:\\Checked\\01_Intro.pptx: slide 2: only a \"Module\" banner, no title shape, and no title "
        "placeholder: " +
            toc,
        "C:\\Checked\\02_Tags.pptx: module number 2 is used by 02_Again.pptx too: their references "
        "would read alike",
        "C:\\Checked\\02_Tags.pptx: slide 1: the tagged word is empty",
        "C:\\Checked\\02_Tags.pptx: slide 1: the tagged word \"Smith, John\" holds a comma, where the "
        "Index breaks its reference lines",
        "C:\\Checked\\04_Broken.pptx: cannot be opened: truncated: too short to be a zip package",
        "C:\\Checked\\Intro.pptx: Wrong Name: does not use the correct naming covention (a deck's "
        "name begins with its two-digit module number, an optional letter and \"_\", as "
        "03_Overview.pptx)",
        "C:\\Templates\\Other.docx: the header of its first section holds no \"Course Name\" for the "
        "course name",
        "C:\\Templates\\Other.docx: it has no \"TOC 2\" style: the document would take the built-in one",
        "C:\\Templates\\Other.docx: it has no \"TOC 3\" style: the document would take the built-in one",
        "C:\\Templates\\Plain.docx: the header of its first section holds no \"Course Name\" for the "
        "course name",
    };
    EXPECT_EQ(r.out.toStdString(), (expected.join('\n') + '\n').toStdString());
    EXPECT_FALSE(r.out.contains("[box]")) << r.out.toStdString();
    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(fs::exists(fs::path(lf::platform::configFolder().toStdString()) / "Syllabo.ini"));

    // The fixture's course is clean for the operations that read only its decks; the print-ready run
    // would also print its documents.
    writeFile(host("C:\\Course\\Handout.docx"), "not a document");
    const RunResult clean = runTool(QStringList{"--check", "--index", "--toc", "--grayscale"} + fields);
    EXPECT_EQ(clean.exitCode, 0) << clean.out.toStdString() << clean.err.toStdString();
    EXPECT_TRUE(clean.out.isEmpty()) << clean.out.toStdString();
    const RunResult printing = runTool(QStringList{"--check", "--print-ready"} + fields);
    EXPECT_EQ(printing.exitCode, 3) << printing.out.toStdString() << printing.err.toStdString();
    EXPECT_EQ(printing.out.toStdString(),
              "C:\\Course\\Handout.docx: cannot be opened: truncated: too short to be a zip package\n");

    // A repository course is read through the login.

    const fs::path local = temp / "decks";
    fs::create_directories(local);
    repo->importFiles({writeDeck(local, "05_Repo.pptx", {titledSlide("Remote", {"a\rb"})})}, kCourse);
    writeFile(temp / "password", std::string(kPassword) + "\n");
    const RunResult remote =
        runTool({"--check", "--index", "--source", kCourse, "--destination", "C:\\Out", "--index-template",
                 "C:\\Templates\\Template.docx", "--index-name", "Index.docx", "--repository", "ts_notes",
                 "--user", kUser, "--password-file", QString::fromStdString((temp / "password").string())});
    EXPECT_EQ(remote.exitCode, 3) << remote.out.toStdString() << remote.err.toStdString();
    EXPECT_TRUE(remote.out.contains(QString(kCourse) +
                                    "/05_Repo.pptx: slide 1: the tagged word \"ab\" holds a line break\n"))
        << remote.out.toStdString();
    EXPECT_FALSE(fs::exists(host("C:\\syllabo\\05_Repo.pptx")));
}

} // namespace

// One course per run: what a run of one course leaves (or what lies in the working directory) never
// reaches the outputs of another, and a failed step is never reported as done.
class OneCoursePerRun : public RunTool {
protected:
    static constexpr const char* kOut = "/Edvara/Courses/Out";
    // The names in the folder, hidden ones (the working files record) included, folders left out.
    static std::vector<std::string> filesIn(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file())
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::vector<std::string> zipEntries(const fs::path& zip) {
        QProcess unzip;
        unzip.start("unzip", {"-Z1", QString::fromStdString(zip.string())});
        unzip.waitForFinished(60000);
        std::vector<std::string> names;
        for (const QString& line : QString::fromLocal8Bit(unzip.readAllStandardOutput()).split('\n'))
            if (!line.isEmpty())
                names.push_back(line.toStdString());
        std::sort(names.begin(), names.end());
        return names;
    }
    QStringList login() {
        writeFile(temp / "password", std::string(kPassword) + "\n");
        return {"--repository", "ts_notes",        "--user",
                kUser,          "--password-file", QString::fromStdString((temp / "password").string())};
    }
    void importRepositoryCourse() {
        const fs::path local = temp / "decks";
        fs::create_directories(local);
        repo->importFiles({writeDeck(local, "05_Repo.pptx", {titledSlide("From the repository", {"remote"})}),
                           writeDeck(local, "06_Other.pptx", {titledSlide("Other", {"more"})})},
                          kCourse);
    }
};

TEST_F(OneCoursePerRun, AGrayscaleOfARepositoryCourseLeavesNothingForTheNextZip) {
    importRepositoryCourse();
    const RunResult gray = runTool(QStringList{"--grayscale", "--source", kCourse} + login());
    ASSERT_EQ(gray.exitCode, 0) << gray.out.toStdString();
    EXPECT_TRUE(gray.out.contains("Checkin - Items checked in")) << gray.out.toStdString();
    // The checked-in decks went with the check-in.
    EXPECT_EQ(filesIn(host("C:\\syllabo\\x").parent_path()), std::vector<std::string>{});

    const RunResult zip = runTool({"--zip", "--source", "C:\\Course", "--destination", "C:\\Out"});
    ASSERT_EQ(zip.exitCode, 0) << zip.out.toStdString();
    EXPECT_EQ(zipEntries(host("C:\\Out\\Course.zip")),
              (std::vector<std::string>{"01_Intro.pptx", "02_More.pptx"}));
}

// A deck another course left in the working directory is nobody's TOC: with its Index failing for a
// missing source, the TOC fails the same way instead of reading what lies there.
TEST_F(OneCoursePerRun, ATOCAfterAnIndexWithAMissingSourceReadsNoOtherCourse) {
    writeDeck(host("C:\\syllabo\\x").parent_path(), "07_Stranger.pptx", {titledSlide("Not this course", {})});
    QStringList args = QStringList{"--index", "--toc"} + fields;
    args[args.indexOf("--source") + 1] = "C:\\NoSuchCourse";
    const RunResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 3) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Index - The source path does not exist")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("TOC - The source path does not exist")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("07_Stranger")) << r.out.toStdString();
    EXPECT_EQ(filesIn(host("C:\\Out\\x").parent_path()), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(host("C:\\syllabo\\07_Stranger.pptx")));
}

// A TOC whose store failed stays nowhere: the next zip packs its own course and nothing else.
TEST_F(OneCoursePerRun, ATOCWhoseSaveFailedNeverReachesALaterZip) {
    QStringList args = QStringList{"--toc"} + fields;
    args[args.indexOf("--destination") + 1] = "C:\\Missing\\Out";
    const RunResult toc = runTool(args);
    EXPECT_EQ(toc.exitCode, 3) << toc.out.toStdString();
    EXPECT_EQ(filesIn(host("C:\\syllabo\\x").parent_path()), std::vector<std::string>{});

    const RunResult zip = runTool({"--zip", "--source", "C:\\Course", "--destination", "C:\\Out"});
    ASSERT_EQ(zip.exitCode, 0) << zip.out.toStdString();
    EXPECT_EQ(zipEntries(host("C:\\Out\\Course.zip")),
              (std::vector<std::string>{"01_Intro.pptx", "02_More.pptx"}));
}

// Grayscale, Index, TOC and zip from a repository course into a repository folder: every result is
// in the repository, and the working directory keeps nothing of the course, while a file the user keeps
// there stays untouched and is packed as before.
TEST_F(OneCoursePerRun, TheRepositoryRoundTripLeavesNothingInTheWorkingDirectory) {
    importRepositoryCourse();
    lf::tessarel::makeFolders(repo->admin, kOut);
    writeFile(host("C:\\syllabo\\Notes.txt"), "the user's own");
    const RunResult r =
        runTool(QStringList{"--grayscale", "--index", "--toc", "--zip", "--source", kCourse, "--destination",
                            kOut, "--toc-template", "C:\\Templates\\Template.docx", "--index-template",
                            "C:\\Templates\\Template.docx", "--toc-name", "TOC.docx", "--index-name",
                            "Index.docx", "--course-name", "Remote"} +
                login());
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
    for (const char* name : {"/Index.docx", "/TOC.docx", "/Course.zip"})
        EXPECT_TRUE(repo->admin->objectByPath(std::string(kOut) + name)) << name;
    EXPECT_EQ(filesIn(host("C:\\syllabo\\x").parent_path()), std::vector<std::string>{"Notes.txt"});
    EXPECT_EQ(readFile(host("C:\\syllabo\\Notes.txt")), "the user's own");
}
