// The print-ready run over real decks and documents, with LibreOffice laying the pages out and a
// private CUPS server taking them: one print file per deck and document in the printer's language,
// slides for the "00" decks and notes pages for the others, PDFs beside them, the runs that cannot
// print saying why, an office instance that dies in the middle of a course, and a repository course
// exported, printed in the background and imported as one zip, a print-ready folder whose disk is
// full. No source file changes, ever.
#include "course_fixture.h"
#include "courserun/course_run.h"
#include "office/builder/document.h"
#include "platform/doubles.h"
#include "printready/modPrintReady.h"
#include "private_cups.h"
#include "small_disk.h"
#include "test_pdf.h"

#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

namespace fs = std::filesystem;
using printready::PrintSwitches;

// Every file of a folder with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = readFile(entry.path());
    return files;
}

// True when the first page of the PDF is taller than wide (a notes page), false for a slide.
bool portrait(const fs::path& pdf) {
    QProcess info;
    info.start("pdfinfo", {QString::fromStdString(pdf.string())});
    info.waitForFinished(60000);
    const QRegularExpressionMatch m = QRegularExpression("Page size:\\s+([\\d.]+) x ([\\d.]+)")
                                          .match(QString::fromUtf8(info.readAllStandardOutput()));
    return m.hasMatch() && m.captured(2).toDouble() > m.captured(1).toDouble();
}

void writeDocument(const fs::path& file, const std::string& text) {
    builder::WordDocument document;
    document.paragraphs = {text, "A second paragraph.", "A third."};
    document.write(file);
}

// The office processes this test program started (each instance is a child of ours).
std::vector<pid_t> officeChildren() {
    std::vector<pid_t> pids;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos || line.find("(soffice.bin)") == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid() && state != 'Z')
            pids.push_back(std::stoi(name));
    }
    return pids;
}

// Whether one of those office processes has a file of that size in its private folder (the copy of a
// file it is laying out; the folder is the one its profile lies in).
bool officeHoldsFileOfSize(std::uintmax_t size) {
    for (pid_t pid : officeChildren()) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string key = "-env:UserInstallation=file://";
        const auto at = cmdline.find(key);
        if (at == std::string::npos)
            continue;
        const fs::path profile = cmdline.substr(at + key.size(), cmdline.find('\0', at) - at - key.size());
        std::error_code error;
        for (fs::recursive_directory_iterator it(profile.parent_path(), error), end; !error && it != end;
             it.increment(error)) {
            std::error_code one;
            if (it->is_regular_file(one) && it->path().extension() == ".pptx" && it->file_size(one) == size)
                return true;
        }
    }
    return false;
}

class PrintReady : public CourseTest {
protected:
    void SetUp() override {
        CourseTest::SetUp();
        const QString reason = PrivateCups::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        cups.emplace();
        makeFolder("Course");
        makeFolder("Work");
    }

    void run(const QString& destination, bool makePDFs, const QString& pptPrinter = PrivateCups::psPrinter,
             const QString& wordPrinter = PrivateCups::psPrinter, PrintSwitches switches = {}) {
        printready::RunPrintReady(local("Course"), destination, makePDFs, local("Work"), true, false,
                                  "PrintReady.zip", pptPrinter, wordPrinter, PrivateCups::pdfPrinter,
                                  switches);
    }

    // The lines of one tag, without it.
    QStringList said(const QString& tag) const {
        QStringList out;
        for (const QString& line : linesOf(tag))
            out.append(line.mid(tag.size() + 3));
        return out;
    }

    std::optional<PrivateCups> cups;
};

