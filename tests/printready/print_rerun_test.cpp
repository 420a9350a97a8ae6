// A print-ready run after an earlier one redoes only what changed: the pages and print files of
// unchanged files come from the cache of laid-out pages (in XDG_CACHE_HOME, a private folder per test)
// without LibreOffice starting; a deck given new bytes under its old name, a damaged cache entry and a
// printer whose settings changed are laid out or filtered again; the cache folder keeps to its bound,
// and one that cannot be written fails nothing.
#include "course_fixture.h"
#include "office/builder/document.h"
#include "office/printing/page_cache.h"
#include "printready/modPrintReady.h"
#include "private_cups.h"
#include "test_pdf.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

namespace fs = std::filesystem;

const QString kReused = ": unchanged since the last run: pages reused";

// The entries of the cache folder, by name.
std::vector<fs::path> cacheEntries(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (const auto& e : fs::directory_iterator(folder, error))
        if (e.path().extension() == ".lfc")
            entries.push_back(e.path());
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The names of the entries made in a folder while this watches it (the kernel queues each one, so
// a folder made and removed again in between is seen too).
class Creations {
public:
    explicit Creations(const fs::path& folder) : fd_(inotify_init1(IN_NONBLOCK)) {
        if (fd_ >= 0)
            inotify_add_watch(fd_, folder.c_str(), IN_CREATE);
    }
    ~Creations() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Creations(const Creations&) = delete;
    Creations& operator=(const Creations&) = delete;

    bool watching() const { return fd_ >= 0; }
    std::vector<std::string> names() const {
        std::vector<std::string> made;
        alignas(inotify_event) char buffer[16384];
        ssize_t got;
        while ((got = ::read(fd_, buffer, sizeof buffer)) > 0)
            for (char* p = buffer; p < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if (event->len > 0)
                    made.emplace_back(event->name);
                p += sizeof(inotify_event) + event->len;
            }
        return made;
    }

private:
    int fd_;
};

class PrintRerun : public CourseTest {
protected:
    void SetUp() override {
        CourseTest::SetUp();
        const QString reason = PrivateCups::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        cups.emplace();
        makeFolder("Course");
        makeFolder("Work");
        courseDeck(3, "Welcome").write(host("Course/00Welcome.pptx"));
        courseDeck(4, "Module").write(host("Course/Module01.pptx"));
        builder::WordDocument guide;
        guide.paragraphs = {"Lab guide", "A second paragraph."};
        guide.write(host("Course/LabGuide.docx"));
    }

    // One run into D:\<out>, without PDFs; the lines it logged (tag left off). With `tmp` the
    // run's temporary folder is that folder, so that what it makes there can be watched.
    QStringList run(const std::string& out, const std::optional<fs::path>& tmp = std::nullopt) {
        log.lines.clear();
        const std::optional<QByteArray> oldTmp =
            qEnvironmentVariableIsSet("TMPDIR") ? std::optional(qgetenv("TMPDIR")) : std::nullopt;
        if (tmp)
            qputenv("TMPDIR", QByteArray::fromStdString(tmp->string()));
        printready::RunPrintReady(local("Course"), local(QString::fromStdString(out)), false, local("Work"),
                                  true, false, "PrintReady.zip", PrivateCups::psPrinter,
                                  PrivateCups::psPrinter, PrivateCups::pdfPrinter, {});
        if (oldTmp)
            qputenv("TMPDIR", *oldTmp);
        else
            qunsetenv("TMPDIR");
        EXPECT_TRUE(log.failures.isEmpty()) << log.failures.join("\n").toStdString();
        QStringList said;
        for (const QString& line : linesOf("PRU"))
            said.append(line.mid(6));
        return said;
    }

    fs::path cacheFolder() const { return cacheHome.path() / "lessonforge" / "print-cache"; }

    std::optional<PrivateCups> cups;
};

TEST_F(PrintRerun, AnUnchangedCourseIsReusedWholeAndAChangedDeckIsLaidOutAgain) {
    const QStringList first = run("Out1");
    EXPECT_FALSE(first.join("\n").contains(kReused)) << "the first run has nothing to reuse";
    EXPECT_EQ(cacheEntries(cacheFolder()).size(), 6u) << "three PDFs and three print files are kept";

    // Unchanged: every file says so, and no LibreOffice instance starts (it would make its private
    // folder "lf-office-..." in the run's temporary folder, where the engine makes its own).
    TempDir tmp;
    const Creations made(tmp.path());
    ASSERT_TRUE(made.watching());
    const QStringList second = run("Out2", tmp.path());
    for (const char* name : {"00Welcome.pptx", "Module01.pptx", "LabGuide.docx"})
        EXPECT_TRUE(second.contains(name + kReused)) << name << "\n" << second.join("\n").toStdString();
    const std::vector<std::string> madeThere = made.names();
    EXPECT_TRUE(std::any_of(madeThere.begin(), madeThere.end(), [](const std::string& n) {
        return n.starts_with("lessonforge-print");
    })) << "the run's temporary folder is watched";
    for (const std::string& name : madeThere)
        EXPECT_FALSE(name.starts_with("lf-office")) << "LibreOffice was started: " << name;
    for (const char* prn : {"00Welcome.prn", "Module01.prn", "LabGuide.prn"})
        EXPECT_EQ(readFile(host("Out2") / prn), readFile(host("Out1") / prn)) << prn;
    const qsizetype line = second.indexOf("Module01.pptx" + kReused);
    EXPECT_LT(second.indexOf("Printing Module01.pptx"), line) << "the line comes with its file";
    EXPECT_LT(line, second.indexOf("Printed: Module01.pptx"));

    // The deck is given new bytes under its old name (two slides more): it alone is laid out again.
    courseDeck(6, "Module").write(host("Course/Module01.pptx"));
    const QStringList third = run("Out3");
    EXPECT_FALSE(third.contains("Module01.pptx" + kReused)) << third.join("\n").toStdString();
    EXPECT_TRUE(third.contains("00Welcome.pptx" + kReused));
    EXPECT_TRUE(third.contains("LabGuide.docx" + kReused));
    EXPECT_EQ(postScriptPageCount(readFile(host("Out1/Module01.prn"))), 4);
    EXPECT_EQ(postScriptPageCount(readFile(host("Out3/Module01.prn"))), 6);
}

// An entry cut short or with a byte changed is not used: the file is laid out and filtered again,
// its print file is right, and the entry is written anew (the next run takes it).
TEST_F(PrintRerun, ADamagedEntryIsIgnoredAndReplaced) {
    run("Out1");
    const std::vector<fs::path> entries = cacheEntries(cacheFolder());
    ASSERT_EQ(entries.size(), 6u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string bytes = readFile(entries[i]);
        if (i % 2 == 0)
            bytes.resize(bytes.size() / 2);
        else
            bytes[bytes.size() / 2] ^= 0x20;
        writeFile(entries[i], bytes);
    }

    const QStringList second = run("Out2");
    EXPECT_FALSE(second.join("\n").contains(kReused)) << second.join("\n").toStdString();
    EXPECT_EQ(postScriptPageCount(readFile(host("Out2/00Welcome.prn"))), 3);
    EXPECT_EQ(postScriptPageCount(readFile(host("Out2/Module01.prn"))), 4);
    EXPECT_EQ(readFile(host("Out2/LabGuide.prn")).substr(0, 4), "%!PS");

    const QStringList third = run("Out3");
    EXPECT_TRUE(third.contains("Module01.pptx" + kReused)) << third.join("\n").toStdString();
    EXPECT_EQ(readFile(host("Out3/Module01.prn")), readFile(host("Out2/Module01.prn")));
}

// A default changed on the queue changes the PPD the server hands out: the pages are reused, the
// print files are made anew for the new settings.
TEST_F(PrintRerun, APrinterWhoseSettingsChangedGetsNewPrintFiles) {
    run("Out1");
    ASSERT_EQ(cups->run("lpadmin", {"-p", PrivateCups::psPrinter, "-o", "PageSize=A4"}), 0)
        << cups->log().toStdString();

    const QStringList second = run("Out2");
    EXPECT_TRUE(second.contains("Module01.pptx" + kReused)) << second.join("\n").toStdString();
    const std::string before = readFile(host("Out1/Module01.prn"));
    const std::string after = readFile(host("Out2/Module01.prn"));
    EXPECT_NE(before.find("%%HiResBoundingBox: 0 0 612.00 792.00"), std::string::npos) << "Letter";
    EXPECT_NE(after.find("%%HiResBoundingBox: 0 0 595.00 842.00"), std::string::npos)
        << "the print file is made for the new page size, A4";
    EXPECT_EQ(postScriptPageCount(after), 4);
}

// Many entries under a small bound: after each write the least recently used go, and an entry read
// is used again, so it outlives those written before it.
TEST(PageCache, KeepsToItsBoundLeastRecentlyUsedOut) {
    TempDir dir;
    const std::string payload(10000, 'x');
    writeFile(dir / "page.bin", payload);
    constexpr std::uint64_t bound = 50000; // room for four entries (each a header more than 10000)
    printing::PageCache cache(dir / "cache", bound);
    cache.store("first", dir / "page.bin");
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(cache.fetch("first", dir / "out.bin")) << "entry " << i;
        cache.store("entry" + std::to_string(i), dir / "page.bin");
    }
    std::uint64_t total = 0;
    for (const fs::path& e : cacheEntries(dir / "cache"))
        total += fs::file_size(e);
    EXPECT_LE(total, bound);
    EXPECT_EQ(cacheEntries(dir / "cache").size(), 4u);
    EXPECT_TRUE(cache.fetch("entry11", dir / "out.bin"));
    EXPECT_FALSE(cache.fetch("entry7", dir / "out.bin")) << "the least recently used went";
    EXPECT_EQ(readFile(dir / "out.bin"), payload);
}

// A cache folder that cannot be made (a file stands where it would go) keeps nothing and fails
// nothing: the print goes on without it, with the hash of its pages all the same.
TEST(PageCache, AFolderThatCannotBeMadeOnlyMisses) {
    TempDir dir;
    writeFile(dir / "page.bin", "some pages");
    writeFile(dir / "taken", "a file, not a folder");
    printing::PageCache cache(dir / "taken" / "cache", printing::defaultPageCacheLimit);
    EXPECT_EQ(cache.store("pages", dir / "page.bin"), printing::fileSha256(dir / "page.bin"));
    EXPECT_FALSE(cache.fetch("pages", dir / "out.bin"));
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

} // namespace
} // namespace lf::test
