#include "office/opc/package.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using lf::opc::Package;
using lf::opc::PackageError;
namespace fs = std::filesystem;

namespace {

const std::string kMinimalTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>";

// A copy of a corpus file that a test may save: the corpus itself is kept read-only.
void copyWritable(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
}

struct ZipEntry {
    std::string name;
    std::string bytes;
};

// Writes a zip with libzip itself, entries in the given order, deflated unless told otherwise.
void makeZip(const fs::path& file, const std::vector<ZipEntry>& entries, bool deflate = true) {
    int err = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(z, nullptr);
    for (const ZipEntry& e : entries) {
        zip_source_t* src = zip_source_buffer(z, e.bytes.data(), e.bytes.size(), 0);
        const zip_int64_t idx = zip_file_add(z, e.name.c_str(), src, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(idx, 0) << e.name << ": " << zip_strerror(z);
        zip_set_file_compression(z, static_cast<zip_uint64_t>(idx), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                 9);
    }
    ASSERT_EQ(zip_close(z), 0);
}

struct StoredEntry {
    std::string name;
    std::string compressed; // the entry's data exactly as stored
    std::string content;    // inflated
    zip_uint32_t crc = 0;
    zip_uint16_t method = 0;
};

// Every entry of a zip in central-directory order, read with libzip independently of the package layer.
std::vector<StoredEntry> readZip(const fs::path& file) {
    std::vector<StoredEntry> out;
    int err = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!z)
        throw std::runtime_error("libzip cannot open " + file.string());
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st);
        StoredEntry e;
        e.name = st.name;
        e.crc = st.crc;
        e.method = st.comp_method;
        for (int pass = 0; pass < 2; ++pass) {
            zip_file_t* f =
                zip_fopen_index(z, static_cast<zip_uint64_t>(i), pass == 0 ? ZIP_FL_COMPRESSED : 0);
            std::string& target = pass == 0 ? e.compressed : e.content;
            char buf[8192];
            zip_int64_t got;
            while ((got = zip_fread(f, buf, sizeof buf)) > 0)
                target.append(buf, static_cast<std::size_t>(got));
            zip_fclose(f);
        }
        out.push_back(std::move(e));
    }
    zip_discard(z);
    return out;
}

std::string refusal(const fs::path& file, const lf::opc::Limits& limits = {}) {
    try {
        auto p = Package::open(file, limits);
        for (const std::string& name : p->partNames())
            (void)p->readPart(name);
    } catch (const PackageError& e) {
        return e.what();
    }
    return {};
}

// The first XML part that is not a relationships part: the one a test changes.
std::string someXmlPart(Package& p) {
    for (const std::string& name : p.partNames())
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0)
            return name;
    return {};
}

} // namespace

TEST(PackageCorpus, EveryDeckAndDocumentOpensAndSavesUnchangedEntriesAsStored) {
    lf::test::TempDir tmp;
    auto files = lf::test::corpusFiles("pptx");
    const auto docs = lf::test::corpusFiles("docx");
    files.insert(files.end(), docs.begin(), docs.end());
    // Sound, though filed with the bad ones: its entries carry data descriptors.
    files.push_back(lf::test::corpusDir() / "bad" / "zero-length.docx");
    ASSERT_GT(files.size(), 40u);
    for (const fs::path& original : files) {
        SCOPED_TRACE(original.filename().string());
        const fs::path copy = tmp / original.filename().string();
        copyWritable(original, copy);
        const std::string before = lf::test::readFile(copy);
        auto p = Package::open(copy);
        EXPECT_EQ(p->name(), original.filename().string());
        ASSERT_FALSE(p->partNames().empty());
        for (const std::string& name : p->partNames())
            EXPECT_NO_THROW((void)p->readPart(name)) << name;
        EXPECT_FALSE(p->changed());

        // Unchanged: save writes nothing, saveAs writes the same bytes.
        p->save();
        EXPECT_EQ(lf::test::readFile(copy), before);
        const fs::path same = tmp / ("same-" + original.filename().string());
        Package::open(copy)->saveAs(same);
        EXPECT_EQ(lf::test::readFile(same), before);

        // One part changed: it alone is written anew, every other entry keeps its stored bytes and place.
        const std::string changedPart = someXmlPart(*p);
        ASSERT_FALSE(changedPart.empty());
        pugi::xml_document& doc = p->xmlPart(changedPart);
        doc.document_element().append_attribute("lfMarker") = "1";
        p->markChanged(changedPart);
        EXPECT_TRUE(p->changed());
        p->save();
        EXPECT_FALSE(p->changed());
        const auto was = readZip(original);
        const auto now = readZip(copy);
        ASSERT_EQ(was.size(), now.size());
        for (std::size_t i = 0; i < was.size(); ++i) {
            EXPECT_EQ(was[i].name, now[i].name);
            if ("/" + was[i].name == changedPart) {
                EXPECT_NE(now[i].content.find("lfMarker=\"1\""), std::string::npos);
                continue;
            }
            EXPECT_EQ(was[i].compressed, now[i].compressed) << was[i].name;
            EXPECT_EQ(was[i].content, now[i].content) << was[i].name;
            EXPECT_EQ(was[i].crc, now[i].crc) << was[i].name;
            EXPECT_EQ(was[i].method, now[i].method) << was[i].name;
        }
        auto reread = Package::open(copy);
        EXPECT_EQ(reread->partNames(), p->partNames());
        EXPECT_TRUE(reread->xmlPart(changedPart).document_element().attribute("lfMarker"));
    }
}

