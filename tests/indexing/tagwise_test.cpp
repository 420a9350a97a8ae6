// The naming convention, the entry table and the slide text helpers, on real decks where slides are
// involved.
#include "course_builder.h"
#include "indexing/IndexCollation.h"
#include "indexing/modTagwise.h"
#include "office/presentation/presentation.h"
#include "platform/doubles.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace lf::indexing;
using lf::platform::MessageIcon;
using lf::platform::ScriptedMessageBoxes;

namespace {

class Tagwise : public ::testing::Test {
protected:
    EntryTable table;
    ScriptedMessageBoxes boxes;
};

TEST_F(Tagwise, ModuleNumbersFollowTheNamingConvention) {
    EXPECT_EQ(ModuleNumberFromFileName("01_Introduction.pptx"), "1");
    EXPECT_EQ(ModuleNumberFromFileName("10_Security.pptx"), "10");
    EXPECT_EQ(ModuleNumberFromFileName("07b_Lab.pptx"), "7b");
    EXPECT_EQ(ModuleNumberFromFileName("03a_Labs.pptx"), "3a");
    EXPECT_EQ(ModuleNumberFromFileName("12b.pptx"), "12b");
    EXPECT_EQ(ModuleNumberFromFileName("03_Overview.pptx"), "3");
    EXPECT_EQ(ModuleNumberFromFileName("00_Welcome.pptx"), "0");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Tagwise, WrongNamesShowTheWrongNameBoxAndGiveNothing) {
    EXPECT_EQ(ModuleNumberFromFileName("Intro.pptx"), "");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Wrong Name");
    EXPECT_EQ(boxes.shown[0].text, "The current presentation: Intro.pptx\n"
                                   "does not use the correct naming covention\n"
                                   "and will be skipped.");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(boxes.shown[0].buttons, lf::platform::MessageButtons::Ok);

    // The second character "_" has code 95.
    EXPECT_EQ(ModuleNumberFromFileName("1_Intro.pptx"), "");
    // A character beyond ASCII in the code page counts by its code there (e-acute is 233).
    EXPECT_EQ(ModuleNumberFromFileName(QString::fromUtf8("\xc3\xa9"
                                                         "1_Intro.pptx")),
              "");
    EXPECT_EQ(boxes.shown.size(), 3u);
}

TEST_F(Tagwise, NamesThatDoNotReadAsANumberFail) {
    EXPECT_THROW(ModuleNumberFromFileName("--_x.pptx"), TagwiseError);
    EXPECT_THROW(ModuleNumberFromFileName("5"), TagwiseError);
    EXPECT_THROW(ModuleNumberFromFileName(""), TagwiseError);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Tagwise, CleaningDropsBreaksAndReplacesLineBreaksByBlanks) {
    EXPECT_EQ(CleanSlideText(QString("Line one") + QChar(11) + "line two" + QChar(13)), "Line one line two");
    EXPECT_EQ(CleanSlideText(QString("a") + QChar(182) + "b\r\nc"), "abc");
    EXPECT_EQ(CleanSlideText("plain"), "plain");
}

TEST_F(Tagwise, MarkingMatchesEveryEntryWithoutRegardToCase) {
    EXPECT_FALSE(MarkEntryReference(table, "cache", 1, 1)); // empty table
    table.addModule("1");
    table.addEntry("Cache");
    table.addEntry("other");
    table.addEntry("CACHE");
    EXPECT_TRUE(MarkEntryReference(table, "cache", 1, 4));
    EXPECT_TRUE(table.IndexEntries[0].isMarked(1, 4));
    EXPECT_TRUE(table.IndexEntries[2].isMarked(1, 4));
    EXPECT_FALSE(table.IndexEntries[1].hasMarks());
    EXPECT_FALSE(MarkEntryReference(table, "missing", 1, 4));
}

TEST_F(Tagwise, MarksReachAnyModuleAndSlideAndAreReferredToInOrder) {
    for (int m = 1; m <= 45; ++m)
        table.addModule(m == 3 ? QString("3a") : QString::number(m));
    table.addEntry("edge");
    table.addEntry("other");
    // Marks as a course of 45 decks, some of 300 slides, gives them, a few out of reading order and
    // one twice.
    EXPECT_TRUE(MarkEntryReference(table, "edge", 1, 2));
    EXPECT_TRUE(MarkEntryReference(table, "EDGE", 3, 7));
    EXPECT_TRUE(MarkEntryReference(table, "edge", 30, 150));
    EXPECT_TRUE(MarkEntryReference(table, "edge", 31, 1));
    EXPECT_TRUE(MarkEntryReference(table, "edge", 45, 300));
    EXPECT_TRUE(MarkEntryReference(table, "edge", 1, 149));
    EXPECT_TRUE(MarkEntryReference(table, "edge", 45, 151));
    EXPECT_TRUE(MarkEntryReference(table, "edge", 31, 1));
    const IndexEntry& entry = table.IndexEntries[0];
    EXPECT_TRUE(entry.isMarked(45, 300));
    EXPECT_FALSE(entry.isMarked(45, 299));
    EXPECT_FALSE(table.IndexEntries[1].hasMarks());
    EXPECT_EQ(ReferencesOf(table, entry),
              (std::vector<QString>{"1-2", "1-149", "3a-7", "30-150", "31-1", "45-151", "45-300"}));

    try {
        MarkEntryReference(table, "edge", -1, 1);
        FAIL() << "module -1 was marked";
    } catch (const TagwiseError& e) {
        EXPECT_NE(std::string(e.what()).find("module -1"), std::string::npos) << e.what();
    }
    EXPECT_THROW(MarkEntryReference(table, "edge", 1, -1), TagwiseError);
}

TEST_F(Tagwise, SortingOrdersByWordWithoutRegardToCaseAndMovesTheMarks) {
    const IndexCollation english("en");
    table.addModule("1");
    table.addEntry("cherry").mark(1, 3);
    table.addEntry("Banana").mark(1, 2);
    table.addEntry("apple").mark(1, 1);
    SortIndexEntries(table, english);
    ASSERT_EQ(table.EntryCount(), 3);
    EXPECT_EQ(table.IndexEntries[0].Word, "apple");
    EXPECT_EQ(table.IndexEntries[1].Word, "Banana");
    EXPECT_EQ(table.IndexEntries[2].Word, "cherry");
    EXPECT_TRUE(table.IndexEntries[0].isMarked(1, 1));
    EXPECT_TRUE(table.IndexEntries[1].isMarked(1, 2));
    EXPECT_TRUE(table.IndexEntries[2].isMarked(1, 3));

    // Entries added to a sorted table are merged in.
    // "Éclair" among the e's; a zero-width space, which the language ignores, leaves two words that
    // only their code points tell apart, in the same order however they arrive.
    table.addEntry("Aardvark").mark(1, 9);
    table.addEntry("zebra");
    table.addEntry(QString::fromUtf8("e\u200Bgg"));
    table.addEntry("Blue");
    table.addEntry(QString::fromUtf8("Éclair"));
    table.addEntry("egg");
    table.addEntry("ebb");
    SortIndexEntries(table, english);
    QStringList words;
    for (const auto& e : table.IndexEntries)
        words << e.Word;
    EXPECT_EQ(words,
              (QStringList{"Aardvark", "apple", "Banana", "Blue", "cherry", "ebb",
                           QString::fromUtf8("Éclair"), "egg", QString::fromUtf8("e\u200Bgg"), "zebra"}));
    EXPECT_TRUE(table.IndexEntries[0].isMarked(1, 9));
    // MarkEntryReference still finds words after they moved.
    EXPECT_TRUE(MarkEntryReference(table, "BLUE", 1, 5));
    EXPECT_TRUE(table.IndexEntries[3].isMarked(1, 5));
    EXPECT_EQ(table.IndexEntries[3].Word, "Blue");
}

TEST_F(Tagwise, WrappingBreaksLongReferenceLinesNearThirtyOneCharacters) {
    QString shortLine = "abcdefghij, 1-1, 1-2, 1-3, 1-4"; // 30 characters
    ASSERT_EQ(shortLine.size(), 30);
    WrapReferenceList(shortLine);
    EXPECT_EQ(shortLine, "abcdefghij, 1-1, 1-2, 1-3, 1-4");

    QString line = "alpha, 1-1, 1-2, 1-3, 1-4, 1-5, 1-6, 1-7";
    ASSERT_EQ(line.size(), 40);
    WrapReferenceList(line);
    EXPECT_EQ(line, "alpha, 1-1, 1-2, 1-3, 1-4, 1-5,\r\n 1-6, 1-7");

    QString many = "bandwidth";
    for (int s = 1; s <= 40; ++s)
        many += ", 2-" + QString::number(s);
    WrapReferenceList(many);
    const QStringList lines = many.split("\r\n");
    ASSERT_GT(lines.size(), 5);
    for (int i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), 33) << lines[i].toStdString();
        if (i + 1 < lines.size()) {
            EXPECT_TRUE(lines[i].endsWith(',')) << lines[i].toStdString();
        }
        if (i > 0) {
            EXPECT_TRUE(lines[i].startsWith(' ')) << lines[i].toStdString();
        }
    }
    EXPECT_TRUE(lines.last().endsWith("2-40"));
    EXPECT_EQ(QString(many).remove("\r\n").count(','), 40);

    // A part longer than a line stays whole; the limit then counts from its end.
    QString longPart = "an extraordinarily long index word well past the line, 1-1, 1-2, 1-3";
    WrapReferenceList(longPart);
    EXPECT_EQ(longPart.toStdString(),
              "an extraordinarily long index word well past the line, 1-1,\r\n 1-2, 1-3");
}

