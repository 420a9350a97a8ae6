// The table of contents end to end on local folders: real decks staged and read, the document written
// from a real template and read back.
#include "indexing/CollectTOC.h"
#include "indexing/WordStuff.h"
#include "indexing/course_check.h"
#include "indexing_fixture.h"

using namespace lf::test;
using lf::indexing::CollectTOC;
using lf::indexing::TOCTitleSource;
using lf::platform::MessageAnswer;

namespace {

const QString kCourse = "C:\\Courses\\Storage";
const QString kTemplate = "C:\\Templates\\Template.docx";

class TOC : public IndexingOperation {
protected:
    void makeCourse() {
        // Module 1: a banner, then the title; a second slide with a plain and a bold sentence.
        SlideSpec first;
        first.layout = 2;
        first.shapes = {banner(2, "Module 1: Introduction"), boldTitle(3, "Welcome")};
        SlideSpec mixed;
        mixed.layout = 2;
        mixed.shapes = {titleRectangle(2, run("Plain start. ", false) + run("Bold part", true))};
        deck(kCourse, "01_Introduction.pptx", {first, mixed});

        // Module 2: things that never give an entry, and a slide with two title rectangles.
        SlideSpec storage;
        storage.layout = 2;
        storage.usesPicture = true;
        const Rect r{emuPt(10), emuPt(10), emuPt(50), emuPt(30)};
        storage.shapes = {picture(2, "Picture 1", r), banner(3, "Module 2: Storage"),
                          boldTitle(4, "Storage Basics")};
        SlideSpec never;
        never.layout = 2;
        never.shapes = {titleRectangle(2, run("Too low", true), 52),
                        textBox(3, "TextBox 3", Rect{emuPt(10), emuPt(10), emuPt(200), emuPt(20)},
                                paragraph(run("Not a rectangle", true))),
                        titleRectangle(4, run("Not bold", false))};
        SlideSpec two;
        two.layout = 2;
        two.shapes = {boldTitle(2, "Disks"), titleRectangle(3, run("Volumes", true), 30, "Rectangle 7")};
        deck(kCourse, "02_Storage.pptx", {storage, never, two});

        // Module 3a: seven slides, titles on the first and the seventh.
        std::vector<SlideSpec> labs(7);
        for (auto& s : labs)
            s.layout = 2;
        labs[0].shapes = {boldTitle(2, "Labs")};
        labs[6].shapes = {boldTitle(2, std::string("Lab") + "\x0b" + "seven")};
        deck(kCourse, "03a_Labs.pptx", labs);
    }

