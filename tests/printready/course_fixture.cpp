#include "course_fixture.h"

#include "platform/folders.h"

#include <QFile>
#include <QProcess>

namespace lf::test {

std::string notesImageShape(int id) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) +
           "\" name=\"Slide Image Placeholder 1\"/><p:cNvSpPr/><p:nvPr><p:ph type=\"sldImg\"/></p:nvPr>"
           "</p:nvSpPr><p:spPr/></p:sp>";
}

std::string notesTextShape(int id, const std::string& text) {
    return placeholderShape(id, "Notes Placeholder 2", {"body", 1}, std::nullopt, paragraph(run(text)));
}

DeckBuilder courseDeck(int slides, const std::string& title) {
    DeckBuilder b;
    for (int i = 1; i <= slides; ++i) {
        SlideSpec s;
        const std::string n = std::to_string(i);
        s.shapes = {
            placeholderShape(2, "Title 1", {"title", -1}, std::nullopt,
                             paragraph(run(title + " slide " + n))),
            textBox(3, "TextBox 2", {emuPt(40), emuPt(140), emuPt(300), emuPt(100)},
                    paragraph(run("Point " + n + ". More text."))),
            picture(4, "Picture 3", {emuPt(380), emuPt(140), emuPt(200), emuPt(150)}),
        };
        s.usesPicture = true;
        s.notesShapes = std::vector<std::string>{notesImageShape(2), notesTextShape(3, "Say " + n)};
        b.slides.push_back(s);
    }
    return b;
}

std::string deckShow(const std::filesystem::path& deck) {
    QProcess show;
    show.start(LF_DECK_TOOL, {"show", QString::fromStdString(deck.string())});
    if (!show.waitForFinished(60000) || show.exitStatus() != QProcess::NormalExit || show.exitCode() != 0)
        return {};
    return show.readAllStandardOutput().toStdString();
}

void CourseTest::SetUp() {
    // Each test starts with an empty cache of laid-out pages: one test's pages are no other's.
    oldCacheHome_ = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cacheHome.qpath().toUtf8());
    writeFile(std::filesystem::path((lf::platform::configFolder() + "/drives.ini").toStdString()),
              ("[Drives]\nD=" + drive.qpath() + "\n").toStdString());
}

void CourseTest::TearDown() {
    QFile::remove(lf::platform::configFolder() + "/drives.ini");
    qputenv("XDG_CACHE_HOME", oldCacheHome_);
}

void CourseTest::makeFolder(const std::string& relative) const {
    std::filesystem::create_directories(host(relative));
}

QStringList CourseTest::linesOf(const QString& tag) const {
    QStringList out;
    for (const QString& line : log.lines) {
        if (line.startsWith(tag + " - "))
            out.append(line);
    }
    return out;
}

} // namespace lf::test
