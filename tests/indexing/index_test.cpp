// The Index end to end on local folders: tagged words read from real decks' custom XML parts, merged
// and sorted, the document written from a real template and read back.
#include "courserun/course_run.h"
#include "indexing/CollectIndex.h"
#include "indexing/CollectTOC.h"
#include "indexing/WordStuff.h"
#include "indexing_fixture.h"

using namespace lf::test;
using lf::indexing::CollectIndex;
using lf::indexing::CollectTOC;
using lf::platform::MessageAnswer;

namespace {

const QString kCourse = "C:\\Courses\\Net";
const QString kTemplate = "C:\\Templates\\Template.docx";

// count slides, with the words of slide n given by words[n].
std::vector<SlideSpec> slidesWith(int count, const std::map<int, std::vector<std::string>>& words) {
    std::vector<SlideSpec> slides;
    for (int n = 1; n <= count; ++n) {
        auto it = words.find(n);
        slides.push_back(titledSlide("Slide " + std::to_string(n),
                                     it == words.end() ? std::vector<std::string>{} : it->second));
    }
    return slides;
}

class Index : public IndexingOperation {
protected:
    std::vector<WrittenParagraph> written(const QString& file = "C:\\Out\\Index.docx") {
        return readParagraphs(host(file));
    }
};

TEST_F(Index, MergesWordsAndGroupsThemByInitialLetter) {
    deck(kCourse, "01_Basics.pptx",
         slidesWith(5, {{2, {"apple"}}, {4, {"Cache", "Banana"}}, {5, {"Banana"}}}));
    std::vector<SlideSpec> second = slidesWith(9, {{1, {"bandwidth", "bandwidth"}}, {9, {"cache"}}});
    // Another add-in's part, and a part holding two tagged words.
    second[2].customXml = {"<other xmlns=\"urn:x\"><value>not a word</value></other>",
                           "<tagwise><indexword>first</indexword><indexword>second</indexword></tagwise>"};
    deck(kCourse, "02_Links.pptx", second);
    deck(kCourse, "03a_Labs.pptx", slidesWith(7, {{7, {"3D view"}}}));
    deck(kCourse, "04_Empty.pptx", slidesWith(2, {}));

    CollectIndex(kTemplate, "Index.docx", kCourse, "C:\\Out", "Networking", "C:\\syllabo", true);

    const QStringList expected = {
        "Begin",
        "Copying files to working directory",
        "Copied C:\\Courses\\Net\\01_Basics.pptx to C:\\syllabo\\",
        "Copied C:\\Courses\\Net\\02_Links.pptx to C:\\syllabo\\",
        "Copied C:\\Courses\\Net\\03a_Labs.pptx to C:\\syllabo\\",
        "Copied C:\\Courses\\Net\\04_Empty.pptx to C:\\syllabo\\",
        "About to process ppt files",
        "Indexing 01_Basics.pptx",
        "Indexing 02_Links.pptx",
        "Indexing 03a_Labs.pptx",
        "Indexing 04_Empty.pptx",
        "All ppt files processed",
        "List of indexed words created",
        "Created index document in C:\\Out",
        "Indexing Complete",
    };
    EXPECT_EQ(linesOf("Index"), expected) << allLines();
    // The window's progress line moves deck by deck.
    EXPECT_EQ(log.progress, (QStringList{"Index: deck 1 of 4", "Index: deck 2 of 4", "Index: deck 3 of 4",
                                         "Index: deck 4 of 4"}));
    EXPECT_EQ(sleeper.durations, std::vector<int>{1000});
    EXPECT_TRUE(log.errors.isEmpty());

    const auto paragraphs = written();
    std::vector<std::string> texts;
    for (const auto& p : paragraphs)
        texts.push_back(p.text);
    // The document starts with the paragraph left by clearing, then each group: an empty paragraph,
    // the letter, an empty paragraph, its lines.
    const std::vector<std::string> expectedTexts = {"",
                                                    "",
                                                    "3",
                                                    "",
                                                    "3D view, 3a-7",
                                                    "",
                                                    "A",
                                                    "",
                                                    "apple, 1-2",
                                                    "",
                                                    "B",
                                                    "",
                                                    "Banana, 1-4, 1-5",
                                                    "bandwidth, 2-1",
                                                    "",
                                                    "C",
                                                    "",
                                                    "Cache, 1-4, 2-9",
                                                    "",
                                                    "F",
                                                    "",
                                                    "first, 2-3"};
    EXPECT_EQ(texts, expectedTexts);
    for (const auto& p : paragraphs) {
        if (p.text.empty())
            continue;
        EXPECT_EQ(p.style, "Plain Text") << p.text;
        EXPECT_EQ(p.font, "Courier New") << p.text;
        EXPECT_EQ(p.size, 10) << p.text;
        EXPECT_FALSE(p.italic) << p.text;
        EXPECT_EQ(p.bold, p.text.size() == 1) << p.text; // only the letters are bold
        EXPECT_EQ(p.alignment, 0) << p.text;
    }
    EXPECT_EQ(readHeaderText(host("C:\\Out\\Index.docx")), "Networking");
    EXPECT_FALSE(exists("C:\\syllabo\\Index.docx"));
    EXPECT_FALSE(exists("C:\\syllabo\\01_Basics.pptx"));
    EXPECT_FALSE(exists("C:\\Courses\\Net\\TagwiseDebug.txt"));
}

TEST_F(Index, LongReferenceListsAreWrapped) {
    std::map<int, std::vector<std::string>> words;
    for (int n = 1; n <= 40; ++n)
        words[n] = {"bandwidth"};
    deck(kCourse, "12_Long.pptx", slidesWith(40, words));
    CollectIndex(kTemplate, "Index.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true);
    const auto texts = nonEmptyTexts(written());
    ASSERT_GT(texts.size(), 4u) << allLines();
    EXPECT_EQ(texts[0], "B");
    EXPECT_EQ(texts[1].rfind("bandwidth, 12-1, 12-2,", 0), 0u) << texts[1];
    std::string joined;
    for (std::size_t i = 1; i < texts.size(); ++i) {
        EXPECT_LE(texts[i].size(), 40u) << texts[i];
        if (i + 1 < texts.size()) {
            EXPECT_EQ(texts[i].back(), ',') << texts[i];
        }
        if (i > 1) {
            EXPECT_EQ(texts[i].front(), ' ') << texts[i];
        }
        joined += texts[i];
    }
    EXPECT_NE(joined.find("12-39, 12-40"), std::string::npos) << joined;
}

TEST_F(Index, FortyModulesAndADeckOfTwoHundredSlidesAreAllReferredTo) {
    for (int m = 1; m <= 39; ++m) {
        char name[32];
        std::snprintf(name, sizeof name, "%02d_M.pptx", m);
        deck(kCourse, name, slidesWith(1, {{1, {m % 2 ? "cache" : "Cache"}}}));
    }
    deck(kCourse, "40_Lab.pptx",
         slidesWith(200, {{1, {"zone"}}, {151, {"CACHE", "zone"}}, {200, {"cache"}}}));
    CollectIndex(kTemplate, "Index.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true);
    ASSERT_TRUE(logged("Index - Indexing Complete")) << allLines();

    // The wrapped lines of each word, joined back into its Index line.
    std::map<std::string, std::string> lines;
    std::string heading;
    for (const std::string& text : nonEmptyTexts(written())) {
        if (text.size() == 1)
            heading = text;
        else
            lines[heading] += text;
    }
    std::string cache = "cache";
    for (int m = 1; m <= 39; ++m)
        cache += ", " + std::to_string(m) + "-1";
    cache += ", 40-151, 40-200";
    EXPECT_EQ(lines, (std::map<std::string, std::string>{{"C", cache}, {"Z", "zone, 40-1, 40-151"}}));
}

TEST_F(Index, TheDebugFileListsEveryTaggedWordAndIsClosed) {
    deck(kCourse, "01_A.pptx", slidesWith(1, {}));
    deck(kCourse, "02_B.pptx", slidesWith(1, {}));
    deck(kCourse, "03_C.pptx",
         slidesWith(12, {{12, {"cache"}}, {3, {std::string("two") + "\x0b" + "lines"}}}));
    writeFile(host(kCourse + "\\TagwiseDebug.txt"), "old content\r\n");
    CollectIndex(kTemplate, "Index.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true);
    ASSERT_TRUE(logged("Index - Indexing Complete")) << allLines();
    EXPECT_EQ(readFile(host(kCourse + "\\TagwiseDebug.txt")), "two\x0blines 3-3\r\ncache 3-12\r\n");

    // A second run in the same program without the file writes nothing and does not fail.
    std::filesystem::remove(host(kCourse + "\\TagwiseDebug.txt"));
    log.lines.clear();
    CollectIndex(kTemplate, "Index2.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true);
    EXPECT_TRUE(logged("Index - Indexing Complete")) << allLines();
    EXPECT_FALSE(exists(kCourse + "\\TagwiseDebug.txt"));
}

TEST_F(Index, DecksWithoutTagsGiveADocumentWithOnlyTheHeader) {
    deck(kCourse, "01_A.pptx", slidesWith(3, {}));
    CollectIndex(kTemplate, "Index.docx", kCourse, "C:\\Out", "Empty Course", "C:\\syllabo", true);
    ASSERT_TRUE(logged("Index - Indexing Complete")) << allLines();
    EXPECT_TRUE(nonEmptyTexts(written()).empty());
    EXPECT_EQ(readHeaderText(host("C:\\Out\\Index.docx")), "Empty Course");
}

TEST_F(Index, AWronglyNamedDeckEndsTheOperation) {
    deck(kCourse, "01_A.pptx", slidesWith(1, {{1, {"word"}}}));
    deck(kCourse, "Zeta.pptx", slidesWith(1, {{1, {"other"}}}));
    CollectIndex(kTemplate, "Index.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true);
    EXPECT_TRUE(
        logged("Index - The current presentation: Zeta.pptx does not use the correct naming covention "
               "and will be skipped"))
        << allLines();
    EXPECT_FALSE(logged("Index - Indexing Complete"));
    EXPECT_FALSE(exists("C:\\Out\\Index.docx"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Wrong Name");
}

TEST_F(Index, ADeclinedOverwriteLeavesTheOldDocument) {
    deck(kCourse, "01_A.pptx", slidesWith(1, {{1, {"word"}}}));
    writeFile(host("C:\\Out\\Index.docx"), "old");
    boxes.answers = {MessageAnswer::No};
    CollectIndex(kTemplate, "Index.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo", true);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Index Exists");
    EXPECT_EQ(boxes.shown[0].text, "Index document exists.  OK to overwrite?");
    EXPECT_EQ(readFile(host("C:\\Out\\Index.docx")), "old");
    EXPECT_FALSE(logged("Index - Created index document in C:\\Out"));
    EXPECT_TRUE(logged("Index - Indexing Complete"));
    EXPECT_FALSE(pointer.hourglass);
    EXPECT_EQ(lf::indexing::documentWriter().documents().count(), 0);
}

TEST_F(Index, AFailingWriterLogsItsSeriousError) {
    deck(kCourse, "01_A.pptx", slidesWith(1, {{1, {"word"}}}));
    writeFile(host("C:\\Templates\\Broken.docx"), "not a package");
    CollectIndex("C:\\Templates\\Broken.docx", "Index.docx", kCourse, "C:\\Out", "Course", "C:\\syllabo",
                 true);
    const QStringList writer = linesOf("WriteIndex");
    ASSERT_EQ(writer.size(), 1) << allLines();
    EXPECT_TRUE(writer[0].startsWith("Serious error ")) << writer[0].toStdString();
    EXPECT_TRUE(logged("Index - Indexing Complete"));
    EXPECT_FALSE(pointer.hourglass);
}

TEST_F(Index, ThenTOCReadTheDecksTheIndexStaged) {
    deck(kCourse, "01_A.pptx", slidesWith(2, {{2, {"word"}}}));
    writeWordTemplate(host("C:\\Templates\\TOC.docx"));
    lf::courserun::CourseRun run(QStringLiteral("C:\\syllabo"));
    CollectIndex(run, kTemplate, "Index.docx", kCourse, "C:\\Out", "Course", false);
    EXPECT_TRUE(exists("C:\\syllabo\\01_A.pptx")); // left for the TOC
    CollectTOC(run, "C:\\Templates\\TOC.docx", "TOC.docx", "C:\\syllabo", "C:\\Out", "Course", true,
               lf::indexing::TOCTitleSource::RuleThenPlaceholder);
    EXPECT_EQ(linesOf("TOC").count("Copying files to working directory"), 0) << allLines();
    EXPECT_TRUE(logged("TOC - TOC Creation Complete"));
    // The TOC's clean-up removes what both operations registered.
    EXPECT_FALSE(exists("C:\\syllabo\\01_A.pptx"));
    EXPECT_FALSE(exists("C:\\syllabo\\Index.docx"));
    EXPECT_FALSE(exists("C:\\syllabo\\TOC.docx"));
    EXPECT_TRUE(exists("C:\\Out\\Index.docx"));
    EXPECT_TRUE(exists("C:\\Out\\TOC.docx"));
}

TEST_F(Index, ADestinationThatIsTheWorkingDirectoryKeepsTheDocument) {
    deck(kCourse, "01_A.pptx", slidesWith(1, {{1, {"word"}}}));
    CollectIndex(kTemplate, "Index.docx", kCourse, "C:\\syllabo", "Course", "C:\\syllabo", true);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(logged("Index - Created index document in C:\\syllabo")) << allLines();
    EXPECT_TRUE(exists("C:\\syllabo\\Index.docx"));
    EXPECT_FALSE(exists("C:\\syllabo\\01_A.pptx"));
}

} // namespace