TEST_F(PrintReady, ALocalCourseGivesOnePrintFilePerFileAndPdfsBesideThem) {
    courseDeck(3, "Welcome").write(host("Course/00Welcome.pptx"));
    builder::DeckBuilder module = courseDeck(4, "Module");
    module.slides[1].hidden = true;
    module.write(host("Course/Module03.pptx"));
    writeDocument(host("Course/Module03.docx"), "Handout of module 3");
    writeDocument(host("Course/LabGuide.docx"), "Lab guide");
    const auto before = snapshot(host("Course"));

    run(local("Out\\Print"), true);

    const fs::path out = host("Out/Print");
    ASSERT_TRUE(fs::is_directory(out)) << "the print-ready folder and the folder above it are made";
    EXPECT_EQ(folderNames(out), (std::vector<std::string>{
                                    "00Welcome.pdf", "00Welcome.prn", "LabGuide.pdf", "LabGuide.prn",
                                    "Module03 (2).pdf", "Module03 (2).prn", "Module03.pdf", "Module03.prn"}))
        << "the document with the deck's stem gets names of its own instead of replacing the deck's";
    for (const char* prn : {"00Welcome.prn", "Module03.prn", "Module03 (2).prn", "LabGuide.prn"})
        EXPECT_EQ(readFile(out / prn).substr(0, 4), "%!PS") << prn;
    EXPECT_EQ(postScriptPageCount(readFile(out / "00Welcome.prn")), 3);
    EXPECT_EQ(postScriptPageCount(readFile(out / "Module03.prn")), 3) << "the hidden slide is not printed";
    EXPECT_EQ(pdfPageCount(out / "00Welcome.pdf"), 3);
    EXPECT_EQ(pdfPageCount(out / "Module03.pdf"), 3);
    EXPECT_FALSE(portrait(out / "00Welcome.pdf")) << "a 00 deck gives its slides";
    EXPECT_TRUE(portrait(out / "Module03.pdf")) << "a module gives its notes pages";
    EXPECT_GE(pdfPageCount(out / "LabGuide.pdf"), 1);

    const QStringList pru = said("PRU");
    ASSERT_FALSE(pru.isEmpty());
    EXPECT_EQ(pru.first(), "Begin");
    EXPECT_TRUE(pru.contains("Printed: 00Welcome.pptx"));
    EXPECT_TRUE(
        pru.contains("Module03.prn was already written by this run; Module03.docx goes to Module03 (2).prn"));
    EXPECT_EQ(pru.mid(pru.size() - 2),
              (QStringList{"All printing complete", "If you printed PDF files, they must be imported and "
                                                    "zipped manually"}));
    EXPECT_TRUE(said("PRUpptpdf").contains("Printed: Module03.pptx as PDF"));
    EXPECT_TRUE(said("PRUwordpdf").contains("All word files printed as PDF"));
    EXPECT_TRUE(log.failures.isEmpty()) << log.failures.join("\n").toStdString();
    EXPECT_EQ(snapshot(host("Course")), before) << "the course folder is read, never written";
}

// With ArchivePDFs the PDFs beside the print files are PDF/A-2b and keep what every exported PDF
// carries (tags, a title, the slide titles as bookmarks); the print files are printed as ever.
TEST_F(PrintReady, ArchivePDFsExportsPdfA2bBesideThePrintFiles) {
    builder::DeckBuilder module = courseDeck(3, "Routing");
    module.slides[1].hidden = true;
    module.write(host("Course/Module05.pptx"));
    writeDocument(host("Course/LabGuide.docx"), "Lab guide");
    PrintSwitches archive;
    archive.archivePDFs = true;

    run(local("Out"), true, PrivateCups::psPrinter, PrivateCups::psPrinter, archive);

    const fs::path out = host("Out");
    EXPECT_EQ(folderNames(out),
              (std::vector<std::string>{"LabGuide.pdf", "LabGuide.prn", "Module05.pdf", "Module05.prn"}));
    EXPECT_EQ(postScriptPageCount(readFile(out / "Module05.prn")), 2);
    PdfFacts deck = readPdfFacts(out / "Module05.pdf");
    PdfFacts guide = readPdfFacts(out / "LabGuide.pdf");
    for (PdfFacts* pdf : {&deck, &guide}) {
        EXPECT_EQ(pdf->info["Tagged"], "yes");
        EXPECT_NE(pdf->metadata.find("<pdfaid:part>2</pdfaid:part>"), std::string::npos) << pdf->metadata;
        EXPECT_NE(pdf->metadata.find("<pdfaid:conformance>B</pdfaid:conformance>"), std::string::npos);
    }
    EXPECT_EQ(deck.info["Title"], "Routing slide 1");
    EXPECT_EQ(deck.outline, (std::vector<std::string>{"Routing slide 1", "Routing slide 3"}));
    EXPECT_EQ(guide.info["Title"], "LabGuide");
    EXPECT_TRUE(log.failures.isEmpty()) << log.failures.join("\n").toStdString();
}