    std::vector<WrittenParagraph> written(const QString& file = "C:\\Out\\TOC.docx") {
        return readParagraphs(host(file));
    }
};

TEST_F(TOC, WritesHeadingsAndTitlesFromALocalCourse) {
    makeCourse();
    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Storage Admin", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);

    const QStringList expected = {
        "Begin",
        "Copying files to working directory",
        "Copied C:\\Courses\\Storage\\01_Introduction.pptx to C:\\syllabo\\",
        "Copied C:\\Courses\\Storage\\02_Storage.pptx to C:\\syllabo\\",
        "Copied C:\\Courses\\Storage\\03a_Labs.pptx to C:\\syllabo\\",
        "Opening C:\\syllabo\\01_Introduction.pptx",
        "Opening C:\\syllabo\\02_Storage.pptx",
        "Opening C:\\syllabo\\03a_Labs.pptx",
        "List of TOC entries created",
        "Starting TOC creation",
        "Created TOC document in C:\\Out",
        "TOC Creation Complete",
    };
    EXPECT_EQ(linesOf("TOC"), expected) << allLines();
    EXPECT_TRUE(logged("OpenDoc - Opening template C:\\Templates\\Template.docx"));
    EXPECT_TRUE(logged("Cleaning - All temporary working files deleted"));
    EXPECT_TRUE(log.errors.isEmpty());
    // The copies and the working document are gone; the result stays.
    EXPECT_FALSE(exists("C:\\syllabo\\01_Introduction.pptx"));
    EXPECT_FALSE(exists("C:\\syllabo\\TOC.docx"));
    ASSERT_TRUE(exists("C:\\Out\\TOC.docx"));
    EXPECT_TRUE(exists("C:\\Courses\\Storage\\02_Storage.pptx"));

    const auto paragraphs = written();
    EXPECT_EQ(
        nonEmptyTexts(paragraphs),
        (std::vector<std::string>{"Table of Contents", "Module 1: Welcome", "Welcome\t1-1", "Bold part\t1-2",
                                  "Module 2: Storage Basics", "Storage Basics\t2-1", "Disks\t2-3",
                                  "Volumes\t2-3", "Module 3a: Labs", "Labs\t3a-1", "Lab seven\t3a-7"}));
    // Layout: the heading paragraph, an empty one, then per module an empty paragraph, the italic
    // heading line and another empty paragraph, each title on its own "TOC 2" line.
    ASSERT_GE(paragraphs.size(), 8u);
    auto find = [&](const std::string& text) {
        for (std::size_t i = 0; i < paragraphs.size(); ++i)
            if (paragraphs[i].text == text)
                return i;
        ADD_FAILURE() << "no paragraph " << text;
        return std::size_t(0);
    };
    const std::size_t heading = find("Table of Contents");
    EXPECT_EQ(paragraphs[heading].style, "toc 3");
    EXPECT_EQ(paragraphs[heading].font, "Helvetica");
    EXPECT_EQ(paragraphs[heading].size, 28);
    EXPECT_EQ(paragraphs[heading].alignment, 1);
    EXPECT_FALSE(paragraphs[heading].bold);
    EXPECT_EQ(paragraphs[heading + 1].text, "");
    EXPECT_EQ(paragraphs[heading + 1].alignment, 0);
    const std::size_t module1 = find("Module 1: Welcome");
    EXPECT_EQ(module1, heading + 3);
    EXPECT_EQ(paragraphs[module1 - 1].text, "");
    EXPECT_EQ(paragraphs[module1 + 1].text, "");
    EXPECT_EQ(paragraphs[module1].style, "toc 2");
    EXPECT_TRUE(paragraphs[module1].italic);
    EXPECT_EQ(paragraphs[module1].size, 14);
    EXPECT_EQ(paragraphs[module1].font, "Helvetica");
    const std::size_t title = find("Welcome\t1-1");
    EXPECT_EQ(title, module1 + 2);
    EXPECT_EQ(paragraphs[title].style, "toc 2");
    EXPECT_EQ(paragraphs[title].font, "Helvetica");
    EXPECT_FALSE(paragraphs[title].italic);
    EXPECT_FALSE(paragraphs[title].bold);
    EXPECT_EQ(paragraphs[title].size, 0); // left to the style
    EXPECT_EQ(paragraphs[title].alignment, 0);
    EXPECT_EQ(readHeaderText(host("C:\\Out\\TOC.docx")), "Storage Admin");
    EXPECT_FALSE(pointer.hourglass);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(TOC, ReadsTheWorkingDirectoryInPlaceWhenItIsTheSource) {
    deck("C:\\syllabo", "01_Intro.pptx", {titledSlide("Only")});
    CollectTOC(kTemplate, "TOC.docx", "C:\\syllabo", "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    EXPECT_FALSE(linesOf("TOC").contains("Copying files to working directory")) << allLines();
    EXPECT_TRUE(logged("TOC - TOC Creation Complete")) << allLines();
    // Nothing was copied, so the clean-up leaves the deck; only the working document goes.
    EXPECT_TRUE(exists("C:\\syllabo\\01_Intro.pptx"));
    EXPECT_FALSE(exists("C:\\syllabo\\TOC.docx"));
    EXPECT_EQ(nonEmptyTexts(written())[2], "Only\t1-1");
}

TEST_F(TOC, AFolderWithoutDecksProcessesNothing) {
    makeFolder(kCourse);
    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    EXPECT_EQ(linesOf("TOC"), (QStringList{"Begin", "Copying files to working directory",
                                           "Process count is zero", "Nothing was processed"}))
        << allLines();
    EXPECT_FALSE(exists("C:\\Out\\TOC.docx"));
    EXPECT_FALSE(pointer.hourglass);
}

TEST_F(TOC, AMissingSourceEndsWithItsLine) {
    CollectTOC(kTemplate, "TOC.docx", "C:\\Nowhere", "C:\\Out", "Course", "C:\\Nowhere", true,
               TOCTitleSource::RuleThenPlaceholder);
    EXPECT_EQ(linesOf("TOC"), (QStringList{"Begin", "The source path does not exist"})) << allLines();
}

TEST_F(TOC, AWronglyNamedDeckEndsTheOperationAndReleasesWhatItStarted) {
    deck(kCourse, "01_Good.pptx", {titledSlide("Good")});
    deck(kCourse, "Intro.pptx", {titledSlide("Bad")});
    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Wrong Name");
    EXPECT_TRUE(
        logged("TOC - The current presentation: Intro.pptxdoes not use the correct naming covention and "
               "will be skipped."))
        << allLines();
    EXPECT_FALSE(logged("TOC - TOC Creation Complete"));
    EXPECT_FALSE(exists("C:\\Out\\TOC.docx"));
    EXPECT_FALSE(pointer.hourglass);
}

TEST_F(TOC, AnExistingDocumentIsOverwrittenOnlyWhenTheUserSaysYes) {
    deck(kCourse, "01_Intro.pptx", {titledSlide("Fresh title")});
    writeFile(host("C:\\Out\\TOC.docx"), "old");

    boxes.answers = {MessageAnswer::No};
    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "TOC Exists");
    EXPECT_EQ(boxes.shown[0].text, "TOC document exists.  OK to overwrite?");
    EXPECT_EQ(boxes.shown[0].icon, lf::platform::MessageIcon::Exclamation);
    EXPECT_EQ(boxes.shown[0].buttons, lf::platform::MessageButtons::YesNo);
    EXPECT_EQ(readFile(host("C:\\Out\\TOC.docx")), "old");
    EXPECT_FALSE(logged("TOC - Created TOC document in C:\\Out"));
    EXPECT_FALSE(pointer.hourglass);
    EXPECT_EQ(lf::indexing::documentWriter().documents().count(), 0); // the declined document was closed

    boxes.answers = {MessageAnswer::Yes};
    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    EXPECT_TRUE(logged("TOC - Created TOC document in C:\\Out"));
    EXPECT_EQ(nonEmptyTexts(written())[2], "Fresh title\t1-1");
}

TEST_F(TOC, AFailingWriterIsLoggedAndTheOperationGoesOn) {
    deck(kCourse, "01_Intro.pptx", {titledSlide("Title")});
    CollectTOC("C:\\Templates\\Missing.dotx", "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    EXPECT_TRUE(logged("OpenTOC - There was a problem opening templateC:\\Templates\\Missing.dotx"))
        << allLines();
    const QStringList writer = linesOf("WriteTOC");
    ASSERT_EQ(writer.size(), 1) << allLines();
    EXPECT_TRUE(writer[0].startsWith("Serious error:")) << writer[0].toStdString();
    EXPECT_TRUE(writer[0].contains("Missing.dotx")) << writer[0].toStdString();
    EXPECT_TRUE(logged("TOC - TOC Creation Complete"));
    EXPECT_FALSE(pointer.hourglass);
}

TEST_F(TOC, MarksInTheLastRowAndColumnAreWritten) {
    for (int m = 1; m <= 29; ++m) {
        char name[32];
        std::snprintf(name, sizeof name, "%02d_M.pptx", m);
        deck(kCourse, name, {titledSlide("M" + std::to_string(m))});
    }
    // Module ordinal 30, with its only title on slide 150.
    std::vector<SlideSpec> last(150);
    for (auto& s : last)
        s.layout = 2;
    last[149].shapes = {boldTitle(2, "Last slide")};
    deck(kCourse, "30_M.pptx", last);

    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    ASSERT_TRUE(logged("TOC - TOC Creation Complete")) << allLines();
    const auto paragraphs = written();
    std::size_t lastSlide = 0;
    for (std::size_t i = 0; i < paragraphs.size(); ++i)
        if (paragraphs[i].text == "Last slide\t30-150")
            lastSlide = i;
    ASSERT_NE(lastSlide, 0u);
    // A title line, not laid out as a module heading.
    EXPECT_FALSE(paragraphs[lastSlide].italic);
    const auto texts = nonEmptyTexts(paragraphs);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "M29\t29-1"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Module 30: "), texts.end());
}

TEST_F(TOC, FortyModulesAndADeckOfTwoHundredSlidesAreAllReferredTo) {
    for (int m = 1; m <= 39; ++m) {
        char name[32];
        std::snprintf(name, sizeof name, "%02d_M.pptx", m);
        deck(kCourse, name, {titledSlide("M" + std::to_string(m))});
    }
    std::vector<SlideSpec> lab(200);
    for (auto& s : lab)
        s.layout = 2;
    lab[0].shapes = {boldTitle(2, "Lab")};
    lab[150].shapes = {boldTitle(2, "Past the old end")};
    lab[199].shapes = {boldTitle(2, "Last slide")};
    deck(kCourse, "40_Lab.pptx", lab);

    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    ASSERT_TRUE(logged("TOC - TOC Creation Complete")) << allLines();
    const auto texts = nonEmptyTexts(written());
    ASSERT_GE(texts.size(), 4u);
    const std::vector<std::string> tail(texts.end() - 4, texts.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Module 40: Lab", "Lab\t40-1", "Past the old end\t40-151",
                                              "Last slide\t40-200"}));
    for (int m : {29, 30, 31, 39}) {
        const std::string line = "M" + std::to_string(m) + "\t" + std::to_string(m) + "-1";
        EXPECT_NE(std::find(texts.begin(), texts.end(), line), texts.end()) << line;
    }
}

// Decks made by other programs carry their titles in the slides' title placeholders.
class TOCFromPlaceholders : public TOC {
protected:
    void corpusDeck(const std::string& corpusName, const QString& name) {
        makeFolder(kCourse);
        std::filesystem::copy_file(corpusDir() / "pptx" / corpusName, host(kCourse + "\\" + name));
    }
    // Two decks of another producer; the second slide of 03_Master.pptx has an empty centred title
    // whose layout shows "This is the Master Title".
    void makeCourse() {
        corpusDeck("poi-SampleShow.pptx", "01_Show.pptx");
        corpusDeck("poi-WithMaster.pptx", "03_Master.pptx");
    }
    static std::string titlePlaceholder(int id, const std::string& text) {
        return placeholderShape(id, "Title " + std::to_string(id), {"title", -1}, std::nullopt,
                                paragraph(run(text)));
    }
    std::vector<QString> check(TOCTitleSource source) {
        lf::indexing::CourseCheck course;
        course.toc = true;
        course.sourcePath = kCourse;
        course.destinationPath = "C:\\Out";
        course.tocTemplate = kTemplate;
        course.tocName = "TOC.docx";
        course.tocTitleSource = source;
        std::vector<QString> lines;
        for (const lf::indexing::CourseProblem& problem : lf::indexing::CheckCourse(course))
            lines.push_back(lf::indexing::ProblemLine(problem));
        return lines;
    }
};

TEST_F(TOCFromPlaceholders, TitlesAndHeadingsComeFromTheSlidesOwnTitlePlaceholders) {
    makeCourse();
    // The first text of the first slide is an empty text box: the heading takes the title placeholder.
    SlideSpec first;
    first.shapes = {textBox(2, "TextBox 2", Rect{emuPt(36), emuPt(4), emuPt(300), emuPt(14)}, paragraph("")),
                    titlePlaceholder(3, "Storage Basics")};
    deck(kCourse, "04_Heading.pptx", {first});

    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    ASSERT_TRUE(logged("TOC - TOC Creation Complete")) << allLines();
    EXPECT_EQ(nonEmptyTexts(written()),
              (std::vector<std::string>{"Table of Contents", "Module 1: Title of the first slide",
                                        "Title of the first slide\t1-1", "This is the second slide\t1-2",
                                        "Module 3: First page title", "First page title\t3-1",
                                        "Module 4: Storage Basics", "Storage Basics\t4-1"}))
        << "the layout's text on the empty title of 03_Master.pptx slide 2 is no title";

    // The rule alone, as for the house template only: the headings take the first text, bare or not.
    CollectTOC(kTemplate, "Rule.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::Rule);
    EXPECT_EQ(nonEmptyTexts(written("C:\\Out\\Rule.docx")),
              (std::vector<std::string>{"Table of Contents", "Module 1: Title of the first slide",
                                        "Module 3: First page title", "Module 4: "}));
}

TEST_F(TOCFromPlaceholders, HouseTemplateDecksGiveTheSameDocumentWhateverTheSetting) {
    TOC::makeCourse();
    // A title rectangle and a title placeholder on one slide: the rectangle's bold text is the title.
    SlideSpec both;
    both.layout = 2;
    both.shapes = {boldTitle(2, "Rectangle words"), titlePlaceholder(3, "Placeholder words")};
    deck(kCourse, "04_Both.pptx", {both});

    CollectTOC(kTemplate, "Rule.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::Rule);
    CollectTOC(kTemplate, "TOC.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true,
               TOCTitleSource::RuleThenPlaceholder);
    const auto rule = readZip(host("C:\\Out\\Rule.docx"));
    const auto placeholders = readZip(host("C:\\Out\\TOC.docx"));
    ASSERT_TRUE(rule.count("word/document.xml"));
    EXPECT_EQ(placeholders, rule) << "every part of the two documents byte for byte";
    const auto texts = nonEmptyTexts(written());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Rectangle words\t4-1"), texts.end());
    EXPECT_EQ(texts.size(), 13u);
}

TEST_F(TOCFromPlaceholders, TheCheckNamesEachSlideWithoutATitleOnceAndSaysWhy) {
    makeCourse();
    SlideSpec plain;
    plain.layout = 2;
    plain.shapes = {titleRectangle(2, run("Plain", false))};
    SlideSpec blanks;
    blanks.shapes = {titlePlaceholder(2, "   ")};
    SlideSpec empty;
    empty.layout = 2;
    deck(kCourse, "04_Gaps.pptx", {titledSlide("Gaps"), plain, blanks, empty});

    const QString rule = "no title shape (an auto shape named \"Rectangle...\" less than 52 points from the "
                         "top, with bold text)";
    const QString out = ": the TOC leaves the slide out";
    EXPECT_EQ(check(TOCTitleSource::RuleThenPlaceholder),
              (std::vector<QString>{
                  kCourse + "\\03_Master.pptx: slide 2: " + rule +
                      ", and the title placeholder \"Title 3\" holds no text of its own" + out,
                  kCourse +
                      "\\04_Gaps.pptx: slide 2: the title shape \"Rectangle 2\" has no bold text, and no "
                      "title placeholder" +
                      out,
                  kCourse + "\\04_Gaps.pptx: slide 3: " + rule +
                      ", and the title placeholder \"Title 2\" holds "
                      "only blanks" +
                      out,
                  kCourse + "\\04_Gaps.pptx: slide 4: " + rule + ", and no title placeholder" + out,
              }));
    // The rule alone leaves out every slide of the other producer's decks, for the rule's reason only.
    EXPECT_EQ(check(TOCTitleSource::Rule),
              (std::vector<QString>{
                  kCourse + "\\01_Show.pptx: slide 1: " + rule + out,
                  kCourse + "\\01_Show.pptx: slide 2: " + rule + out,
                  kCourse + "\\03_Master.pptx: slide 1: " + rule + out,
                  kCourse + "\\03_Master.pptx: slide 2: " + rule + out,
                  kCourse + "\\04_Gaps.pptx: slide 2: the title shape \"Rectangle 2\" has no bold text" + out,
                  kCourse + "\\04_Gaps.pptx: slide 3: " + rule + out,
                  kCourse + "\\04_Gaps.pptx: slide 4: " + rule + out,
              }));
}

} // namespace
