#include "office/document/compose.h"
#include "office/document/word.h"
#include "office/opc/package.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <chrono>
#include <filesystem>

using namespace lf::word;
namespace fs = std::filesystem;

namespace {

const std::string kHeaderType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/header";

// A copy of a corpus file that a test may save: the corpus itself is kept read-only.
void copyWritable(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
}

fs::path corpusDoc(const std::string& name) {
    return lf::test::corpusDir() / "docx" / name;
}

std::vector<fs::path> templates() {
    auto files = lf::test::corpusFiles("docx");
    files.push_back(lf::test::corpusDir() / "bad" /
                    "zero-length.docx"); // sound, though filed with the bad ones
    return files;
}

// Compressed bytes of every entry, by name: what "copied as stored" is checked against.
std::map<std::string, std::string> storedEntries(const fs::path& file) {
    std::map<std::string, std::string> out;
    int err = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_RDONLY, &err);
    if (!z)
        throw std::runtime_error("cannot open " + file.string());
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), ZIP_FL_COMPRESSED);
        std::string bytes;
        char buf[8192];
        zip_int64_t n;
        while ((n = zip_fread(f, buf, sizeof buf)) > 0)
            bytes.append(buf, static_cast<std::size_t>(n));
        zip_fclose(f);
        out[zip_get_name(z, static_cast<zip_uint64_t>(i), 0)] = bytes;
    }
    zip_discard(z);
    return out;
}

std::string partOf(const fs::path& file, const std::string& part) {
    return lf::opc::Package::open(file)->readPart(part);
}

// A copy of a corpus document whose primary header of the last section reads `text` in three runs.
fs::path templateWithSplitHeader(const lf::test::TempDir& tmp, const std::string& name) {
    const fs::path file = tmp / name;
    copyWritable(corpusDoc("poi-ThreeColHead.docx"), file);
    auto p = lf::opc::Package::open(file);
    pugi::xml_document& hdr = p->xmlPart("/word/header1.xml");
    pugi::xml_node root = hdr.document_element();
    pugi::xml_node para = root.append_child("w:p");
    auto run = [&](const char* text, bool bold) {
        pugi::xml_node r = para.append_child("w:r");
        if (bold)
            r.append_child("w:rPr").append_child("w:b");
        pugi::xml_node t = r.append_child("w:t");
        t.append_attribute("xml:space") = "preserve";
        t.text().set(text);
    };
    run("Welcome to Cou", true);
    run("rse Na", false);
    run("me, and Course Names, course name and Course Name.", false);
    p->markChanged("/word/header1.xml");
    p->save();
    return file;
}

} // namespace