TEST_F(PrintReady, RunsThatCannotPrintSayWhyAndPrintNothing) {
    writeDocument(host("Course/LabGuide.docx"), "Lab guide");
    // Documents without a deck: nothing is printed.
    run(local("Out"), false);
    EXPECT_EQ(said("PRU").mid(1), (QStringList{"Process count is zero", "Nothing was processed"}));
    EXPECT_TRUE(folderNames(host("Out")).empty());

    // No printer chosen: one box, after the warning about files already there, and the run ends.
    courseDeck(2).write(host("Course/01_Intro.pptx"));
    writeFile(host("Out/old.prn"), "left from before");
    log.lines.clear();
    run(local("Out"), false, "");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].title, "Existing files");
    EXPECT_EQ(boxes.shown[0].text, "There are existing files in D:\\Out.\nPlease remove them before "
                                   "continuing.  Press OK when ready.");
    EXPECT_EQ(boxes.shown[1].title, "Lessonforge");
    EXPECT_EQ(boxes.shown[1].text, "The PowerPoint printer was not selected");
    EXPECT_EQ(said("PRU").last(), "Printing 01_Intro.pptx");

    // A printer the server does not know, and a print-ready folder that names no drive.
    log.lines.clear();
    run(local("Out"), false, "No-Such-Printer");
    EXPECT_TRUE(said("PRU").last().startsWith("Serious error ")) << said("PRU").join("\n").toStdString();
    EXPECT_TRUE(said("PRU").last().contains("No-Such-Printer"));
    log.lines.clear();
    run("Out", false);
    EXPECT_TRUE(said("PRU").last().startsWith("Serious error ")) << said("PRU").join("\n").toStdString();
    EXPECT_TRUE(said("PRU").last().contains("a folder path starts at a drive"));
    EXPECT_EQ(folderNames(host("Out")), std::vector<std::string>{"old.prn"});
    EXPECT_EQ(log.failures.size(), 4) << log.failures.join("\n").toStdString();
}

// An office process that stops in the middle of a deck: that deck fails with its line and the run
// ends; the next run starts a fresh instance and prints everything.
TEST_F(PrintReady, AKilledOfficeFailsItsFileAndTheNextRunPrints) {
    courseDeck(2).write(host("Course/01_Intro.pptx"));
    courseDeck(200, "Long").write(host("Course/02_Long.pptx"));
    courseDeck(2).write(host("Course/03_End.pptx"));
    const auto before = snapshot(host("Course"));

    // Kill the instances whenever one holds the long deck's copy, from the moment the long deck's print
    // began until the run says something of that deck: its layout may have begun ahead (a layout ahead
    // that dies is only tried again by the print itself), and may even be done by then, which leaves
    // nothing to kill.
    class KillingYield : public platform::EventYield {
    public:
        KillingYield(oplog::RecordingLogSink& log, std::uintmax_t longSize)
            : log_(log), longSize_(longSize), previous_(&platform::eventYield()) {
            platform::installEventYield(this);
            killer_ = std::thread([this] {
                while (!done_) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    if (armed_ && officeHoldsFileOfSize(longSize_))
                        for (pid_t pid : officeChildren())
                            killed_ += ::kill(pid, SIGKILL) == 0 ? 1 : 0;
                }
            });
        }
        ~KillingYield() override {
            done_ = true;
            killer_.join();
            platform::installEventYield(previous_);
        }
        void processEvents() override {
            if (log_.lines.isEmpty())
                return;
            const QString& last = log_.lines.last();
            if (!armed_ && last == "PRU - Printing 01_Intro.pptx")
                armed_ = true;
            else if (armed_ && last.contains("02_Long") && last != "PRU - Printing 02_Long.pptx")
                done_ = true;
        }
        std::atomic<int> killed_{0};

    private:
        oplog::RecordingLogSink& log_;
        const std::uintmax_t longSize_;
        platform::EventYield* previous_;
        std::atomic<bool> armed_{false}, done_{false};
        std::thread killer_;
    };
    {
        KillingYield yield(log, fs::file_size(host("Course/02_Long.pptx")));
        run(local("Out"), false);
    }
    const QStringList pru = said("PRU");
    EXPECT_TRUE(pru.contains("Printed: 01_Intro.pptx"));
    EXPECT_FALSE(pru.contains("Printed: 02_Long.pptx"));
    ASSERT_TRUE(pru.last().startsWith("Serious error ")) << pru.join("\n").toStdString();
    EXPECT_TRUE(pru.last().contains("02_Long.pptx")) << pru.last().toStdString();
    EXPECT_FALSE(fs::exists(host("Out/02_Long.prn")));
    EXPECT_TRUE(officeChildren().empty()) << "the run's instances end with it";

    fs::remove_all(host("Out"));
    log.lines.clear();
    const int yieldsBefore = yields.count;
    run(local("Out"), false);
    EXPECT_GT(yields.count - yieldsBefore, 20) << "the window is kept responsive while the long deck prints";
    EXPECT_EQ(said("PRU").last(), "If you printed PDF files, they must be imported and zipped manually");
    EXPECT_EQ(postScriptPageCount(readFile(host("Out/02_Long.prn"))), 200);
    EXPECT_EQ(snapshot(host("Course")), before);
}

