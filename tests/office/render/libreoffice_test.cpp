// The renderer against a real LibreOffice: hidden slides are left out of both layouts, one warm
// instance serves many files and leaves the course folder exactly as it was, an instance that dies,
// stalls or goes past its memory limit fails only its own file, and no office process outlives the renderer
// or the program.
#include "office/builder/deck.h"
#include "office/builder/document.h"
#include "office/render/libreoffice.h"
#include "test_pdf.h"
#include "test_support.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace lf::builder;
using namespace lf::render;
using namespace lf::test;

namespace {

// A deck of `count` titled slides with notes pages; the slides numbered in `hidden` have show="0".
void writeDeck(const fs::path& file, int count, const std::set<int>& hidden = {}) {
    DeckBuilder b;
    for (int i = 1; i <= count; ++i) {
        SlideSpec s;
        s.shapes = {placeholderShape(2, "Title 1", {"title", -1}, std::nullopt,
                                     paragraph(run("Slide " + std::to_string(i)))),
                    placeholderShape(3, "Content Placeholder 2", {"", 1}, std::nullopt,
                                     paragraph(run("Point one.") + lineBreak() + run("Point two.")))};
        s.notesShapes = std::vector<std::string>{
            "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Slide Image Placeholder 1\"/><p:cNvSpPr/><p:nvPr>"
            "<p:ph type=\"sldImg\"/></p:nvPr></p:nvSpPr><p:spPr/></p:sp>",
            placeholderShape(3, "Notes Placeholder 2", {"body", 1}, std::nullopt,
                             paragraph(run("Notes of slide " + std::to_string(i))))};
        s.hidden = hidden.count(i) > 0;
        b.slides.push_back(s);
    }
    b.write(file);
}

// Every file of a folder with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        files[e.path().filename().string()] = readFile(e.path());
    }
    return files;
}

