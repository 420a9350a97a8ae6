// The grayscale-and-resize operation on local course folders: every slide shape in grayscale, the
// notes-page layout, saving in place, its log lines, and a failing deck in the middle of a course.
#include "course_fixture.h"
#include "office/presentation/presentation.h"
#include "printready/modRandG.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace lf::test;
using lf::printready::RunGrayscaleResize;
namespace ppt = lf::ppt;

namespace {

struct Box {
    double top, left, height, width;
};

// The notes-page shapes of every slide, as lessonforge-deck show reports them.
std::vector<std::vector<Box>> notesBoxes(const std::filesystem::path& deck) {
    const std::string json = deckShow(deck);
    std::vector<std::vector<Box>> out;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    for (const QJsonValue& slide : doc.object()["slides"].toArray()) {
        std::vector<Box> boxes;
        for (const QJsonValue& shape : slide.toObject()["notes"].toObject()["shapes"].toArray()) {
            const QJsonObject s = shape.toObject();
            boxes.push_back(
                {s["top"].toDouble(), s["left"].toDouble(), s["height"].toDouble(), s["width"].toDouble()});
        }
        out.push_back(boxes);
    }
    return out;
}

// Decks hold positions in whole EMU (12,700 to the point): 14.375 points is stored to the nearest one.
void expectBox(const Box& b, const lf::printready::NotesGeometry& g) {
    constexpr double emu = 1.0 / 12700;
    EXPECT_NEAR(b.top, g.top, emu);
    EXPECT_NEAR(b.left, g.left, emu);
    EXPECT_NEAR(b.height, g.height, emu);
    EXPECT_NEAR(b.width, g.width, emu);
}

// The black-and-white modes of every slide shape (or of every notes-page shape) of a deck.
std::vector<int> slideShapeModes(const std::filesystem::path& file, bool notesPages = false) {
    ppt::Application app;
    ppt::Presentation deck = app.presentations().open(file, true);
    std::vector<int> modes;
    for (const ppt::Slide& slide : deck.slides()) {
        for (const ppt::Shape& shape : notesPages ? slide.notesPage().shapes() : slide.shapes())
            modes.push_back(shape.blackWhiteMode());
    }
    return modes;
}

class Grayscale : public CourseTest {};

} // namespace

TEST_F(Grayscale, LocalCourseGetsGrayscaleAndTheNotesLayoutInPlace) {
    makeFolder("Course/Extra");
    courseDeck(3, "Intro").write(host("Course/01_Intro.pptx"));
    // Slide 1: a notes page with one shape; slide 2: three shapes; slide 3: no shapes on the slide and
    // no notes page of its own (one is made from the notes master).
    DeckBuilder odd = courseDeck(3, "Odd");
    odd.slides[0].notesShapes = std::vector<std::string>{notesImageShape(2)};
    odd.slides[1].notesShapes = std::vector<std::string>{
        notesImageShape(2), notesTextShape(3, "Two"),
        textBox(4, "Extra", {emuPt(10), emuPt(700), emuPt(100), emuPt(20)}, paragraph(run("x")))};
    odd.slides[2].shapes.clear();
    odd.slides[2].usesPicture = false;
    odd.slides[2].notesShapes.reset();
    odd.write(host("Course/02_Odd.pptx"));
    writeFile(host("Course/readme.txt"), "not a deck");
    courseDeck(1).write(host("Course/Extra/03_Nested.pptx"));
    const std::string nested = readFile(host("Course/Extra/03_Nested.pptx"));

    EXPECT_EQ(slideShapeModes(host("Course/01_Intro.pptx")), std::vector<int>(9, 1));

    RunGrayscaleResize(local("Course"), local("work"), true);

    EXPECT_EQ(log.lines, (QStringList{
                             "Resize - Begin",
                             "Resize - Resizing local files",
                             "Resize - Resizing and setting grayscale for 01_Intro.pptx",
                             "Resize - Resizing and setting grayscale for 02_Odd.pptx",
                             "Resize - Resize and grayscale complete",
                         }));
    EXPECT_TRUE(log.errors.isEmpty());
    EXPECT_EQ(lf::oplog::processCount(), 2);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(pointer.changes, (std::vector<bool>{true, false}));
    EXPECT_EQ(yields.count, 1);

    EXPECT_EQ(slideShapeModes(host("Course/01_Intro.pptx")), std::vector<int>(9, 2));
    EXPECT_EQ(slideShapeModes(host("Course/02_Odd.pptx")), std::vector<int>(6, 2));
    // Notes-page shapes keep their mode.
    EXPECT_EQ(slideShapeModes(host("Course/01_Intro.pptx"), true), std::vector<int>(6, 1));

    const auto intro = notesBoxes(host("Course/01_Intro.pptx"));
    ASSERT_EQ(intro.size(), 3u);
    for (const auto& page : intro) {
        ASSERT_EQ(page.size(), 2u);
        expectBox(page[0], lf::printready::kNotesSlideImage);
        expectBox(page[1], lf::printready::kNotesText);
    }
    const auto oddNotes = notesBoxes(host("Course/02_Odd.pptx"));
    ASSERT_EQ(oddNotes.size(), 3u);
    ASSERT_EQ(oddNotes[0].size(), 1u);
    expectBox(oddNotes[0][0], lf::printready::kNotesSlideImage);
    ASSERT_EQ(oddNotes[1].size(), 3u);
    expectBox(oddNotes[1][0], lf::printready::kNotesSlideImage);
    expectBox(oddNotes[1][1], lf::printready::kNotesText);
    // Shapes beyond the second keep their place.
    EXPECT_DOUBLE_EQ(oddNotes[1][2].top, 700);
    EXPECT_DOUBLE_EQ(oddNotes[1][2].width, 100);
    ASSERT_EQ(oddNotes[2].size(), 2u);
    expectBox(oddNotes[2][0], lf::printready::kNotesSlideImage);
    expectBox(oddNotes[2][1], lf::printready::kNotesText);

    EXPECT_EQ(readFile(host("Course/readme.txt")), "not a deck");
    EXPECT_EQ(readFile(host("Course/Extra/03_Nested.pptx")), nested); // only the folder itself

    // A second run changes nothing more: the values are assigned as they stand.
    RunGrayscaleResize(local("Course"), local("work"), true);
    EXPECT_EQ(notesBoxes(host("Course/01_Intro.pptx")).size(), 3u);
    EXPECT_EQ(slideShapeModes(host("Course/01_Intro.pptx")), std::vector<int>(9, 2));
}