TEST(WordTemplates, EveryCorpusDocumentServesAsTemplate) {
    lf::test::TempDir tmp;
    Application word;
    for (const fs::path& file : templates()) {
        SCOPED_TRACE(file.filename().string());
        const std::string before = lf::test::readFile(file);
        auto doc = word.documents().add(file);
        ASSERT_TRUE(doc.has_value()) << word.documents().lastError();
        EXPECT_EQ(word.documents().lastError(), "");
        doc->range().deleteContent();
        EXPECT_EQ(doc->paragraphs().count(), 1);
        EXPECT_EQ(doc->range().text(), "\r");
        (void)doc->sections()
            .item(1)
            .headers()
            .item(office::wdHeaderFooterPrimary)
            .range()
            .find()
            .execute("Course Name", {.matchCase = true,
                                     .matchWholeWord = true,
                                     .replaceWith = "Storage",
                                     .replace = office::wdReplaceAll});
        appendParagraph(*doc, {"Table of Contents", "TOC 3", "Helvetica", 28, false, false, 1});
        appendParagraph(*doc, {"", "", "", 0, false, false, 0});
        appendParagraph(*doc, {"Storage Basics\t2-3", "TOC 2", "Helvetica", 0, false, false, 0});
        appendParagraph(*doc, {"Cache, 1-4", "Plain Text", "Courier New", 10, false, true, 0});
        const fs::path out = tmp / (file.stem().string() + "-out.docx");
        doc->saveAs(out);
        EXPECT_EQ(doc->name(), out.filename().string());
        doc->close();
        EXPECT_EQ(lf::test::readFile(file), before) << "the template was written";

        Document back = word.documents().open(out);
        Paragraphs paras = back.paragraphs();
        ASSERT_EQ(paras.count(), 5);
        EXPECT_EQ(paras.item(1).range().text(), "\r");
        EXPECT_EQ(paras.item(2).range().text(), "Table of Contents\r");
        EXPECT_EQ(paras.item(2).range().style(), "TOC 3");
        EXPECT_EQ(paras.item(2).range().font().name(), "Helvetica");
        EXPECT_EQ(paras.item(2).range().font().size(), 28);
        EXPECT_EQ(paras.item(2).range().paragraphFormat().alignment(), office::wdAlignParagraphCenter);
        EXPECT_EQ(paras.item(3).range().text(), "\r");
        EXPECT_EQ(paras.item(3).range().paragraphFormat().alignment(), office::wdAlignParagraphLeft);
        EXPECT_EQ(paras.item(4).range().text(), "Storage Basics\t2-3\r");
        EXPECT_EQ(paras.item(4).range().style(), "TOC 2");
        EXPECT_NE(paras.item(4).range().font().size(), 28) << "the size is left to the style";
        EXPECT_FALSE(paras.item(4).range().font().bold());
        EXPECT_EQ(paras.item(5).range().style(), "Plain Text");
        EXPECT_EQ(paras.item(5).range().font().name(), "Courier New");
        EXPECT_EQ(paras.item(5).range().font().size(), 10);
        EXPECT_TRUE(paras.item(5).range().font().bold());
        EXPECT_FALSE(paras.item(5).range().font().italic());
        auto pkg = lf::opc::Package::open(out);
        EXPECT_EQ(pkg->contentType("/word/document.xml"),
                  "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
        back.close();
    }
}

TEST(WordTemplates, UnusableTemplatesGiveNoDocumentAndAReason) {
    lf::test::TempDir tmp;
    Application word;
    for (const fs::path& file : lf::test::corpusFiles("bad")) {
        if (file.filename() == "zero-length.docx")
            continue;
        SCOPED_TRACE(file.filename().string());
        const std::string before = lf::test::readFile(file);
        EXPECT_FALSE(word.documents().add(file).has_value());
        EXPECT_NE(word.documents().lastError().find(file.string()), std::string::npos)
            << word.documents().lastError();
        EXPECT_EQ(lf::test::readFile(file), before);
    }
    EXPECT_FALSE(word.documents().add(tmp / "missing.dotx").has_value());
    EXPECT_NE(word.documents().lastError().find("does not exist"), std::string::npos);

    // A deck is a package, but not a Word template.
    EXPECT_FALSE(word.documents().add(lf::test::corpusDir() / "pptx" / "ppt-t-minimal.pptx").has_value());
    EXPECT_NE(word.documents().lastError().find("not a Word document"), std::string::npos);

    // A header part that does not parse.
    copyWritable(corpusDoc("poi-ThreeColHead.docx"), tmp / "broken.docx");
    {
        auto p = lf::opc::Package::open(tmp / "broken.docx");
        p->writePart("/word/header1.xml", "<w:hdr><w:p>");
        p->save();
    }
    EXPECT_FALSE(word.documents().add(tmp / "broken.docx").has_value());
    EXPECT_NE(word.documents().lastError().find("/word/header1.xml"), std::string::npos);

    // A document part that is missing.
    copyWritable(corpusDoc("poi-ThreeColHead.docx"), tmp / "nomain.docx");
    {
        auto p = lf::opc::Package::open(tmp / "nomain.docx");
        p->removePart("/word/document.xml");
        p->save();
    }
    EXPECT_FALSE(word.documents().add(tmp / "nomain.docx").has_value());
    EXPECT_NE(word.documents().lastError().find("/word/document.xml"), std::string::npos);
    EXPECT_EQ(word.documents().count(), 0);

    // Open, unlike Add, fails with the description.
    try {
        word.documents().open(tmp / "broken.docx");
        FAIL() << "a broken document opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("broken.docx"), std::string::npos);
    }
}

TEST(WordRange, InsertAfterKeepsTabsBreaksAndStartsParagraphsWithTheSameFormatting) {
    lf::test::TempDir tmp;
    Application word;
    auto doc = word.documents().add(corpusDoc("poi-heading123.docx"));
    ASSERT_TRUE(doc);
    doc->range().deleteContent();
    Range r = appendParagraph(
        *doc, {"first\tcol\vline\rsecond\r\nthird", "Heading 2", "Arial", 13, true, false, 2});
    EXPECT_EQ(r.paragraphCount(), 3);
    EXPECT_EQ(r.text(), "first\tcol\vline\rsecond\rthird\r");
    // Formatting set after the insertion covers the whole range; a later insertion keeps it.
    r.insertAfter(" more\rfourth");
    doc->saveAs(tmp / "a.docx");
    Document back = word.documents().open(tmp / "a.docx");
    ASSERT_EQ(back.paragraphs().count(), 5);
    for (int i = 2; i <= 5; ++i) {
        SCOPED_TRACE(i);
        Range p = back.paragraphs().item(i).range();
        EXPECT_EQ(p.style(), "Heading 2");
        EXPECT_EQ(p.font().name(), "Arial");
        EXPECT_EQ(p.font().size(), 13);
        EXPECT_TRUE(p.font().italic());
        EXPECT_EQ(p.paragraphFormat().alignment(), office::wdAlignParagraphRight);
    }
    EXPECT_EQ(back.paragraphs().item(4).range().text(), "third more\r");
    EXPECT_EQ(back.paragraphs().item(5).range().text(), "fourth\r");
    const std::string xml = partOf(tmp / "a.docx", "/word/document.xml");
    EXPECT_NE(xml.find("<w:tab/>"), std::string::npos);
    EXPECT_NE(xml.find("<w:br/>"), std::string::npos);
}

TEST(WordRange, ControlCharactersAndBadUtf8NeverBreakTheDocument) {
    lf::test::TempDir tmp;
    Application word;
    auto doc = word.documents().add(corpusDoc("poi-test.dotx"));
    ASSERT_TRUE(doc);
    doc->range().deleteContent();
    appendParagraph(*doc,
                    {std::string("a\x01\x02z \xC3\x28 <&> \"q\"  \x1E", 18), "", "", 0, false, false, 0});
    doc->saveAs(tmp / "c.docx");
    pugi::xml_document parsed;
    const std::string xml = partOf(tmp / "c.docx", "/word/document.xml");
    ASSERT_TRUE(parsed.load_string(xml.c_str()));
    Document back = word.documents().open(tmp / "c.docx");
    EXPECT_EQ(back.paragraphs().item(2).range().text(), "az \xEF\xBF\xBD( <&> \"q\"  \x1E\r");
}

TEST(WordRange, StylesByNameWithoutCaseAndBuiltInsAdded) {
    lf::test::TempDir tmp;
    Application word;
    auto doc = word.documents().add(corpusDoc("poi-test.dotx"));
    ASSERT_TRUE(doc);
    doc->range().deleteContent();
    Range r = appendParagraph(*doc, {"x", "", "", 0, false, false, -1});
    r.setStyle("normal");
    EXPECT_EQ(r.style(), "Normal");
    r.setStyle("toc 2"); // added with Word's definition when the template lacks it
    EXPECT_EQ(r.style(), "TOC 2");
    r.setStyle("TOC 2");
    r.setStyle("plain text");
    EXPECT_EQ(r.style(), "Plain Text");
    try {
        r.setStyle("No Such Style");
        FAIL() << "an unknown style was applied";
    } catch (const DocumentError& e) {
        EXPECT_NE(std::string(e.what()).find("\"No Such Style\""), std::string::npos);
    }
    doc->saveAs(tmp / "s.docx");
    const std::string styles = partOf(tmp / "s.docx", "/word/styles.xml");
    EXPECT_NE(styles.find("<w:name w:val=\"toc 2\"/>"), std::string::npos);
    EXPECT_NE(styles.find("<w:ind w:left=\"220\"/>"), std::string::npos);
    // One definition each, however often they are applied.
    EXPECT_EQ(styles.find("w:styleId=\"TOC2\""), styles.rfind("w:styleId=\"TOC2\""));
    Document back = word.documents().open(tmp / "s.docx");
    EXPECT_EQ(back.paragraphs().item(2).range().style(), "Plain Text");
    EXPECT_EQ(back.paragraphs().item(2).range().font().name(), "Consolas");
}

TEST(WordRange, BoldOffAgainstABoldStyleAndAlignmentValues) {
    Application word;
    auto doc = word.documents().add(corpusDoc("poi-heading123.docx"));
    ASSERT_TRUE(doc);
    doc->range().deleteContent();
    Range r = appendParagraph(*doc, {"Index", "index heading", "", 0, false, false, 3});
    EXPECT_FALSE(r.font().bold()) << "the style is bold, the paragraph is set not bold";
    EXPECT_EQ(r.paragraphFormat().alignment(), office::wdAlignParagraphJustify);
    r.font().setBold(true);
    EXPECT_TRUE(r.font().bold());
    EXPECT_THROW(r.paragraphFormat().setAlignment(42), DocumentError);
    EXPECT_THROW(r.font().setSize(0), DocumentError);
    EXPECT_THROW(r.font().setName(""), DocumentError);
}

TEST(WordFind, ReplacesEveryWholeWordMatchAcrossRunsInThePrimaryHeader) {
    lf::test::TempDir tmp;
    const fs::path templ = templateWithSplitHeader(tmp, "t.docx");
    Application word;
    auto doc = word.documents().add(templ);
    ASSERT_TRUE(doc) << word.documents().lastError();
    doc->range().deleteContent();
    Find find = doc->sections().item(1).headers().item(1).range().find();
    EXPECT_TRUE(find.execute("Course Name", {.matchCase = true,
                                             .matchWholeWord = true,
                                             .replaceWith = "Storage & Backup",
                                             .replace = office::wdReplaceAll}));
    EXPECT_EQ(doc->sections().item(1).headers().item(1).range().text(),
              "First header column!\tMid header\tRight header!\r"
              "Welcome to Storage & Backup, and Course Names, course name and Storage & Backup.\r");
    EXPECT_FALSE(find.execute("Course Name", {.matchCase = true, .matchWholeWord = true}));
    doc->saveAs(tmp / "out.docx");
    const std::string header = partOf(tmp / "out.docx", "/word/header1.xml");
    // The replacement takes the formatting of the match's first character: bold.
    EXPECT_NE(header.find("<w:b/></w:rPr><w:t xml:space=\"preserve\">Welcome to Storage &amp; Backup</w:t>"),
              std::string::npos)
        << header;

    // Without matching case the lower-case one goes too; a header without the text stays as stored.
    auto second = word.documents().add(templ);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->sections().item(1).headers().item(1).range().find().execute(
        "course name", {.matchWholeWord = true, .replaceWith = "X", .replace = office::wdReplaceAll}));
    EXPECT_EQ(second->sections().item(1).headers().item(1).range().text().substr(46),
              "Welcome to X, and Course Names, X and X.\r");
    auto third = word.documents().add(corpusDoc("poi-ThreeColHead.docx"));
    ASSERT_TRUE(third);
    third->range().deleteContent();
    EXPECT_FALSE(third->sections().item(1).headers().item(1).range().find().execute(
        "Course Name",
        {.matchCase = true, .matchWholeWord = true, .replaceWith = "X", .replace = office::wdReplaceAll}));
    third->saveAs(tmp / "third.docx");
    EXPECT_EQ(storedEntries(tmp / "third.docx")["word/header1.xml"],
              storedEntries(corpusDoc("poi-ThreeColHead.docx"))["word/header1.xml"]);
    // A document without a header: nothing found, nothing made.
    auto bare = word.documents().add(corpusDoc("poi-test.dotx"));
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->sections().item(1).headers().item(1).exists());
    EXPECT_FALSE(bare->sections().item(1).headers().item(1).range().find().execute(
        "Course Name", {.replaceWith = "X", .replace = office::wdReplaceAll}));
    EXPECT_THROW(bare->range().find().execute("x", {.matchWildcards = true}), DocumentError);
}