// Whether the process is gone (a zombie counts as gone: it runs nothing any more).
bool gone(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    const auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

bool goneWithin(int pid, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!gone(pid)) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string renderError(LibreOffice& office, const fs::path& source, const fs::path& pdf, PageLayout layout) {
    try {
        office.renderPdf(source, pdf, layout);
    } catch (const RenderError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(RenderLibreOffice, OneWarmInstanceRendersDecksAndDocumentsAndLeavesTheCourseAlone) {
    TempDir course;
    TempDir out;
    writeDeck(course / "01_Built.pptx", 5, {3});
    fs::copy_file(corpusDir() / "pptx" / "ppt-sld-notes.pptx", course / "02_Real.pptx");
    fs::copy_file(corpusDir() / "docx" / "poi-sample.docx", course / "03_Handout.docx");
    const auto before = snapshot(course.path());

    LibreOffice office;
    EXPECT_TRUE(office.instanceProcessIds().empty()) << "the instance starts with the first file";
    office.renderPdf(course / "01_Built.pptx", out / "built-notes.pdf", PageLayout::NotesPages);
    const std::vector<int> pids = office.instanceProcessIds();
    ASSERT_EQ(pids.size(), 1u);
    // An older PDF is replaced whole.
    writeFile(out / "built-slides.pdf", "an older render");
    office.renderPdf(course / "01_Built.pptx", out / "built-slides.pdf", PageLayout::Slides);
    office.renderPdf(course / "02_Real.pptx", out / "real-notes.pdf", PageLayout::NotesPages);
    office.renderPdf(course / "02_Real.pptx", out / "real-slides.pdf", PageLayout::Slides);
    office.renderPdf(course / "03_Handout.docx", out / "handout.pdf", PageLayout::DocumentPages);

    EXPECT_EQ(pdfPageCount(out / "built-notes.pdf"), 4) << "the hidden slide's notes page is left out";
    EXPECT_EQ(pdfPageCount(out / "built-slides.pdf"), 4) << "the hidden slide is left out";
    const int realSlides = pdfPageCount(out / "real-slides.pdf");
    EXPECT_GT(realSlides, 0);
    EXPECT_EQ(pdfPageCount(out / "real-notes.pdf"), realSlides);
    EXPECT_GT(pdfPageCount(out / "handout.pdf"), 0);
    EXPECT_EQ(office.instanceProcessIds(), pids) << "every file went to the one warm instance";
    EXPECT_EQ(snapshot(course.path()), before) << "a course file changed, or a lock or other file appeared";
    EXPECT_EQ(snapshot(out.path()).size(), 5u) << "only the PDFs are written beside the targets";

    // A file the office cannot read fails on its own, naming the file, and the instance stays.
    writeFile(course / "04_Broken.pptx", "not a zip at all");
    const std::string error =
        renderError(office, course / "04_Broken.pptx", out / "broken.pdf", PageLayout::Slides);
    EXPECT_NE(error.find("04_Broken.pptx"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(out / "broken.pdf"));
    EXPECT_EQ(office.instanceProcessIds(), pids);
}

TEST(RenderLibreOffice, AnInstanceKilledMidFileFailsThatFileAndTheNextStartsAfresh) {
    TempDir course;
    TempDir out;
    writeDeck(course / "small.pptx", 2);
    writeDeck(course / "Module03.pptx", 400);
    LibreOffice office;
    office.renderPdf(course / "small.pptx", out / "small.pdf", PageLayout::NotesPages);
    ASSERT_EQ(office.instanceProcessIds().size(), 1u);
    const int first = office.instanceProcessIds().front();

    std::thread killer([first] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(first, SIGKILL);
    });
    const std::string error =
        renderError(office, course / "Module03.pptx", out / "Module03.pdf", PageLayout::NotesPages);
    killer.join();
    EXPECT_NE(error.find("Module03.pptx"), std::string::npos) << error;
    EXPECT_NE(error.find("ended"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(out / "Module03.pdf"));
    EXPECT_TRUE(office.instanceProcessIds().empty());

    office.renderPdf(course / "small.pptx", out / "again.pdf", PageLayout::Slides);
    EXPECT_EQ(pdfPageCount(out / "again.pdf"), 2);
    ASSERT_EQ(office.instanceProcessIds().size(), 1u);
    EXPECT_NE(office.instanceProcessIds().front(), first);
}

TEST(RenderLibreOffice, AFileOverTheTimeLimitEndsItsInstance) {
    TempDir course;
    TempDir out;
    writeDeck(course / "Module07.pptx", 400);
    writeFile(out / "Module07.pdf", "an older render");
    RenderOptions options;
    options.perFileLimit = std::chrono::milliseconds(300);
    LibreOffice office(options);
    const auto start = std::chrono::steady_clock::now();
    const std::string error =
        renderError(office, course / "Module07.pptx", out / "Module07.pdf", PageLayout::NotesPages);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_NE(error.find("stopped answering on Module07.pptx after 0.3 s"), std::string::npos) << error;
    EXPECT_TRUE(office.instanceProcessIds().empty());
    EXPECT_EQ(readFile(out / "Module07.pdf"), "an older render");
}

// A file that takes its instance past the memory limit fails with its own line, as one over the time
// limit does, and leaves no PDF; the instance is ended and the next file renders in a new one. (An
// instance takes about 0.4 GB for a small deck, 0.8 GB for these 400 notes pages.)
TEST(RenderLibreOffice, AFileOverTheMemoryLimitEndsItsInstanceAndTheNextFileRenders) {
    TempDir course;
    TempDir out;
    writeDeck(course / "small.pptx", 2);
    writeDeck(course / "Module09.pptx", 400);
    writeFile(out / "Module09.pdf", "an older render");
    RenderOptions options;
    options.memoryLimit = std::uint64_t(600) << 20;
    LibreOffice office(options);
    office.renderPdf(course / "small.pptx", out / "small.pdf", PageLayout::Slides);
    ASSERT_EQ(office.instanceProcessIds().size(), 1u);
    const int first = office.instanceProcessIds().front();

    const std::string error =
        renderError(office, course / "Module09.pptx", out / "Module09.pdf", PageLayout::NotesPages);
    EXPECT_NE(
        error.find("LibreOffice went past its memory limit of 0.6 GB on Module09.pptx; the instance was "
                   "ended"),
        std::string::npos)
        << error;
    EXPECT_TRUE(office.instanceProcessIds().empty());
    EXPECT_TRUE(goneWithin(first, std::chrono::seconds(10)));
    EXPECT_EQ(readFile(out / "Module09.pdf"), "an older render");

    office.renderPdf(course / "small.pptx", out / "again.pdf", PageLayout::Slides);
    EXPECT_EQ(pdfPageCount(out / "again.pdf"), 2);
}

// An instance started ahead serves the first file (no second start); past its file count it is
// renewed between files, and the fresh instance lays the same deck out the same.
TEST(RenderLibreOffice, AnInstanceStartedAheadServesTheFirstFileAndIsRenewedAfterItsFileCount) {
    TempDir course;
    TempDir out;
    writeDeck(course / "deck.pptx", 4, {2});
    RenderOptions options;
    options.renewAfterFiles = 2;
    LibreOffice office(options);
    office.warmUp();
    std::vector<int> started;
    for (int i = 0; i < 600 && (started = office.instanceProcessIds()).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(started.size(), 1u) << "the instance did not start ahead";

    office.renderPdf(course / "deck.pptx", out / "1.pdf", PageLayout::NotesPages);
    EXPECT_EQ(office.instanceProcessIds(), started) << "the first file went to the instance started ahead";
    office.renderPdf(course / "deck.pptx", out / "2.pdf", PageLayout::NotesPages);
    EXPECT_EQ(office.instanceProcessIds(), started);
    office.renderPdf(course / "deck.pptx", out / "3.pdf", PageLayout::NotesPages);
    const std::vector<int> renewed = office.instanceProcessIds();
    ASSERT_EQ(renewed.size(), 1u);
    EXPECT_NE(renewed, started) << "after two files the instance is renewed";
    EXPECT_TRUE(gone(started.front())) << "the renewed instance ended";
    EXPECT_EQ(pdfPageCount(out / "3.pdf"), 3);
    EXPECT_EQ(pdfText(out / "3.pdf"), pdfText(out / "1.pdf"))
        << "the fresh instance lays the deck out the same";
}

TEST(RenderLibreOffice, TwoInstancesRenderAtOnceAndNoneOutlivesTheRenderer) {
    TempDir course;
    TempDir out;
    for (const char* name : {"a.pptx", "b.pptx", "c.pptx", "d.pptx"}) {
        writeDeck(course / name, 3, {2});
    }
    std::vector<int> pids;
    {
        RenderOptions options;
        options.instances = 2;
        LibreOffice office(options);
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (const std::string name : {"a", "b", "c", "d"}) {
            threads.emplace_back([&, name] {
                if (!renderError(office, course / (name + ".pptx"), out / (name + ".pdf"),
                                 PageLayout::NotesPages)
                         .empty()) {
                    ++failures;
                }
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        EXPECT_EQ(failures, 0);
        pids = office.instanceProcessIds();
        EXPECT_EQ(pids.size(), 2u) << "two files at once take two instances";
        for (const char* name : {"a", "b", "c", "d"}) {
            EXPECT_EQ(pdfPageCount(out / (std::string(name) + ".pdf")), 2) << name;
        }
    }
    for (int pid : pids) {
        EXPECT_TRUE(gone(pid)) << "instance " << pid << " outlived the renderer";
    }
}

TEST(RenderLibreOffice, NoInstanceOutlivesAProgramThatDiesWithoutAWord) {
    TempDir course;
    writeDeck(course / "a.pptx", 2);
    // The death test's child runs this test again from the start, in a new process: it learns where
    // to leave its instance's pid from the parent's environment, which it inherits.
    if (qEnvironmentVariableIsEmpty("LF_RENDER_TEST_PID_FILE")) {
        qputenv("LF_RENDER_TEST_PID_FILE",
                QString::fromStdString((course / "instance.pid").string()).toUtf8());
    }
    const fs::path pidFile = qEnvironmentVariable("LF_RENDER_TEST_PID_FILE").toStdString();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            LibreOffice office;
            office.renderPdf(course / "a.pptx", course / "a.pdf", PageLayout::Slides);
            std::ofstream(pidFile) << office.instanceProcessIds().front();
            ::raise(SIGKILL);
        },
        testing::KilledBySignal(SIGKILL), "");
    int orphan = 0;
    std::ifstream(pidFile) >> orphan;
    ASSERT_GT(orphan, 0);
    EXPECT_TRUE(goneWithin(orphan, std::chrono::seconds(10)))
        << "instance " << orphan << " outlived the program";
}

namespace {

// A deck in Japanese as the office suite writes one (every run's language stated), without a title of its
// own; the third slide hidden, the last titled as the first.
void writeJapaneseDeck(const fs::path& file) {
    DeckBuilder b;
    const std::vector<std::string> titles = {"はじめに", "Second\tsteps", "Hidden one", "はじめに"};
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const std::string rPr = "<a:rPr lang=\"ja-JP\" altLang=\"en-US\"/>";
        SlideSpec s;
        s.shapes = {placeholderShape(2, "Title 1", {"title", -1}, std::nullopt,
                                     "<a:p><a:r>" + rPr + "<a:t>" + titles[i] + "</a:t></a:r></a:p>"),
                    placeholderShape(3, "Content Placeholder 2", {"", 1}, std::nullopt,
                                     "<a:p><a:r>" + rPr + "<a:t>本文のテキストです。</a:t></a:r></a:p>")};
        s.hidden = i == 2;
        b.slides.push_back(s);
    }
    b.write(file);
}

// A handout in German by its defaults, with headings on two levels.
WordDocument germanHandout() {
    WordDocument d;
    d.defaultRunProperties = "<w:lang w:val=\"de-DE\" w:eastAsia=\"ja-JP\"/>";
    d.paragraphs = {"Einleitung", "Der erste Text.", "Erster Abschnitt", "Der zweite Text.",
                    "Zweites Kapitel"};
    d.paragraphStyles = {"Heading1", "", "Heading2", "", "Heading1"};
    const std::string bold = "<w:b/>";
    d.styles = {
        {"Normal", "Normal", true, "", "", true, "", ""},
        {"Heading1", "heading 1", false, "Normal", "Normal", true, "<w:outlineLvl w:val=\"0\"/>", bold},
        {"Heading2", "heading 2", false, "Normal", "Normal", true, "<w:outlineLvl w:val=\"1\"/>", bold}};
    return d;
}

} // namespace

// What a reader's screen reader and an archive need of a PDF: tagged, a title, the language of the
// text, an outline to find one's way (slide titles, headings at their levels), and PDF/A-2b on request.
TEST(RenderLibreOffice, PdfsAreTaggedTitledInTheirTextsLanguageWithAnOutline) {
    TempDir course;
    TempDir out;
    writeJapaneseDeck(course / "03_Kanji.pptx");
    WordDocument handout = germanHandout();
    handout.title = "Kursunterlagen";
    handout.write(course / "Handbuch.docx");
    handout.title.clear();
    handout.write(course / "Lab Guide.docx");
    const auto before = snapshot(course.path());

    LibreOffice office;
    office.renderPdf(course / "03_Kanji.pptx", out / "slides.pdf", PageLayout::Slides);
    office.renderPdf(course / "03_Kanji.pptx", out / "notes.pdf", PageLayout::NotesPages);
    office.renderPdf(course / "Handbuch.docx", out / "handbuch.pdf", PageLayout::DocumentPages);
    office.renderPdf(course / "Lab Guide.docx", out / "lab.pdf", PageLayout::DocumentPages,
                     {.archive = true});

    for (const char* layout : {"slides.pdf", "notes.pdf"}) {
        PdfFacts deck = readPdfFacts(out / layout);
        EXPECT_EQ(deck.info["Tagged"], "yes") << layout;
        EXPECT_EQ(deck.info["Title"], "はじめに")
            << layout << ": a deck without a title takes its first slide's";
        EXPECT_EQ(deck.language, "ja-JP") << layout << ": the language its runs state, not the office's own";
        EXPECT_EQ(deck.outline, (std::vector<std::string>{"はじめに", "Second steps", "はじめに"}))
            << layout << ": a bookmark per shown slide, named by its title (two slides may share one)";
        EXPECT_EQ(deck.metadata.find("pdfaid"), std::string::npos) << layout << " is no PDF/A unless asked";
    }

    PdfFacts document = readPdfFacts(out / "handbuch.pdf");
    EXPECT_EQ(document.info["Tagged"], "yes");
    EXPECT_EQ(document.info["Title"], "Kursunterlagen") << "the document's own title";
    EXPECT_EQ(document.language, "de-DE");
    EXPECT_EQ(document.outline,
              (std::vector<std::string>{"Einleitung", "  Erster Abschnitt", "Zweites Kapitel"}));

    PdfFacts archived = readPdfFacts(out / "lab.pdf");
    EXPECT_EQ(archived.info["Title"], "Lab Guide") << "no title of its own: the file name less its extension";
    EXPECT_EQ(archived.info["Tagged"], "yes");
    EXPECT_EQ(archived.language, "de-DE");
    EXPECT_EQ(archived.outline, document.outline);
    EXPECT_NE(archived.metadata.find("<pdfaid:part>2</pdfaid:part>"), std::string::npos) << archived.metadata;
    EXPECT_NE(archived.metadata.find("<pdfaid:conformance>B</pdfaid:conformance>"), std::string::npos);

    EXPECT_EQ(snapshot(course.path()), before) << "the slides were named in the office's memory only";
}