TEST_F(Grayscale, MissingSourceFolderShowsTheBoxAndChangesNothing) {
    RunGrayscaleResize(local("NoSuchCourse"), local("work"), true);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Missing Source Path");
    EXPECT_EQ(boxes.shown[0].text, "Your source path does not exist\nplease correct it.");
    EXPECT_EQ(boxes.shown[0].icon, lf::platform::MessageIcon::Critical);
    EXPECT_EQ(boxes.shown[0].buttons, lf::platform::MessageButtons::Ok);
    EXPECT_EQ(log.lines, QStringList{"Resize - Begin"});
    EXPECT_TRUE(pointer.changes.empty());
}

TEST_F(Grayscale, AFolderWithoutDecksReportsThatNothingWasProcessed) {
    makeFolder("Empty");
    writeFile(host("Empty/notes.docx"), "x");
    RunGrayscaleResize(local("Empty"), local("work"), true);
    EXPECT_EQ(log.lines, (QStringList{"Resize - Begin", "Resize - Resizing local files",
                                      "Resize - Process count is zero", "Resize - Nothing was processed"}));
    EXPECT_EQ(pointer.changes, (std::vector<bool>{true, false}));
}

// A deck that fails in the middle of a course ends the operation with the failure's description as
// its last line: the deck before it keeps its changes, it and every deck after it keep every byte.
TEST_F(Grayscale, AFailingDeckEndsTheRunAndLeavesItAndTheRestUntouched) {
    struct Bad {
        std::string name;
        std::function<void(const std::filesystem::path&)> make;
    };
    std::vector<Bad> bad;
    for (const auto& file : corpusFiles("bad")) {
        const std::string n = file.filename().string();
        if (n.ends_with(".pptx") || n.find("password") != std::string::npos) // the encrypted document
            bad.push_back(
                {n, [file](const std::filesystem::path& to) { std::filesystem::copy_file(file, to); }});
    }
    ASSERT_GE(bad.size(), 4u);
    bad.push_back({"notes page without shapes", [](const std::filesystem::path& to) {
                       DeckBuilder b = courseDeck(2);
                       b.slides[1].notesShapes = std::vector<std::string>{};
                       b.write(to);
                   }});

    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        std::filesystem::remove_all(host("Course"));
        makeFolder("Course");
        courseDeck(2, "First").write(host("Course/01_First.pptx"));
        b.make(host("Course/02_Bad.pptx"));
        courseDeck(2, "Third").write(host("Course/03_Third.pptx"));
        const std::string first = readFile(host("Course/01_First.pptx"));
        const std::string broken = readFile(host("Course/02_Bad.pptx"));
        const std::string third = readFile(host("Course/03_Third.pptx"));
        log.lines.clear();
        pointer.changes.clear();

        RunGrayscaleResize(local("Course"), local("work"), true);

        ASSERT_EQ(log.lines.size(), 5);
        EXPECT_EQ(log.lines[3], "Resize - Resizing and setting grayscale for 02_Bad.pptx");
        // The description, with no prefix, not as an error.
        EXPECT_TRUE(log.lines[4].startsWith("Resize - ")) << log.lines[4].toStdString();
        EXPECT_GT(log.lines[4].size(), QString("Resize - ").size());
        EXPECT_FALSE(log.lines[4].contains("Serious error"));
        if (b.name == "notes page without shapes") {
            EXPECT_EQ(log.lines[4], "Resize - 02_Bad.pptx: the notes page of slide 2 has no shape");
        }
        EXPECT_TRUE(log.errors.isEmpty());
        EXPECT_FALSE(log.lines.contains("Resize - Resize and grayscale complete"));
        EXPECT_EQ(pointer.changes, (std::vector<bool>{true, false}));

        EXPECT_NE(readFile(host("Course/01_First.pptx")), first);
        EXPECT_EQ(slideShapeModes(host("Course/01_First.pptx")), std::vector<int>(6, 2));
        EXPECT_EQ(readFile(host("Course/02_Bad.pptx")), broken);
        EXPECT_EQ(readFile(host("Course/03_Third.pptx")), third);
        std::vector<std::string> leftovers;
        for (const auto& e : std::filesystem::directory_iterator(host("Course")))
            leftovers.push_back(e.path().filename().string());
        EXPECT_EQ(leftovers.size(), 3u) << "no temporary file is left beside the decks";
    }
}