TEST(WordDocument, DeleteKeepsTheFinalSectionAndItsHeaders) {
    lf::test::TempDir tmp;
    Application word;
    // Three sections, each with its own header: after deleting, the last one's layout remains.
    auto doc = word.documents().add(corpusDoc("poi-Headers.docx"));
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->sections().count(), 3);
    doc->range().deleteContent();
    EXPECT_EQ(doc->sections().count(), 1);
    EXPECT_EQ(doc->paragraphs().count(), 1);
    EXPECT_EQ(doc->sections().item(1).headers().item(1).range().text(), "Section 3\r\r");
    doc->saveAs(tmp / "h.docx");
    const std::string xml = partOf(tmp / "h.docx", "/word/document.xml");
    EXPECT_EQ(xml.find("<w:sectPr"), xml.rfind("<w:sectPr"));
    // Parts the engine did not touch are copied as stored.
    auto was = storedEntries(corpusDoc("poi-Headers.docx"));
    auto now = storedEntries(tmp / "h.docx");
    for (const auto& [name, bytes] : was) {
        if (name != "word/document.xml" && name != "[Content_Types].xml") {
            EXPECT_EQ(now[name], bytes) << name;
        }
    }
}

TEST(WordDocument, TemplatesBecomeDocumentsAndMacrosStayOutOfADocx) {
    lf::test::TempDir tmp;
    // A macro-enabled template made from a corpus template.
    const fs::path dotm = tmp / "macro.dotm";
    copyWritable(corpusDoc("poi-test.dotx"), dotm);
    {
        auto p = lf::opc::Package::open(dotm);
        p->setContentType("/word/document.xml",
                          "application/vnd.ms-word.template.macroEnabledTemplate.main+xml");
        p->writePart("/word/vbaProject.bin", std::string("\xD0\xCF\x11\xE0 macros", 11),
                     "application/vnd.ms-office.vbaProject");
        p->addRelationship("/word/document.xml",
                           "http://schemas.microsoft.com/office/2006/relationships/vbaProject",
                           "vbaProject.bin");
        p->save();
    }
    Application word;
    auto doc = word.documents().add(dotm);
    ASSERT_TRUE(doc) << word.documents().lastError();
    EXPECT_EQ(doc->name(), "Document1");
    auto other = word.documents().add(corpusDoc("poi-test.dotx"));
    EXPECT_EQ(other->name(), "Document2");
    doc->saveAs(tmp / "plain.docx");
    auto p = lf::opc::Package::open(tmp / "plain.docx");
    EXPECT_EQ(p->contentType("/word/document.xml"),
              "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
    EXPECT_FALSE(p->hasPart("/word/vbaProject.bin"));
    for (const auto& rel : p->relationships("/word/document.xml"))
        EXPECT_EQ(rel.type.find("vbaProject"), std::string::npos);
    other->saveAs(tmp / "fromdotx.docx");
    EXPECT_EQ(lf::opc::Package::open(tmp / "fromdotx.docx")->contentType("/word/document.xml"),
              "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
}

TEST(WordApplication, CloseDiscardsAndQuitEndsEverything) {
    lf::test::TempDir tmp;
    copyWritable(corpusDoc("poi-sample.docx"), tmp / "a.docx");
    const std::string before = lf::test::readFile(tmp / "a.docx");
    Application word;
    word.setVisible(true);
    word.setWindowState(office::wdWindowStateMinimize);
    word.setActivePrinter("PDF");
    EXPECT_EQ(word.activePrinter(), "PDF");
    EXPECT_EQ(word.windowState(), office::wdWindowStateMinimize);
    EXPECT_THROW(word.setWindowState(7), DocumentError);
    Document doc = word.documents().open(tmp / "a.docx");
    EXPECT_EQ(doc.name(), "a.docx");
    doc.range().deleteContent();
    doc.close();
    EXPECT_TRUE(doc.closed());
    EXPECT_THROW(doc.range(), DocumentError);
    EXPECT_EQ(lf::test::readFile(tmp / "a.docx"), before);
    Document again = word.documents().open(tmp / "a.docx");
    Range held = again.range();
    EXPECT_EQ(word.documents().count(), 1);
    word.quit();
    EXPECT_TRUE(again.closed());
    EXPECT_THROW(held.text(), DocumentError);
    EXPECT_THROW(word.documents(), DocumentError);
    EXPECT_EQ(lf::test::readFile(tmp / "a.docx"), before);
}

TEST(WordRange, DeletingParagraphsKeepsSectionBreaksAndTheLastMark) {
    Application word;
    Document doc = word.documents().open(corpusDoc("poi-Headers.docx"));
    ASSERT_EQ(doc.paragraphs().count(), 5);
    ASSERT_EQ(doc.sections().count(), 3);
    // The paragraph holding the first section break goes: the break moves to the paragraph before it.
    doc.paragraphs().item(2).range().deleteContent();
    EXPECT_EQ(doc.paragraphs().count(), 4);
    EXPECT_EQ(doc.sections().count(), 3);
    EXPECT_EQ(doc.sections().item(1).headers().item(1).range().text(), "Section 1\r\r");
    // The first paragraph has none before it: its break goes with it and the sections merge.
    doc.paragraphs().item(1).range().deleteContent();
    EXPECT_EQ(doc.sections().count(), 2);
    EXPECT_EQ(doc.sections().item(1).headers().item(1).range().text(), "Section 2\r\r");

    // Paragraphs made by one insertion go together; a range made before a removal still knows its own.
    Range added = doc.paragraphs().add().range();
    added.insertAfter("one\rtwo\rthree");
    Range kept = doc.paragraphs().item(1).range();
    EXPECT_EQ(added.paragraphCount(), 3);
    added.deleteContent();
    EXPECT_EQ(doc.paragraphs().count(), 3);
    EXPECT_EQ(kept.paragraphCount(), 1);
    EXPECT_EQ(added.text(), "") << "its paragraphs are gone";
    added.font().setBold(true); // formats nothing
    EXPECT_FALSE(doc.paragraphs().item(1).range().font().bold());
    EXPECT_THROW(added.insertAfter("x"), DocumentError);

    // All of a story's paragraphs: the last mark stays, empty.
    Range all = doc.paragraphs().item(1).range();
    all.insertAfter("x");
    Document single = word.documents().add(corpusDoc("poi-test.dotx")).value();
    single.range().deleteContent();
    Range only = single.paragraphs().item(1).range();
    only.insertAfter("text");
    only.deleteContent();
    EXPECT_EQ(single.paragraphs().count(), 1);
    EXPECT_EQ(single.range().text(), "\r");
}

namespace {

// A copy of the three-column header template whose header part is replaced by `headerXml`.
fs::path templateWithHeader(const lf::test::TempDir& tmp, const std::string& name,
                            const std::string& headerXml) {
    const fs::path file = tmp / name;
    copyWritable(corpusDoc("poi-ThreeColHead.docx"), file);
    auto p = lf::opc::Package::open(file);
    p->writePart("/word/header1.xml", headerXml);
    p->save();
    return file;
}

const char* const kHdrOpen =
    "<w:hdr xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">";

} // namespace

TEST(WordFind, Replaces40000HeaderMatchesInUnderTwoSeconds) {
    lf::test::TempDir tmp;
    // One run of 40,000 whole-word matches, and a second paragraph whose matches are split over runs.
    std::string many;
    for (int i = 0; i < 40000; ++i)
        many += "Course Name ";
    const std::string header =
        std::string(kHdrOpen) + "<w:p><w:r><w:t xml:space=\"preserve\">" + many +
        "</w:t></w:r></w:p><w:p><w:r><w:t>Cou</w:t></w:r><w:r><w:t xml:space=\"preserve\">"
        "rse Name, Course Names</w:t></w:r></w:p></w:hdr>";
    Application word;
    auto doc = word.documents().add(templateWithHeader(tmp, "many.docx", header));
    ASSERT_TRUE(doc) << word.documents().lastError();
    Range range = doc->sections().item(1).headers().item(office::wdHeaderFooterPrimary).range();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(range.find().execute("Course Name", {.matchCase = true,
                                                     .matchWholeWord = true,
                                                     .replaceWith = "Storage",
                                                     .replace = office::wdReplaceAll}));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 2.0);
    std::string expected;
    for (int i = 0; i < 40000; ++i)
        expected += "Storage ";
    EXPECT_EQ(range.text(), expected + "\rStorage, Course Names\r");
}

TEST(WordTemplates, HeadersAndBodiesNestedPast256LevelsAreRefusedNamingTheLimit) {
    lf::test::TempDir tmp;
    Application word;
    // 75,000 nested elements in the header, 100,000 nested content controls and tables in the body:
    // refused before any walk over them, with the limit in the reason.
    std::string header = kHdrOpen;
    for (int i = 0; i < 75000; ++i)
        header += "<w:p>";
    for (int i = 0; i < 75000; ++i)
        header += "</w:p>";
    header += "</w:hdr>";
    const fs::path deepHeader = templateWithHeader(tmp, "deep-header.docx", header);

    const fs::path deepBody = tmp / "deep-body.docx";
    copyWritable(corpusDoc("poi-ThreeColHead.docx"), deepBody);
    {
        auto p = lf::opc::Package::open(deepBody);
        std::string body =
            "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
            "<w:body>";
        for (int i = 0; i < 50000; ++i)
            body += "<w:sdt><w:tbl>";
        for (int i = 0; i < 50000; ++i)
            body += "</w:tbl></w:sdt>";
        p->writePart("/word/document.xml", body + "</w:body></w:document>");
        p->save();
    }
    for (const fs::path& file : {deepHeader, deepBody}) {
        SCOPED_TRACE(file.filename().string());
        EXPECT_FALSE(word.documents().add(file).has_value());
        EXPECT_NE(word.documents().lastError().find("deeper than the limit of 256 levels"), std::string::npos)
            << word.documents().lastError();
    }
}