TEST(PackageCorpus, EveryBadFileIsRefusedByNameAndLeftUntouched) {
    lf::test::TempDir tmp;
    for (const fs::path& original : lf::test::corpusFiles("bad")) {
        SCOPED_TRACE(original.filename().string());
        const fs::path copy = tmp / original.filename().string();
        copyWritable(original, copy);
        const std::string message = refusal(copy);
        const auto mtime = fs::last_write_time(copy);
        if (original.filename() == "zero-length.docx") {
            // Its local headers carry zero sizes (data descriptors follow the data); the central
            // directory is sound, so it is a readable document.
            EXPECT_EQ(message, "");
        } else {
            EXPECT_NE(message, "");
            EXPECT_NE(message.find(copy.string()), std::string::npos) << message;
        }
        EXPECT_EQ(lf::test::readFile(copy), lf::test::readFile(original));
        EXPECT_EQ(fs::last_write_time(copy), mtime);
    }
    // No temporary files were left beside them.
    EXPECT_EQ(
        static_cast<std::size_t>(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator())),
        lf::test::corpusFiles("bad").size());
}

TEST(PackageOpen, NamesWhatIsWrongWithTheFile) {
    lf::test::TempDir tmp;
    struct Case {
        std::string file;
        std::string bytes;
        std::string expected;
    };
    std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    ole.resize(4096, '\0');
    const std::vector<Case> cases = {
        {"empty.pptx", "", "empty"},
        {"ole.docx", ole, "OLE compound file"},
        {"text.pptx", "this is not a zip file at all, only text", "not a zip package"},
        {"short.pptx", "PK\x03\x04", "truncated"},
    };
    for (const Case& c : cases) {
        lf::test::writeFile(tmp / c.file, c.bytes);
        const std::string message = refusal(tmp / c.file);
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.file << ": " << message;
        EXPECT_NE(message.find((tmp / c.file).string()), std::string::npos) << message;
    }
    EXPECT_NE(refusal(tmp / "missing.pptx").find("does not exist"), std::string::npos);

    // Truncated at every tenth of its length.
    const std::string deck = lf::test::readFile(lf::test::corpusFiles("pptx").front());
    for (int tenth = 1; tenth < 10; ++tenth) {
        lf::test::writeFile(tmp / "cut.pptx", deck.substr(0, deck.size() * tenth / 10));
        EXPECT_NE(refusal(tmp / "cut.pptx"), "") << tenth;
    }
}

TEST(PackageOpen, RefusesEntryNamesThatLeaveThePackage) {
    lf::test::TempDir tmp;
    for (const std::string evil : {"../evil.xml", "word/../../evil.xml", "/etc/evil.xml", "word\\evil.xml",
                                   "C:/evil.xml", "word/./evil.xml", "word//evil.xml"}) {
        makeZip(tmp / "evil.docx", {{"[Content_Types].xml", kMinimalTypes}, {evil, "<x/>"}});
        const std::string message = refusal(tmp / "evil.docx");
        EXPECT_NE(message, "") << evil;
        EXPECT_NE(message.find("evil.xml"), std::string::npos) << message;
        EXPECT_FALSE(fs::exists(tmp.path().parent_path() / "evil.xml"));
    }
}

