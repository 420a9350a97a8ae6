// Real decks made by other programs: every one opens, reads and round-trips; every bad file is refused
// with a description naming it, and is never written.
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace lf::ppt;
using lf::test::TempDir;

namespace {

// Everything the object model tells about a deck, as text, for comparing before and after a save.
std::string describe(Presentation& deck) {
    std::ostringstream out;
    out.precision(10);
    for (const Slide& slide : deck.slides()) {
        out << "slide " << slide.slideNumber() << "\n";
        for (const Shape& shape : slide.shapes()) {
            out << " [" << shape.name() << "] type " << shape.type() << " at " << shape.left() << ","
                << shape.top() << " size " << shape.width() << "x" << shape.height() << " bw "
                << shape.blackWhiteMode() << "\n";
            if (shape.hasTextFrame()) {
                TextRange range = shape.textFrame().textRange();
                out << "  text " << range.text() << " bold " << range.font().bold() << "\n";
                for (const TextRange& sentence : range.sentences()) {
                    out << "  sentence " << sentence.text() << " bold " << sentence.font().bold() << "\n";
                }
            }
        }
        for (const CustomXMLPart& part : slide.customerData()) {
            auto node = part.selectSingleNode("descendant::indexword");
            out << " custom " << part.partName() << " " << (node ? node->text() : "(none)") << "\n";
        }
        if (slide.hasNotesPage()) {
            for (const Shape& shape : slide.notesPage().shapes()) {
                out << " notes [" << shape.name() << "] " << shape.left() << "," << shape.top() << " "
                    << shape.width() << "x" << shape.height() << "\n";
            }
        }
    }
    return out.str();
}

std::filesystem::path copyInto(const TempDir& dir, const std::filesystem::path& file) {
    std::filesystem::path copy = dir / file.filename().string();
    std::filesystem::copy_file(file, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return copy;
}

} // namespace

TEST(PresentationCorpus, EveryDeckOpensAndRoundTripsUnchanged) {
    auto files = lf::test::corpusFiles("pptx");
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        TempDir dir;
        std::filesystem::path copy = copyInto(dir, file);
        Application app;
        std::string before;
        {
            Presentation deck = app.presentations().open(copy);
            EXPECT_EQ(deck.name(), file.filename().string());
            before = describe(deck);
            deck.save();
            deck.close();
        }
        Presentation again = app.presentations().open(copy);
        EXPECT_EQ(describe(again), before);
        // Nothing was changed, so every entry is as it was.
        auto original = lf::test::readZip(file);
        auto saved = lf::test::readZip(copy);
        for (const auto& [name, bytes] : original) {
            if (name.back() == '/') {
                continue; // folder entries carry nothing
            }
            ASSERT_TRUE(saved.count(name)) << name;
            EXPECT_EQ(saved[name], bytes) << name;
        }
    }
}

TEST(PresentationCorpus, EveryDeckTakesGrayscaleAndNotesLayout) {
    for (const auto& file : lf::test::corpusFiles("pptx")) {
        SCOPED_TRACE(file.filename().string());
        TempDir dir;
        std::filesystem::path copy = copyInto(dir, file);
        Application app;
        int slideCount = 0;
        {
            Presentation deck = app.presentations().open(copy);
            for (const Slide& slide : deck.slides()) {
                ++slideCount;
                for (Shape shape : slide.shapes()) {
                    shape.setBlackWhiteMode(office::msoBlackWhiteGrayScale);
                }
                Shapes notes = slide.notesPage().shapes();
                ASSERT_GE(notes.count(), 1);
                Shape image = notes.item(1);
                image.setTop(14.375);
                image.setLeft(50);
                image.setHeight(337.5);
                image.setWidth(450);
            }
            deck.save();
            deck.close();
        }
        Presentation again = app.presentations().open(copy);
        ASSERT_EQ(again.slides().count(), slideCount);
        for (const Slide& slide : again.slides()) {
            for (const Shape& shape : slide.shapes()) {
                EXPECT_EQ(shape.blackWhiteMode(), office::msoBlackWhiteGrayScale) << shape.name();
            }
            ASSERT_TRUE(slide.hasNotesPage());
            Shape image = slide.notesPage().shapes().item(1);
            EXPECT_NEAR(image.top(), 14.375, 1e-4);
            EXPECT_DOUBLE_EQ(image.left(), 50);
            EXPECT_DOUBLE_EQ(image.height(), 337.5);
            EXPECT_DOUBLE_EQ(image.width(), 450);
        }
    }
}

TEST(PresentationCorpus, EveryBadFileIsRefusedAndLeftAlone) {
    auto files = lf::test::corpusFiles("bad");
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        TempDir dir;
        std::filesystem::path copy = copyInto(dir, file);
        std::string bytes = lf::test::readFile(copy);
        auto stamp = std::filesystem::last_write_time(copy);
        Application app;
        try {
            Presentation deck = app.presentations().open(copy);
            // A deck that opens must still be read without a crash; reaching here is a failure.
            ADD_FAILURE() << "opened a bad file";
            describe(deck);
        } catch (const std::runtime_error& e) {
            std::string what = e.what();
            EXPECT_NE(what.find(copy.string()), std::string::npos) << what;
            EXPECT_GT(what.size(), copy.string().size() + 5) << what;
        }
        EXPECT_EQ(lf::test::readFile(copy), bytes);
        EXPECT_EQ(std::filesystem::last_write_time(copy), stamp);
        // No temporary file was left beside it.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}
