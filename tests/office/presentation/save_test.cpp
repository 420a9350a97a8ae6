// Saving in place without loss, closing without saving, and decks the engine must refuse.
#include "deck_builder.h"
#include "office/opc/package.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace lf::ppt;
using namespace lf::test;

namespace {

DeckBuilder sampleDeck() {
    DeckBuilder b;
    for (const char* t : {"One", "Two"}) {
        SlideSpec s;
        s.usesPicture = true;
        s.shapes = {placeholderShape(2, "Title 1", {"title", -1}, std::nullopt, paragraph(run(t))),
                    picture(3, "Picture 3", Rect{0, 0, emuPt(10), emuPt(10)})};
        s.customXml = {std::string("<t><indexword>") + t + "</indexword></t>"};
        b.slides.push_back(s);
    }
    return b;
}

std::size_t filesIn(const std::filesystem::path& dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

// Opening the file fails with a description that names it and says what is wrong; the file is unchanged.
void expectRefused(const std::filesystem::path& file, const std::string& reason) {
    SCOPED_TRACE(file.filename().string() + ": " + reason);
    std::string bytes = readFile(file);
    Application app;
    try {
        app.presentations().open(file);
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
        std::string what = e.what();
        static int refusals = 0;
        testing::Test::RecordProperty("refused" + std::to_string(++refusals), what);
        EXPECT_NE(what.find(file.string()), std::string::npos) << what;
        EXPECT_NE(what.find(reason), std::string::npos) << what;
    }
    EXPECT_EQ(readFile(file), bytes);
    EXPECT_EQ(filesIn(file.parent_path()), 1u);
}

using Parts = std::vector<std::pair<std::string, std::string>>;

Parts withPart(Parts parts, const std::string& name, const std::string& bytes) {
    for (auto& [n, b] : parts) {
        if (n == name) {
            b = bytes;
            return parts;
        }
    }
    parts.emplace_back(name, bytes);
    return parts;
}

Parts withoutPart(Parts parts, const std::string& name) {
    std::erase_if(parts, [&](const auto& p) { return p.first == name; });
    return parts;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string partText(const Parts& parts, const std::string& name) {
    for (const auto& [n, b] : parts) {
        if (n == name) {
            return b;
        }
    }
    return {};
}

} // namespace

TEST(PresentationSave, CopiesUnchangedPartsAsStoredAndWritesOnlyChangedOnes) {
    TempDir dir;
    std::filesystem::path file = dir / "04_Save.pptx";
    sampleDeck().write(file);
    auto before = readZipRaw(file);

    Application app;
    Presentation deck = app.presentations().open(file);
    // Read everything, change one shape of slide 2.
    for (const Slide& slide : deck.slides()) {
        for (const Shape& shape : slide.shapes()) {
            (void)shape.top();
        }
        (void)slide.customerData().at(0).selectSingleNode("descendant::indexword");
    }
    deck.slides().item(2).shapes().item(1).setBlackWhiteMode(2);
    deck.save();
    EXPECT_EQ(filesIn(dir.path()), 1u); // no temporary file left behind

    auto after = readZipRaw(file);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, stored] : before) {
        ASSERT_TRUE(after.count(name)) << name;
        if (name == "ppt/slides/slide2.xml") {
            EXPECT_NE(after[name].second, stored.second);
        } else {
            EXPECT_EQ(after[name].first, stored.first) << name;   // same compression
            EXPECT_EQ(after[name].second, stored.second) << name; // same stored bytes
        }
    }
    // The deck stays usable after saving and can be saved again.
    deck.slides().item(1).shapes().item(1).setLeft(12);
    deck.save();
    deck.close();
    Presentation again = app.presentations().open(file);
    EXPECT_EQ(again.slides().item(2).shapes().item(1).blackWhiteMode(), 2);
    EXPECT_DOUBLE_EQ(again.slides().item(1).shapes().item(1).left(), 12);
    EXPECT_EQ(again.slides().item(1).shapes().item(1).textFrame().textRange().text(), "One");
}

TEST(PresentationSave, SettingWhatAlreadyStandsLeavesTheFileAlone) {
    TempDir dir;
    std::filesystem::path file = dir / "05_Again.pptx";
    sampleDeck().write(file);
    Application app;
    {
        Presentation deck = app.presentations().open(file);
        Shape picture = deck.slides().item(1).shapes().item(2);
        picture.setBlackWhiteMode(2);
        picture.setTop(20);
        // The title inherits its place from the layout: setting it writes the shape's own transform.
        Shape title = deck.slides().item(1).shapes().item(1);
        title.setLeft(title.left());
        deck.save();
        deck.close();
    }
    const std::string slide = lf::opc::Package::open(file)->readPart("/ppt/slides/slide1.xml");
    const std::size_t titleAt = slide.find("name=\"Title 1\"");
    ASSERT_NE(titleAt, std::string::npos);
    EXPECT_NE(slide.substr(titleAt, slide.find("</p:sp>", titleAt) - titleAt).find("<a:xfrm>"),
              std::string::npos)
        << slide;
    const std::string bytes = readFile(file);
    const auto stamp = std::filesystem::last_write_time(file);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);

    Presentation deck = app.presentations().open(file);
    Shape picture = deck.slides().item(1).shapes().item(2);
    Shape title = deck.slides().item(1).shapes().item(1);
    picture.setBlackWhiteMode(2);
    picture.setTop(20);
    picture.setLeft(picture.left());
    title.setLeft(title.left());
    title.setWidth(title.width());
    deck.save();
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the deck was replaced";
    EXPECT_EQ(readFile(file), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(file), stamp);

    // A real change is still written.
    picture.setTop(21);
    deck.save();
    deck.close();
    EXPECT_DOUBLE_EQ(app.presentations().open(file).slides().item(1).shapes().item(2).top(), 21);
}