TEST(PackageOpen, RefusesDuplicateNamesExactAndByCase) {
    lf::test::TempDir tmp;
    makeZip(tmp / "case.docx",
            {{"[Content_Types].xml", kMinimalTypes}, {"word/a.xml", "<a/>"}, {"WORD/A.xml", "<b/>"}});
    EXPECT_NE(refusal(tmp / "case.docx").find("more than once"), std::string::npos);

    // Two entries of exactly the same name: built with distinct names, then one renamed in place.
    makeZip(tmp / "dup.docx",
            {{"[Content_Types].xml", kMinimalTypes}, {"word/a.xml", "<a/>"}, {"word/b.xml", "<b/>"}});
    std::string bytes = lf::test::readFile(tmp / "dup.docx");
    for (std::size_t at = bytes.find("word/b.xml"); at != std::string::npos;
         at = bytes.find("word/b.xml", at))
        bytes.replace(at, 10, "word/a.xml");
    lf::test::writeFile(tmp / "dup.docx", bytes);
    const std::string message = refusal(tmp / "dup.docx");
    EXPECT_NE(message, "");
    EXPECT_NE(message.find((tmp / "dup.docx").string()), std::string::npos);
}

TEST(PackageOpen, StopsZipBombsByDeclaredSizeRatioAndWhileInflating) {
    lf::test::TempDir tmp;
    const std::string zeros(8u << 20, '\0');
    makeZip(tmp / "bomb.pptx", {{"[Content_Types].xml", kMinimalTypes}, {"ppt/bomb.bin", zeros}});
    lf::opc::Limits limits;
    limits.maxPartSize = 4u << 20;
    EXPECT_NE(refusal(tmp / "bomb.pptx", limits).find("past the limit"), std::string::npos);
    limits = {};
    limits.maxCompressionRatio = 100;
    EXPECT_NE(refusal(tmp / "bomb.pptx", limits).find("compression ratio"), std::string::npos);
    limits = {};
    limits.maxTotalSize = 6u << 20;
    EXPECT_NE(refusal(tmp / "bomb.pptx", limits), "");

    // A central directory that understates the size: inflation is stopped, not trusted.
    const std::string payload(200000, 'x');
    makeZip(tmp / "liar.pptx", {{"[Content_Types].xml", kMinimalTypes}, {"ppt/liar.bin", payload}});
    std::string bytes = lf::test::readFile(tmp / "liar.pptx");
    std::uint32_t size = static_cast<std::uint32_t>(payload.size());
    std::string le(reinterpret_cast<const char*>(&size), 4);
    std::uint32_t small = 1000;
    std::string smallLe(reinterpret_cast<const char*>(&small), 4);
    int patched = 0;
    for (std::size_t at = bytes.find(le); at != std::string::npos; at = bytes.find(le, at + 4), ++patched)
        bytes.replace(at, 4, smallLe);
    ASSERT_GE(patched, 2); // local and central headers
    lf::test::writeFile(tmp / "liar.pptx", bytes);
    const std::string message = refusal(tmp / "liar.pptx");
    EXPECT_NE(message, "");
    EXPECT_NE(message.find("liar.bin"), std::string::npos) << message;
}

TEST(PackageOpen, RequiresParsableContentTypes) {
    lf::test::TempDir tmp;
    makeZip(tmp / "none.docx", {{"word/document.xml", "<w/>"}});
    EXPECT_NE(refusal(tmp / "none.docx").find("[Content_Types].xml is missing"), std::string::npos);
    makeZip(tmp / "broken.docx", {{"[Content_Types].xml", "<Types><Default"}, {"word/document.xml", "<w/>"}});
    EXPECT_NE(refusal(tmp / "broken.docx").find("not well-formed XML"), std::string::npos);
    makeZip(tmp / "badpart.docx",
            {{"[Content_Types].xml", kMinimalTypes}, {"word/document.xml", "<w><p></w>"}});
    auto p = Package::open(tmp / "badpart.docx");
    try {
        p->xmlPart("/word/document.xml");
        FAIL() << "a broken part parsed";
    } catch (const PackageError& e) {
        EXPECT_NE(std::string(e.what()).find("/word/document.xml"), std::string::npos);
    }
    EXPECT_THROW(p->readPart("/word/missing.xml"), PackageError);
}