class SlideTitles : public Tagwise {
protected:
    // The title of the first slide of a deck made of the given shapes.
    QString titleOf(std::vector<std::string> shapes, bool usesPicture = false) {
        lf::test::SlideSpec slide;
        slide.layout = 2;
        slide.shapes = std::move(shapes);
        slide.usesPicture = usesPicture;
        const auto file = lf::test::writeDeck(dir.path(), "01_Deck.pptx", {slide});
        lf::ppt::Application app;
        lf::ppt::Presentation deck = app.presentations().open(file);
        const QString title = SlideTitleText(deck.slides().item(1));
        app.quit();
        return title;
    }
    lf::test::TempDir dir;
};

TEST_F(SlideTitles, BannersBeginningWithModuleArePassedOver) {
    using namespace lf::test;
    EXPECT_EQ(titleOf({banner(2, "Module 2: Storage"), boldTitle(3, "Disk Layout")}), "Disk Layout");
    EXPECT_EQ(titleOf({banner(2, "Modules in depth"), boldTitle(3, "Real title")}), "Real title");
    EXPECT_EQ(titleOf({banner(2, "Module 1"), banner(3, "Module 2")}), "");
    EXPECT_EQ(titleOf({}), "");
}

TEST_F(SlideTitles, AnEmptyFirstShapeGivesAnEmptyTitle) {
    using namespace lf::test;
    EXPECT_EQ(titleOf({banner(2, ""), boldTitle(3, "Never read")}), "");
    EXPECT_EQ(titleOf({banner(2, "Mod"), boldTitle(3, "Never read")}), "Mod");
}

TEST_F(SlideTitles, ShapesWithoutTextArePassedOver) {
    using namespace lf::test;
    const Rect r{emuPt(10), emuPt(10), emuPt(100), emuPt(100)};
    EXPECT_EQ(titleOf({picture(2, "Picture 1", r), boldTitle(3, "After the picture")}, true),
              "After the picture");
    EXPECT_EQ(titleOf({group(2, "Group 1", r, connector(4, "Line", r)), boldTitle(3, "After the group")}),
              "After the group");
}

} // namespace