// A stop while LibreOffice lays out a long deck ends its instance as the watchdog ends a hung one,
// within seconds: the run ends as a failure does, with no print file of its own left in the
// destination and one line saying why.
TEST_F(PrintReady, AStopEndsTheOfficeWorkOnTheFileAndLeavesNoPrintFile) {
    courseDeck(2).write(host("Course/01_Intro.pptx"));
    courseDeck(200, "Long").write(host("Course/02_Long.pptx"));
    courseDeck(2).write(host("Course/03_End.pptx"));
    fs::create_directories(host("Out"));
    writeFile(host("Out/Keep.txt"), "the user's own file");

    class StopAtLongDeck : public platform::EventYield {
    public:
        StopAtLongDeck(oplog::RecordingLogSink& log, platform::StopRequest& stop)
            : log_(log), stop_(stop), previous_(&platform::eventYield()) {
            platform::installEventYield(this);
        }
        ~StopAtLongDeck() override { platform::installEventYield(previous_); }
        void processEvents() override {
            if (!stop_.requested() && !log_.lines.isEmpty() &&
                log_.lines.last() == "PRU - Printing 02_Long.pptx") {
                asked = std::chrono::steady_clock::now();
                stop_.request();
            }
        }
        std::chrono::steady_clock::time_point asked;

    private:
        oplog::RecordingLogSink& log_;
        platform::StopRequest& stop_;
        platform::EventYield* previous_;
    };
    platform::StopRequest stop;
    std::chrono::steady_clock::time_point ended;
    StopAtLongDeck yield(log, stop);
    {
        courserun::CourseRun course(local("Work"));
        course.obey(&stop);
        printready::RunPrintReady(course, local("Course"), local("Out"), true, true, false, "PrintReady.zip",
                                  PrivateCups::psPrinter, PrivateCups::psPrinter, PrivateCups::pdfPrinter,
                                  {});
        ended = std::chrono::steady_clock::now();
    }
    ASSERT_TRUE(stop.requested());
    EXPECT_LT(ended - yield.asked, std::chrono::seconds(5));
    const QStringList pru = said("PRU");
    EXPECT_EQ(pru.filter("Stopped by the user"), QStringList{"Stopped by the user"})
        << pru.join("\n").toStdString();
    EXPECT_EQ(log.failures.size(), 1) << log.failures.join("\n").toStdString();
    EXPECT_FALSE(pru.contains("All printing complete"));
    EXPECT_FALSE(pru.contains("Printing 03_End.pptx"));
    EXPECT_EQ(folderNames(host("Out")), std::vector<std::string>{"Keep.txt"});
    EXPECT_TRUE(officeChildren().empty()) << "the run's instances end with it";
}