TEST(PresentationSave, CloseWithoutSaveLeavesTheFileUntouched) {
    TempDir dir;
    std::filesystem::path file = dir / "05_Close.pptx";
    sampleDeck().write(file);
    std::string bytes = readFile(file);
    auto stamp = std::filesystem::last_write_time(file);
    Application app;
    Presentation deck = app.presentations().open(file);
    deck.slides().item(1).shapes().item(1).setTop(1);
    deck.slides().item(1).notesPage();
    deck.close();
    EXPECT_EQ(readFile(file), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(file), stamp);
    EXPECT_THROW(deck.save(), PresentationError);
}

TEST(PresentationSave, AFailedSaveLeavesTheDeckAsItWas) {
    TempDir dir;
    std::filesystem::path file = dir / "06_Gone.pptx";
    sampleDeck().write(file);
    Application app;
    Presentation deck = app.presentations().open(file);
    deck.slides().item(1).shapes().item(1).setTop(1);
    // The folder disappears under the open deck: saving fails with a description, never silently.
    std::filesystem::path moved = dir / "elsewhere";
    std::filesystem::create_directory(moved);
    std::filesystem::rename(file, moved / "06_Gone.pptx");
    std::filesystem::remove(moved / "06_Gone.pptx");
    std::filesystem::remove(moved);
    std::filesystem::create_directory(file); // a folder where the deck was
    EXPECT_THROW(deck.save(), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_directory(file));
}

TEST(PresentationBadInput, BrokenDecksAreRefusedWithTheirReason) {
    TempDir root;
    Parts good = sampleDeck().parts();
    int n = 0;
    auto write = [&](const Parts& parts) {
        std::filesystem::path folder = root / std::to_string(++n);
        std::filesystem::create_directory(folder);
        std::filesystem::path file = folder / "07_Bad.pptx";
        writeZip(file, parts);
        return file;
    };

    std::string presentation = partText(good, "ppt/presentation.xml");
    std::string presRels = partText(good, "ppt/_rels/presentation.xml.rels");
    std::string slideRels = partText(good, "ppt/slides/_rels/slide1.xml.rels");

    expectRefused(write(withPart(good, "ppt/presentation.xml",
                                 replaced(presentation, "r:id=\"rIdS2\"", "r:id=\"rIdMissing\""))),
                  "rIdMissing");
    expectRefused(write(withoutPart(good, "ppt/slides/slide2.xml")), "/ppt/slides/slide2.xml");
    expectRefused(write(withPart(good, "ppt/slides/slide1.xml", "<p:sld><p:cSld><p:spTree>")), "slide1.xml");
    expectRefused(write(withoutPart(good, "customXml/item1.xml")), "customer data");
    expectRefused(write(withoutPart(good, "ppt/slideLayouts/slideLayout1.xml")), "slideLayout1.xml");
    expectRefused(write(withPart(good, "ppt/slides/_rels/slide1.xml.rels",
                                 replaced(slideRels, "../slideLayouts/slideLayout1.xml", "../nowhere.xml"))),
                  "/ppt/nowhere.xml");
    expectRefused(write(withPart(good, "ppt/presentation.xml", "<?xml version=\"1.0\"?><notes/>")),
                  "presentation");
    expectRefused(write(withPart(good, "ppt/presentation.xml", "not xml at all <<<")), "presentation.xml");
    expectRefused(write(withoutPart(good, "ppt/presentation.xml")), "presentation.xml");
    expectRefused(write(withoutPart(good, "_rels/.rels")), "main part");
    expectRefused(write(withPart(good, "ppt/_rels/presentation.xml.rels",
                                 replaced(presRels, "slides/slide1.xml", "../../../etc/passwd"))),
                  "slide");
    expectRefused(write(withPart(good, "../escape.xml", "<x/>")), "escape.xml");

    std::filesystem::path folder = root / "empty";
    std::filesystem::create_directory(folder);
    writeFile(folder / "08_Empty.pptx", "");
    expectRefused(folder / "08_Empty.pptx", "");
    std::filesystem::path noise = root / "noise";
    std::filesystem::create_directory(noise);
    writeFile(noise / "09_Noise.pptx", std::string(4096, '\x5a'));
    expectRefused(noise / "09_Noise.pptx", "");
    std::filesystem::path cut = root / "cut";
    std::filesystem::create_directory(cut);
    std::string whole = readFile(write(good));
    writeFile(cut / "10_Cut.pptx", whole.substr(0, whole.size() / 2));
    expectRefused(cut / "10_Cut.pptx", "");
}