TEST(PackageXml, KeepsWhitespaceTextCommentsAndDeclarationWordForWord) {
    lf::test::TempDir tmp;
    const std::string slide = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                              "<p:sld xmlns:p=\"p\" xmlns:a=\"a\"><!-- kept --><?lf keep?>"
                              "<a:t> </a:t><a:t>  two  </a:t>\n  <a:t>x&amp;y&lt;z</a:t></p:sld>";
    makeZip(tmp / "ws.pptx", {{"[Content_Types].xml", kMinimalTypes}, {"ppt/slide.xml", slide}});
    auto p = Package::open(tmp / "ws.pptx");
    pugi::xml_document& doc = p->xmlPart("/ppt/slide.xml");
    EXPECT_STREQ(doc.document_element().child("a:t").text().get(), " ");
    p->markChanged("/ppt/slide.xml");
    p->save();
    const auto entries = readZip(tmp / "ws.pptx");
    ASSERT_EQ(entries.size(), 2u);
    // Only the line break between the declaration and the root element is not kept: the same document.
    std::string expected = slide;
    expected.erase(expected.find('\r'), 2);
    EXPECT_EQ(entries[1].content, expected);
}

TEST(PackageParts, ContentTypesRelationshipsAndNewPartsSurviveSave) {
    lf::test::TempDir tmp;
    copyWritable(lf::test::corpusDir() / "pptx" / "ppt-t-minimal.pptx", tmp / "deck.pptx");
    auto p = Package::open(tmp / "deck.pptx");
    const auto presentation = p->relatedPart(
        "/", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument");
    ASSERT_TRUE(presentation.has_value());
    EXPECT_EQ(*presentation, "/ppt/presentation.xml");
    EXPECT_EQ(p->contentType("/PPT/Presentation.xml"),
              "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml");
    EXPECT_EQ(p->contentType("/ppt/unknown.lfx"), "");

    const std::string notes = p->nextPartName("/ppt/notesSlides/notesSlide%d.xml");
    EXPECT_EQ(notes, "/ppt/notesSlides/notesSlide1.xml");
    const std::string ct = "application/vnd.openxmlformats-officedocument.presentationml.notesSlide+xml";
    pugi::xml_document& doc = p->createXmlPart(notes, ct);
    doc.append_child("p:notes").append_attribute("xmlns:p") = "p";
    const std::string id = p->addRelationship("/ppt/slides/slide1.xml", "http://example/notesSlide",
                                              Package::relativeTarget("/ppt/slides/slide1.xml", notes));
    EXPECT_EQ(p->nextPartName("/ppt/notesSlides/notesSlide%d.xml"), "/ppt/notesSlides/notesSlide2.xml");
    p->writePart("/ppt/media/blob.bin", std::string("\0\1\2", 3), "application/x-lf");
    p->removePart("/docProps/thumbnail.jpeg");
    EXPECT_FALSE(p->hasPart("/docProps/thumbnail.jpeg"));
    p->save();

    auto q = Package::open(tmp / "deck.pptx");
    EXPECT_EQ(q->contentType(notes), ct);
    EXPECT_EQ(q->contentType("/ppt/media/blob.bin"), "application/x-lf");
    EXPECT_EQ(q->readPart("/ppt/media/blob.bin"), std::string("\0\1\2", 3));
    EXPECT_FALSE(q->hasPart("/docProps/thumbnail.jpeg"));
    EXPECT_EQ(q->contentType("/docProps/thumbnail.jpeg"), "image/jpeg"); // the Default stays
    EXPECT_TRUE(q->xmlPart(notes).child("p:notes"));
    bool found = false;
    for (const auto& rel : q->relationships("/ppt/slides/slide1.xml"))
        if (rel.id == id) {
            found = true;
            EXPECT_EQ(rel.target, "../notesSlides/notesSlide1.xml");
            EXPECT_EQ(Package::resolveTarget("/ppt/slides/slide1.xml", rel.target), notes);
        }
    EXPECT_TRUE(found);
    // The first entry is still [Content_Types].xml: readers expect the order kept.
    EXPECT_EQ(readZip(tmp / "deck.pptx").front().name,
              readZip(lf::test::corpusDir() / "pptx" / "ppt-t-minimal.pptx").front().name);
}

TEST(PackageParts, ResolvesAndRelatesTargets) {
    EXPECT_EQ(Package::resolveTarget("/ppt/slides/slide1.xml", "../slideLayouts/slideLayout1.xml"),
              "/ppt/slideLayouts/slideLayout1.xml");
    EXPECT_EQ(Package::resolveTarget("/", "word/document.xml"), "/word/document.xml");
    EXPECT_EQ(Package::resolveTarget("/word/document.xml", "/word/styles.xml"), "/word/styles.xml");
    EXPECT_EQ(Package::resolveTarget("/word/document.xml", "./media/a.png"), "/word/media/a.png");
    EXPECT_EQ(Package::resolveTarget("/a.xml", "../../../x.xml"), "/x.xml"); // cannot climb above the root
    EXPECT_EQ(Package::relativeTarget("/ppt/slides/slide1.xml", "/ppt/notesSlides/notesSlide1.xml"),
              "../notesSlides/notesSlide1.xml");
    EXPECT_EQ(Package::relativeTarget("/word/document.xml", "/word/header1.xml"), "header1.xml");
    EXPECT_EQ(Package::relativeTarget("/", "/word/document.xml"), "word/document.xml");
}

TEST(PackageSave, CloseWithoutSaveNeverWrites) {
    lf::test::TempDir tmp;
    copyWritable(lf::test::corpusDir() / "docx" / "poi-sample.docx", tmp / "a.docx");
    const std::string before = lf::test::readFile(tmp / "a.docx");
    const auto mtime = fs::last_write_time(tmp / "a.docx");
    {
        auto p = Package::open(tmp / "a.docx");
        p->xmlPart("/word/document.xml").document_element().append_attribute("x") = "y";
        p->markChanged("/word/document.xml");
        p->writePart("/word/new.bin", "data");
    }
    EXPECT_EQ(lf::test::readFile(tmp / "a.docx"), before);
    EXPECT_EQ(fs::last_write_time(tmp / "a.docx"), mtime);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

TEST(PackageSave, TemplatePackageHasNoFileUntilSaveAs) {
    lf::test::TempDir tmp;
    copyWritable(lf::test::corpusDir() / "docx" / "poi-test.dotx", tmp / "t.dotx");
    const std::string before = lf::test::readFile(tmp / "t.dotx");
    auto p = Package::openTemplate(tmp / "t.dotx");
    EXPECT_TRUE(p->path().empty());
    p->writePart("/word/x.bin", "x");
    EXPECT_THROW(p->save(), PackageError);
    p->saveAs(tmp / "out.docx");
    EXPECT_EQ(p->name(), "out.docx");
    EXPECT_EQ(lf::test::readFile(tmp / "t.dotx"), before);
    EXPECT_TRUE(Package::open(tmp / "out.docx")->hasPart("/word/x.bin"));
}

namespace {

// Saves a changed copy of `file` in a child process with the given preparation; returns the child's
// report: "" when save threw PackageError naming the file, else what went wrong.
std::string saveInChild(const fs::path& file, const std::function<void()>& prepare) {
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string report;
        try {
            auto p = Package::open(file);
            p->xmlPart("/word/document.xml").document_element().append_attribute("x") = "y";
            p->markChanged("/word/document.xml");
            prepare();
            p->save();
            report = "save succeeded";
        } catch (const PackageError& e) {
            if (std::string(e.what()).find(file.string()) == std::string::npos)
                report = std::string("message does not name the file: ") + e.what();
        } catch (const std::exception& e) {
            report = std::string("wrong exception: ") + e.what();
        }
        (void)!write(fds[1], report.data(), report.size());
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        report.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        return "child crashed";
    return report;
}

} // namespace

TEST(PackageSave, FailingSaveLeavesTheOriginalByteIdentical) {
    lf::test::TempDir tmp;
    const fs::path folder = tmp / "ro";
    fs::create_directory(folder);
    const fs::path file = folder / "a.docx";
    copyWritable(lf::test::corpusDir() / "docx" / "poi-Headers.docx", file);
    const std::string before = lf::test::readFile(file);

    // An unwritable folder (a root test process takes the identity of nobody to feel the permissions).
    fs::permissions(tmp.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(saveInChild(file,
                          [] {
                              if (geteuid() == 0 && setuid(65534) != 0)
                                  _exit(3);
                          }),
              "");
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(lf::test::readFile(file), before);

    // A read-only file in a folder anyone may write to.
    fs::permissions(folder, fs::perms::all);
    EXPECT_EQ(saveInChild(file,
                          [] {
                              if (geteuid() == 0 && setuid(65534) != 0)
                                  _exit(3);
                          }),
              "");
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(lf::test::readFile(file), before);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);

    // A full disk: writes past a few kilobytes fail.
    EXPECT_EQ(saveInChild(file,
                          [] {
                              signal(SIGXFSZ, SIG_IGN);
                              rlimit limit{4096, 4096};
                              setrlimit(RLIMIT_FSIZE, &limit);
                          }),
              "");
    EXPECT_EQ(lf::test::readFile(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "a temporary file was left behind";

    // A folder stands where the new file should go.
    fs::create_directory(folder / "b.docx");
    auto p = Package::open(file);
    p->writePart("/word/x.bin", "x");
    EXPECT_THROW(p->saveAs(folder / "b.docx"), PackageError);
    EXPECT_TRUE(fs::is_directory(folder / "b.docx"));
}

TEST(PackageSave, SavingTwiceAndKeepingPermissions) {
    lf::test::TempDir tmp;
    const fs::path file = tmp / "a.docx";
    copyWritable(lf::test::corpusDir() / "docx" / "poi-sample.docx", file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    auto p = Package::open(file);
    for (int round = 1; round <= 2; ++round) {
        p->xmlPart("/word/document.xml")
            .document_element()
            .append_attribute(("r" + std::to_string(round)).c_str()) = "1";
        p->markChanged("/word/document.xml");
        p->save();
    }
    auto q = Package::open(file);
    const pugi::xml_node root = q->xmlPart("/word/document.xml").document_element();
    EXPECT_TRUE(root.attribute("r1"));
    EXPECT_TRUE(root.attribute("r2"));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(PackageXml, PartsPast16MiBOrAMillionNodesOrAPackagePast4MillionNodesAreRefusedBeforeParsing) {
    lf::test::TempDir tmp;
    std::string empties = "<a>";
    for (int i = 0; i < 1000001; ++i)
        empties += "<b/>";
    empties += "</a>";
    const std::string spaces = "<a>" + std::string(17u << 20, ' ') + "</a>";
    std::string nearMillion = "<a>";
    for (int i = 0; i < 900000; ++i)
        nearMillion += "<b/>";
    nearMillion += "</a>";
    std::vector<ZipEntry> entries = {
        {"[Content_Types].xml", kMinimalTypes}, {"ppt/empties.xml", empties}, {"ppt/spaces.xml", spaces}};
    for (int i = 1; i <= 5; ++i)
        entries.push_back({"ppt/near" + std::to_string(i) + ".xml", nearMillion});
    makeZip(tmp / "big.pptx", entries, false); // stored: deflated, they would pass the zip-bomb ratio
    auto p = Package::open(tmp / "big.pptx");
    auto refusal = [&](const std::string& part) {
        try {
            (void)p->xmlPart(part);
        } catch (const PackageError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(refusal("/ppt/empties.xml").find("more than 1000000 XML nodes"), std::string::npos);
    EXPECT_NE(refusal("/ppt/spaces.xml").find("past the limit of 16777216 bytes"), std::string::npos);
    // Four parts of 900,000 nodes each are read; the fifth would take the package past 4,000,000.
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(refusal("/ppt/near" + std::to_string(i) + ".xml"), "") << i;
    EXPECT_NE(refusal("/ppt/near5.xml").find("4000000 nodes for one package"), std::string::npos);
}

TEST(PackageSave, ARecordWithABadChecksumBadDeflateOrBadXmlIsNeverCopied) {
    lf::test::TempDir tmp;
    const std::string marker(4000, 'M');
    struct Case {
        std::string name;
        std::function<void(std::string&)> damage;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"crc", [&](std::string& b) { b[b.find(marker) + 100] = 'N'; }, "checksum mismatch"},
        {"deflate",
         [&](std::string& b) {
             const std::string packed = readZip(tmp / "deflate.pptx")[1].compressed;
             const std::size_t at = b.find(packed);
             for (std::size_t k = 0; k < 8; ++k)
                 b[at + packed.size() / 2 + k] = static_cast<char>(0xff);
         },
         "/ppt/kept.xml"},
        {"xml", [](std::string&) {}, "not well-formed XML"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = tmp / (c.name + ".pptx");
        const bool stored = c.name == "crc";
        makeZip(file,
                {{"[Content_Types].xml", kMinimalTypes},
                 {"ppt/kept.xml", c.name == "xml" ? "<a><b></a>"
                                  : stored        ? "<a>" + marker + "</a>"
                                                  : std::string(20000, 'z') + "<a/>"},
                 {"ppt/changed.xml", "<a/>"}},
                !stored);
        std::string bytes = lf::test::readFile(file);
        c.damage(bytes);
        lf::test::writeFile(file, bytes);

        // Opened for writing: refused at once.
        try {
            Package::open(file, {}, lf::opc::Access::Write);
            ADD_FAILURE() << "opened for writing";
        } catch (const PackageError& e) {
            EXPECT_NE(std::string(e.what()).find("/ppt/kept.xml"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
        // Opened for reading and changed elsewhere: the save refuses before it writes anything.
        auto p = Package::open(file);
        p->xmlPart("/ppt/changed.xml").document_element().append_attribute("x") = "1";
        p->markChanged("/ppt/changed.xml");
        EXPECT_THROW(p->save(), PackageError);
        EXPECT_THROW(p->saveAs(tmp / (c.name + "-copy.pptx")), PackageError);
        EXPECT_EQ(lf::test::readFile(file), bytes);
        EXPECT_FALSE(fs::exists(tmp / (c.name + "-copy.pptx")));
    }
}

TEST(PackageSave, AReadOnlyFileMode0444IsRefusedEvenForRoot) {
    lf::test::TempDir tmp;
    const fs::path file = tmp / "a.docx";
    copyWritable(lf::test::corpusDir() / "docx" / "poi-sample.docx", file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string before = lf::test::readFile(file);
    auto p = Package::open(file);
    p->xmlPart("/word/document.xml").document_element().append_attribute("x") = "y";
    p->markChanged("/word/document.xml");
    try {
        p->save();
        FAIL() << "replaced a read-only file (running as uid " << geteuid() << ")";
    } catch (const PackageError& e) {
        EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
    EXPECT_EQ(lf::test::readFile(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

TEST(PackageSave, ASaveRemovesOnlyItsOwnFilesLeftoverTemporariesNotOnesInUse) {
    lf::test::TempDir tmp;
    const fs::path file = tmp / "a.docx";
    copyWritable(lf::test::corpusDir() / "docx" / "poi-sample.docx", file);
    // What saves killed before their rename left, and names that only look like it.
    const std::vector<std::string> leftovers = {".a.docx.lf-AbC123", ".a.docx.lf-zzzzzz"};
    const std::vector<std::string> others = {".a.docx.lf-held12",  ".b.docx.lf-AbC123", ".a.docx.lf-AbC12",
                                             ".a.docx.lf-AbC1234", "a.docx.lf-AbC123",  ".a.docx.lf-AbC12_"};
    for (const std::string& name : leftovers)
        lf::test::writeFile(tmp / name, std::string(1000, 'x'));
    for (const std::string& name : others)
        lf::test::writeFile(tmp / name, "keep");
    // A save in progress elsewhere holds its temporary file locked.
    const int held = ::open((tmp / ".a.docx.lf-held12").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    auto p = Package::open(file);
    p->xmlPart("/word/document.xml").document_element().append_attribute("x") = "y";
    p->markChanged("/word/document.xml");
    p->save();
    ::close(held);
    for (const std::string& name : leftovers)
        EXPECT_FALSE(fs::exists(tmp / name)) << name;
    for (const std::string& name : others)
        EXPECT_EQ(lf::test::readFile(tmp / name), "keep") << name;
    EXPECT_TRUE(Package::open(file)->xmlPart("/word/document.xml").document_element().attribute("x"));
}