// lessonforge-run, as a build server runs it: the printers chosen by name, and a name the server does
// not know failing the run with exit status 3.
TEST_F(PrintReady, TheCommandLineRunPrintsOnTheNamedPrinters) {
    courseDeck(2).write(host("Course/01_Intro.pptx"));
    auto runTool = [](const QStringList& arguments) {
        QProcess tool;
        tool.start(LF_RUN_TOOL, arguments);
        tool.waitForFinished(300000);
        return std::make_pair(tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
                              QString::fromLocal8Bit(tool.readAllStandardOutput()));
    };
    const QStringList course = {"--print-ready", "--source", "D:\\Course", "--destination", "D:\\Out"};
    const auto [status, out] = runTool(course + QStringList{"--ppt-printer", PrivateCups::psPrinter,
                                                            "--word-printer", PrivateCups::psPrinter});
    EXPECT_EQ(status, 0) << out.toStdString();
    EXPECT_EQ(readFile(host("Out/01_Intro.prn")).substr(0, 4), "%!PS") << out.toStdString();

    fs::remove_all(host("Out"));
    const auto [refused, said] =
        runTool(course + QStringList{"--ppt-printer", "Nope", "--word-printer", "Nope"});
    EXPECT_EQ(refused, 3) << said.toStdString();
    EXPECT_TRUE(
        said.contains("PRU - Serious error PrintOptions.ActivePrinter: there is no printer named \"Nope\""))
        << said.toStdString();
}

// The disk of the print-ready folder has less room than a print file takes: the run fails with its
// "Serious error" line (lessonforge-run with exit status 3), the deck printed in the foreground and in
// the background alike, and no print file is left there cut short.
TEST_F(PrintReady, AFullDiskFailsTheRunAndLeavesNoPrintFileCutShort) {
    courseDeck(3, "Introduction").write(host("Course/01_Introduction.pptx"));
    courseDeck(3, "Networks").write(host("Course/02_Networks.pptx"));
    SmallDisk disk(host("Out"), 100);
    if (!disk.mounted())
        GTEST_SKIP() << disk.unavailableReason().toStdString();

    QProcess tool;
    tool.start(LF_RUN_TOOL,
               {"--print-ready", "--source", "D:\\Course", "--destination", "D:\\Out", "--ppt-printer",
                PrivateCups::psPrinter, "--word-printer", PrivateCups::psPrinter});
    tool.waitForFinished(300000);
    const QString said = QString::fromLocal8Bit(tool.readAllStandardOutput());
    EXPECT_EQ(tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, 3) << said.toStdString();
    const QString failure = QRegularExpression("PRU - Serious error [^\\n]*").match(said).captured();
    EXPECT_TRUE(failure.contains("cannot write the print file") && failure.contains("01_Introduction.prn") &&
                failure.contains("No space left on device"))
        << said.toStdString();
    EXPECT_FALSE(said.contains("Printed: 01_Introduction.pptx")) << said.toStdString();
    EXPECT_TRUE(folderNames(host("Out")).empty());

    PrintSwitches background;
    background.useBackgroundPrinting = true;
    run(local("Out"), false, PrivateCups::psPrinter, PrivateCups::psPrinter, background);
    ASSERT_EQ(log.failures.size(), 2) << log.failures.join("\n").toStdString();
    for (const QString& line : log.failures)
        EXPECT_TRUE(line.contains("Serious error cannot write the print file") &&
                    line.contains("No space left on device"))
            << line.toStdString();
    EXPECT_TRUE(folderNames(host("Out")).empty());
}

// Whether any installed font has the character, as fontconfig's own fc-list answers it.
bool anyFontHas(char32_t character) {
    QProcess list;
    list.start("fc-list", {QString(":charset=%1").arg(static_cast<uint>(character), 0, 16), "family"});
    list.waitForFinished(60000);
    return list.exitCode() != 0 || !list.readAllStandardOutput().trimmed().isEmpty();
}

std::string utf8(char32_t character) {
    return QString::fromUcs4(&character, 1).toStdString();
}

