// lessonforge-deck run as a process: show prints the deck as JSON and never writes it; gray-notes sets
// grayscale and the notes-page layout and saves; failures exit non-zero with the description.
#include "deck_builder.h"
#include "office/opc/package.h"
#include "office/opc/utf8.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lf::ppt;
using namespace lf::test;

namespace {

struct Result {
    int exitCode;
    QByteArray out, err;
};

Result runTool(const QStringList& args) {
    QProcess p;
    p.start(QString::fromUtf8(LF_DECK_TOOL), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

std::string notesShape(int id, const char* name, const char* type, int idx) {
    std::string ph = std::string("<p:ph type=\"") + type + "\"" +
                     (idx >= 0 ? " idx=\"" + std::to_string(idx) + "\"" : "") + "/>";
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + name +
           "\"/><p:cNvSpPr/><p:nvPr>" + ph + "</p:nvPr></p:nvSpPr><p:spPr/></p:sp>";
}

DeckBuilder courseDeck(bool notesMaster) {
    DeckBuilder b;
    b.notesMaster = notesMaster;
    Rect r{emuPt(10), emuPt(20), emuPt(30), emuPt(40)};
    SlideSpec first;
    first.usesPicture = true;
    first.shapes = {placeholderShape(2, "Title 1", {"title", -1}, std::nullopt,
                                     paragraph(run("Plain intro. ", false) + run("Bold title", true))),
                    picture(3, "Picture 3", r), connector(4, "Connector 4", r)};
    first.customXml = {"<t><indexword>Cache</indexword></t>", "<t><none/></t>"};
    if (notesMaster) {
        first.notesShapes =
            std::vector<std::string>{notesShape(2, "Slide Image Placeholder 1", "sldImg", -1),
                                     notesShape(3, "Notes Placeholder 2", "body", 1),
                                     notesShape(4, "Slide Number Placeholder 3", "sldNum", 5)};
    }
    b.slides.push_back(first);
    SlideSpec second; // a notes page with one shape only
    second.shapes = {autoShape(2, "Rectangle 2", r, paragraph(run("Two") + lineBreak() + run("lines")))};
    if (notesMaster) {
        second.notesShapes =
            std::vector<std::string>{notesShape(2, "Slide Image Placeholder 1", "sldImg", -1)};
    }
    b.slides.push_back(second);
    b.slides.push_back(SlideSpec{}); // no shapes, no notes page
    return b;
}

} // namespace

TEST(DeckTool, ShowPrintsTheDeckAsJsonAndNeverWritesIt) {
    TempDir dir;
    std::filesystem::path file = dir / "01_Show.pptx";
    courseDeck(true).write(file);
    std::string bytes = readFile(file);
    Result r = runTool({"show", QString::fromStdString(file.string())});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readFile(file), bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    QJsonObject root = doc.object();
    EXPECT_EQ(root["file"].toString(), "01_Show.pptx");
    QJsonArray slides = root["slides"].toArray();
    ASSERT_EQ(slides.size(), 3);

    QJsonObject s1 = slides[0].toObject();
    EXPECT_EQ(s1["slideNumber"].toInt(), 1);
    QJsonArray shapes = s1["shapes"].toArray();
    ASSERT_EQ(shapes.size(), 3);
    QJsonObject title = shapes[0].toObject();
    EXPECT_EQ(title["name"].toString(), "Title 1");
    EXPECT_EQ(title["type"].toInt(), 14);
    EXPECT_DOUBLE_EQ(title["top"].toDouble(), 20);
    EXPECT_DOUBLE_EQ(title["left"].toDouble(), 36);
    EXPECT_DOUBLE_EQ(title["width"].toDouble(), 648);
    EXPECT_DOUBLE_EQ(title["height"].toDouble(), 90);
    EXPECT_TRUE(title["hasTextFrame"].toBool());
    EXPECT_EQ(title["text"].toString(), "Plain intro. Bold title");
    QJsonArray sentences = title["sentences"].toArray();
    ASSERT_EQ(sentences.size(), 2);
    EXPECT_EQ(sentences[0].toObject()["text"].toString(), "Plain intro. ");
    EXPECT_EQ(sentences[0].toObject()["bold"].toInt(), 0);
    EXPECT_EQ(sentences[1].toObject()["bold"].toInt(), -1);
    QJsonObject picture = shapes[1].toObject();
    EXPECT_EQ(picture["type"].toInt(), 13);
    EXPECT_FALSE(picture["hasTextFrame"].toBool());
    EXPECT_FALSE(picture.contains("text"));
    EXPECT_FALSE(picture.contains("sentences"));
    QJsonArray words = s1["indexwords"].toArray();
    ASSERT_EQ(words.size(), 2);
    EXPECT_EQ(words[0].toString(), "Cache");
    EXPECT_TRUE(words[1].isNull());
    QJsonObject notes = s1["notes"].toObject();
    EXPECT_TRUE(notes["exists"].toBool());
    ASSERT_EQ(notes["shapes"].toArray().size(), 3);
    EXPECT_DOUBLE_EQ(notes["shapes"].toArray()[0].toObject()["top"].toDouble(), 54);

    QJsonObject s2 = slides[1].toObject();
    EXPECT_EQ(s2["shapes"].toArray()[0].toObject()["text"].toString(), QString("Two") + QChar(11) + "lines");
    QJsonObject s3 = slides[2].toObject();
    EXPECT_TRUE(s3["shapes"].toArray().isEmpty());
    EXPECT_FALSE(s3["notes"].toObject()["exists"].toBool()); // not created by showing
    EXPECT_TRUE(s3["notes"].toObject()["shapes"].toArray().isEmpty());
}

TEST(DeckTool, GrayNotesSetsGrayscaleAndTheNotesLayoutThenSaves) {
    for (bool notesMaster : {true, false}) {
        SCOPED_TRACE(notesMaster ? "with notes master" : "without notes master");
        TempDir dir;
        std::filesystem::path file = dir / "02_Gray.pptx";
        courseDeck(notesMaster).write(file);
        Result r = runTool({"gray-notes", QString::fromStdString(file.string())});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(QJsonDocument::fromJson(r.out).isObject()) << r.out.toStdString();

        Application app;
        Presentation deck = app.presentations().open(file);
        for (const Slide& slide : deck.slides()) {
            for (const Shape& shape : slide.shapes()) {
                EXPECT_EQ(shape.blackWhiteMode(), 2) << shape.name();
            }
            ASSERT_TRUE(slide.hasNotesPage());
            Shapes notes = slide.notesPage().shapes();
            Shape image = notes.item(1);
            EXPECT_NEAR(image.top(), 14.375, 1e-4);
            EXPECT_DOUBLE_EQ(image.left(), 50);
            EXPECT_DOUBLE_EQ(image.height(), 337.5);
            EXPECT_DOUBLE_EQ(image.width(), 450);
            // Notes-page shapes keep their own black-and-white mode.
            EXPECT_EQ(image.blackWhiteMode(), office::msoBlackWhiteAutomatic);
            if (notes.count() > 1) {
                Shape text = notes.item(2);
                EXPECT_DOUBLE_EQ(text.top(), 365);
                EXPECT_DOUBLE_EQ(text.left(), 53);
                EXPECT_DOUBLE_EQ(text.height(), 324);
                EXPECT_DOUBLE_EQ(text.width(), 444);
            }
        }
        if (notesMaster) {
            // The third notes-page shape is left where it was; the one-shape page has only the image.
            Shapes first = deck.slides().item(1).notesPage().shapes();
            EXPECT_DOUBLE_EQ(first.item(3).top(), 0);
            EXPECT_EQ(deck.slides().item(2).notesPage().shapes().count(), 1);
        }
        deck.close();
        // A deck already processed is left alone by a second run: not rewritten, not even replaced.
        const std::string bytes = readFile(file);
        struct stat first {};
        ASSERT_EQ(::stat(file.c_str(), &first), 0);
        Result again = runTool({"gray-notes", QString::fromStdString(file.string())});
        ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
        struct stat second {};
        ASSERT_EQ(::stat(file.c_str(), &second), 0);
        EXPECT_EQ(second.st_ino, first.st_ino);
        EXPECT_EQ(readFile(file), bytes);
    }
}

TEST(DeckTool, FailuresExitNonZeroWithTheDescription) {
    TempDir dir;
    std::filesystem::path bad = dir / "03_Bad.pptx";
    writeFile(bad, "this is not a deck");
    for (const char* command : {"show", "gray-notes"}) {
        Result r = runTool({command, QString::fromStdString(bad.string())});
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains(QByteArray::fromStdString(bad.string()))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("zip package")) << r.err.toStdString();
    }
    EXPECT_EQ(readFile(bad), "this is not a deck");
    EXPECT_EQ(runTool({"show"}).exitCode, 2);
    EXPECT_EQ(runTool({"paint", "x.pptx"}).exitCode, 2);
}

TEST(DeckTool, ShowWritesOnlyValidUtf8JsonForLatin1BytesInAUtf8Part) {
    TempDir dir;
    std::filesystem::path file = dir / "04_Latin.pptx";
    DeckBuilder b;
    Rect r{emuPt(10), emuPt(20), emuPt(30), emuPt(40)};
    // "Café" written by a producer that stored Latin-1 in a part whose declaration says UTF-8.
    b.slides.push_back(SlideSpec{{autoShape(2, "Caf\xe9 2", r, paragraph(run("Caf\xe9 au lait.")))}});
    b.write(file);
    Result show = runTool({"show", QString::fromStdString(file.string())});
    ASSERT_EQ(show.exitCode, 0) << show.err.toStdString();
    EXPECT_TRUE(lf::opc::isValidUtf8(show.out.toStdString()));
    QJsonObject shape = QJsonDocument::fromJson(show.out)["slides"][0]["shapes"][0].toObject();
    EXPECT_EQ(shape["name"].toString(), QString::fromUtf8("Caf\xef\xbf\xbd 2"));
    EXPECT_EQ(shape["text"].toString(), QString::fromUtf8("Caf\xef\xbf\xbd au lait."));
}

TEST(DeckTool, GrayNotesRefusesADeckOfMode0444EvenAsRootAndLeavesItsBytes) {
    TempDir dir;
    std::filesystem::path file = dir / "05_ReadOnly.pptx";
    courseDeck(true).write(file);
    std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    const std::string bytes = readFile(file);
    Result r = runTool({"gray-notes", QString::fromStdString(file.string())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("read-only")) << r.err.toStdString();
    EXPECT_EQ(readFile(file), bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(DeckTool, GrayNotesRefusesDamageInPartsItWouldCopyUnchanged) {
    TempDir dir;
    auto parts = courseDeck(true).parts();
    // Malformed XML in a custom XML part, which gray-notes never reads.
    for (auto& [name, content] : parts)
        if (name == "customXml/item2.xml")
            content = "<t><none></t>";
    const std::filesystem::path badXml = dir / "06_BadXml.pptx";
    writeZip(badXml, parts);
    // A picture whose deflated data was damaged on the way.
    const std::filesystem::path badData = dir / "07_BadData.pptx";
    courseDeck(true).write(badData);
    std::string bytes = readFile(badData);
    for (const auto& [name, stored] : readZipRaw(badData))
        if (name.starts_with("ppt/media/")) {
            const std::size_t at = bytes.find(stored.second);
            ASSERT_NE(at, std::string::npos);
            bytes[at + stored.second.size() / 2] ^= 0x55;
        }
    writeFile(badData, bytes);
    for (const auto& file : {badXml, badData}) {
        SCOPED_TRACE(file.filename().string());
        const std::string before = readFile(file);
        Result r = runTool({"gray-notes", QString::fromStdString(file.string())});
        EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QByteArray::fromStdString(file.string()))) << r.err.toStdString();
        EXPECT_EQ(readFile(file), before);
    }
}

TEST(DeckTool, ShowOfASlideOf100MBOfEmptyElementsStaysUnder200MB) {
    TempDir dir;
    std::filesystem::path file = dir / "08_Huge.pptx";
    courseDeck(true).write(file);
    // Built in a child process, left unreaped until the tool has run: the tool's peak memory is then
    // the only one that the children's usage reports (a process started from this one counts this
    // one's peak too).
    const pid_t builder = fork();
    ASSERT_GE(builder, 0);
    if (builder == 0) {
        // Written through the package layer itself: its fast deflate keeps the ratio below the
        // zip-bomb check, as a hostile file's would be.
        std::string chunk;
        for (int i = 0; i < 250000; ++i)
            chunk += "<a/>";
        std::string slide = "<p:sld xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\">";
        for (int i = 0; i < 100; ++i)
            slide += chunk;
        auto p = lf::opc::Package::open(file);
        p->writePart("/ppt/slides/slide1.xml", slide + "</p:sld>");
        p->save();
        _exit(0);
    }
    siginfo_t built{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(builder), &built, WEXITED | WNOWAIT), 0);
    ASSERT_EQ(built.si_status, 0);
    EXPECT_LT(std::filesystem::file_size(file), 2u << 20);
    Result r = runTool({"show", QString::fromStdString(file.string())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("/ppt/slides/slide1.xml")) << r.err.toStdString();
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "kilobytes at most in the tool";
    waitpid(builder, nullptr, 0);
}

namespace {

std::filesystem::path backupDeck(const TempDir& dir) {
    // A real deck of nine slides that holds custom XML items of its own.
    const std::filesystem::path file = dir / "03_Backup.pptx";
    std::filesystem::copy_file(corpusDir() / "pptx" / "poi-aptia.pptx", file);
    std::filesystem::permissions(file, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return file;
}

QString path(const std::filesystem::path& file) {
    return QString::fromStdString(file.string());
}

} // namespace

TEST(DeckTool, TagUntagAndTagFromChangeTheTaggedWordsThatTagsReadsBack) {
    TempDir dir;
    const std::filesystem::path file = backupDeck(dir);
    Result r = runTool({"tag", path(file), "2", "Cache", "Caf\xc3\xa9 & <co>", "cache"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count("tagged \"Cache\""), 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("2 words tagged")) << r.out.toStdString();

    // Compared as the Index merges words: "CACHE" is already there, and a second run adds nothing.
    r = runTool({"tag", path(file), "2", "CACHE", "Memory"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("slide 2: \"CACHE\" is already tagged")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("slide 2: tagged \"Memory\"")) << r.out.toStdString();
    const std::string bytes = readFile(file);
    r = runTool({"tag", path(file), "2", "memory"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readFile(file), bytes);

    r = runTool({"tags", path(file), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(r.out, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    EXPECT_EQ(json["file"].toString(), "03_Backup.pptx");
    QStringList tagged;
    for (const QJsonValue& t : json["tags"].toArray()) {
        tagged << QString::number(t["slide"].toInt()) + ":" + t["word"].toString();
    }
    EXPECT_EQ(tagged, QStringList({"2:Cache", QString::fromUtf8("2:Caf\xc3\xa9 & <co>"), "2:Memory"}));

    r = runTool({"untag", path(file), "2", "cache", "CACHE"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("1 tag removed")) << r.out.toStdString();

    const std::filesystem::path list = dir / "tags.tsv";
    writeFile(list, "\xEF\xBB\xBF# slide, word\r\n1\tBackup\r\n\r\n9\tRestore\r\n2\tmemory\r\n9\tRestore\n");
    r = runTool({"tag-from", path(file), path(list)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("2 words tagged, 1 already there")) << r.out.toStdString();
    r = runTool({"tags", path(file)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), "1\tBackup\n2\tCaf\xc3\xa9 & <co>\n2\tMemory\n9\tRestore\n");

    // What the Index reads, and the deck's own custom XML untouched.
    Application app;
    Presentation deck = app.presentations().open(file, true);
    EXPECT_EQ(deck.slides().item(9).customerData().at(0).selectSingleNode("descendant::indexword")->text(),
              "Restore");
    auto parts = lf::opc::Package::open(file)->partNames();
    EXPECT_EQ(
        std::count_if(parts.begin(), parts.end(), [](auto& n) { return n.starts_with("/customXml/item"); }),
        2 * (3 + 4)) // three own items and four tags, each with its properties
        << ::testing::PrintToString(parts);
}

TEST(DeckTool, ABadTagRequestChangesNothingAndSaysWhy) {
    TempDir dir;
    const std::filesystem::path file = backupDeck(dir);
    ASSERT_EQ(runTool({"tag", path(file), "4", "Snapshot"}).exitCode, 0);
    const std::string bytes = readFile(file);
    struct Case {
        QStringList args;
        std::vector<std::string> said;
    };
    const std::filesystem::path list = dir / "bad.tsv";
    writeFile(list, "1\tGood\n2 Spaces\nx\tWord\n61\tWord\n3\tcomma, here\n4\t\n5\tAlso good\n");
    const Case cases[] = {
        {{"tag", path(file), "61", "Word"}, {"slide 61 does not exist: 03_Backup.pptx has slides 1 to 9"}},
        {{"tag", path(file), "2", "Good", "a,b", "Tab\tbed"}, {"a,b", "comma", "Tab", "control character"}},
        {{"untag", path(file), "4", "Snapshot", "Nope"},
         {"slide 4 has no tagged word \"Nope\" (it has Snapshot)"}},
        {{"untag", path(file), "0", "Snapshot"}, {"slide 0 does not exist"}},
        {{"tag-from", path(file), path(list)},
         {"bad.tsv line 2: not a SLIDE<TAB>WORD line", "bad.tsv line 3: \"x\" is not a slide number",
          "bad.tsv line 4: slide 61 does not exist", "bad.tsv line 5: slide 3: not tagged",
          "bad.tsv line 6: slide 4: not tagged: the tagged word is empty"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Result r = runTool(c.args);
        EXPECT_EQ(r.exitCode, 1);
        for (const std::string& said : c.said) {
            EXPECT_TRUE(r.err.contains(QByteArray::fromStdString(said))) << r.err.toStdString();
        }
        EXPECT_TRUE(r.err.contains("03_Backup.pptx: nothing was changed")) << r.err.toStdString();
        EXPECT_EQ(readFile(file), bytes);
    }
    EXPECT_EQ(runTool({"tag", path(file), "two", "Word"}).exitCode, 2);
    EXPECT_EQ(runTool({"tag", path(file), "2"}).exitCode, 2);
    EXPECT_EQ(runTool({"tags", path(file), "--yaml"}).exitCode, 2);
    EXPECT_EQ(readFile(file), bytes);

    // Slide numbers are the Index's: they count from the deck's first slide number.
    DeckBuilder b;
    b.firstSlideNumber = 5;
    b.slides = {SlideSpec{}, SlideSpec{}};
    b.write(dir / "04_Later.pptx");
    const Result early = runTool({"tag", path(dir / "04_Later.pptx"), "1", "Word"});
    EXPECT_EQ(early.exitCode, 1);
    EXPECT_TRUE(early.err.contains("slide 1 does not exist: 04_Later.pptx has slides 5 to 6"))
        << early.err.toStdString();
    ASSERT_EQ(runTool({"tag", path(dir / "04_Later.pptx"), "6", "Word"}).exitCode, 0);
    EXPECT_EQ(runTool({"tags", path(dir / "04_Later.pptx")}).out.toStdString(), "6\tWord\n");
}

TEST(DeckTool, WordsXmlCannotHoldOrNobodyCanSeeAreRefusedAndTheDeckKeepsItsBytes) {
    TempDir dir;
    const std::filesystem::path file = backupDeck(dir);
    const std::string bytes = readFile(file);
    struct Case {
        const char* word;
        const char* said;
    };
    const Case cases[] = {
        {"Cache\xEF\xBF\xBF", "U+FFFF, which is not a character of text"},
        {"\xEF\xBF\xBE", "U+FFFE, which is not a character of text"},
        {"A\xEF\xB7\x90", "U+FDD0, which is not a character of text"},
        {"B\xF4\x8F\xBF\xBF", "U+10FFFF, which is not a character of text"},
        {"\xE2\x80\x8B", "no visible character (it holds U+200B)"},
        {"\xE2\x80\xAE\xE2\x80\x8D", "no visible character (it holds U+202E, U+200D)"},
        {"\xE3\x85\xA4", "no visible character (it holds U+3164)"},
        {"Line\xE2\x80\xA8two", "holds a line break"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        const Result r = runTool({"tag", path(file), "2", "Good", QString::fromUtf8(c.word)});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(c.said)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("03_Backup.pptx: nothing was changed")) << r.err.toStdString();
        EXPECT_EQ(readFile(file), bytes);
    }
    // The list takes the same check.
    const std::filesystem::path list = dir / "hidden.tsv";
    writeFile(list, "1\tBackup\n3\t\xE2\x80\x8B\n");
    const Result r = runTool({"tag-from", path(file), path(list)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(
        r.err.contains("hidden.tsv line 2: slide 3: not tagged: the tagged word has no visible character"))
        << r.err.toStdString();
    EXPECT_EQ(readFile(file), bytes);
    // Letters with a joiner or a mark among them still show, and are tagged.
    ASSERT_EQ(
        runTool({"tag", path(file), "2", "Caf\x65\xCC\x81", "\xE0\xA4\x95\xE0\xA5\x8D\xE2\x80\x8D"}).exitCode,
        0);
}