// Japanese text prints with a Japanese font and comes back out of the PDF as the words it was.
TEST_F(PrintReady, JapaneseTextPrintsWithAJapaneseFontAndNoWarning) {
    builder::DeckBuilder deck = courseDeck(1, "日本語のコース");
    deck.slides[0].shapes[1] = textBox(3, "TextBox 2", {emuPt(40), emuPt(140), emuPt(300), emuPt(100)},
                                       paragraph(builder::run("かなとカタカナ")));
    deck.write(host("Course/00Japanese.pptx"));

    run(local("Out"), true);

    const fs::path pdf = host("Out/00Japanese.pdf");
    const std::vector<std::string> fonts = pdfEmbeddedFonts(pdf);
    EXPECT_TRUE(std::any_of(fonts.begin(), fonts.end(),
                            [](const std::string& font) { return font.find("CJK") != std::string::npos; }))
        << "embedded: "
        << std::accumulate(fonts.begin(), fonts.end(), std::string(),
                           [](std::string all, const std::string& font) { return all + font + " "; });
    const std::string text = pdfText(pdf);
    EXPECT_NE(text.find("日本語のコース"), std::string::npos) << text;
    EXPECT_NE(text.find("かなとカタカナ"), std::string::npos) << text;
    EXPECT_FALSE(said("PRU").join('\n').contains("no installed font"))
        << said("PRU").join('\n').toStdString();
    EXPECT_TRUE(log.failures.isEmpty()) << log.failures.join("\n").toStdString();
}

// Characters no installed font has, wherever the file keeps them (a table in a group, the notes, a
// document's header), give one warning line per file naming them; the files print all the same.
// Hidden slides are not printed, and not looked at.
TEST_F(PrintReady, CharactersNoFontHasAreNamedOncePerFile) {
    const char32_t privateUse = U'\U000F0001'; // supplementary private use: only a file's own font has it
    const char32_t kawi = U'\U00011F04';       // Kawi, a script newer than the installed fonts
    ASSERT_FALSE(anyFontHas(privateUse)) << "the test needs a character no installed font has";
    ASSERT_FALSE(anyFontHas(kawi)) << "the test needs a script no installed font has";

    builder::DeckBuilder deck = courseDeck(2, "Module");
    deck.slides[1].shapes.push_back(group(5, "Group 4", {emuPt(40), emuPt(300), emuPt(300), emuPt(100)},
                                          table(6, "Table 5", {emuPt(40), emuPt(300), emuPt(300), emuPt(100)},
                                                "Symbol " + utf8(privateUse) + utf8(privateUse))));
    deck.slides[1].notesShapes =
        std::vector<std::string>{notesImageShape(2), notesTextShape(3, "Say " + utf8(kawi))};
    // A hidden slide prints nowhere: what it holds is no reason to warn.
    builder::DeckBuilder hidden = courseDeck(1, "Hidden " + utf8(U'\U000F0002'));
    hidden.slides[0].hidden = true;
    deck.slides.push_back(hidden.slides[0]);
    deck.write(host("Course/Module01.pptx"));
    builder::WordDocument handout;
    handout.paragraphs = {"A handout in plain English."};
    handout.header = "Course mark " + utf8(privateUse);
    handout.write(host("Course/Handout.docx"));
    courseDeck(1, "Plain").write(host("Course/Module02.pptx"));

    run(local("Out"), false);

    QStringList warnings;
    for (const QString& line : said("PRU"))
        if (line.contains("no installed font"))
            warnings.append(line);
    ASSERT_EQ(warnings.size(), 2) << said("PRU").join('\n').toStdString();
    EXPECT_EQ(
        warnings[0].toStdString(),
        "Module01.pptx: no installed font has glyphs for (private use, U+F0001), " + utf8(kawi) +
            " (Kawi, U+11F04); they print as boxes; install a font for them, e.g. fonts-noto-core or "
            "fonts-noto-extra; private-use characters print only with the font the file was written for");
    EXPECT_TRUE(
        warnings[1].startsWith("Handout.docx: no installed font has glyphs for (private use, U+F0001)"))
        << warnings[1].toStdString();
    EXPECT_EQ(folderNames(host("Out")),
              (std::vector<std::string>{"Handout.prn", "Module01.prn", "Module02.prn"}));
    EXPECT_TRUE(log.failures.isEmpty()) << log.failures.join("\n").toStdString();
}

} // namespace
} // namespace lf::test
