// The deck lock: two programs that change one deck take turns, so neither loses the other's change;
// one that waits longer than the bounded wait is refused and changes nothing.
#include "deck_builder.h"
#include "office/presentation/presentation.h"
#include "platform/doubles.h"
#include "test_support.h"

#include <QProcess>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/wait.h>
#include <unistd.h>

using namespace lf::ppt;
using namespace lf::test;

namespace {

std::filesystem::path lectureDeck(const TempDir& dir) {
    DeckBuilder b;
    Rect r{emuPt(10), emuPt(20), emuPt(300), emuPt(40)};
    for (int i = 0; i < 6; ++i) {
        SlideSpec slide;
        slide.shapes = {autoShape(2, "Rectangle 2", r, paragraph(run("Slide text", true)))};
        slide.customXml = {"<t><indexword>Existing" + std::to_string(i) + "</indexword></t>"};
        b.slides.push_back(slide);
    }
    const std::filesystem::path file = dir / "05_Locking.pptx";
    b.write(file);
    return file;
}

// Starts each command as a lessonforge-deck process held at a barrier (a pipe none of them can read
// until every one is started), lets them go together and returns their exit statuses.
std::vector<int> runTogether(const std::vector<std::vector<std::string>>& commands) {
    int barrier[2];
    EXPECT_EQ(::pipe(barrier), 0);
    std::vector<pid_t> children;
    for (const std::vector<std::string>& command : commands) {
        std::vector<char*> argv{const_cast<char*>(LF_DECK_TOOL)};
        for (const std::string& arg : command)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(barrier[1]);
            char go;
            while (::read(barrier[0], &go, 1) < 0) {
            }
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, STDOUT_FILENO);
            ::execv(LF_DECK_TOOL, argv.data());
            ::_exit(127);
        }
        children.push_back(pid);
    }
    ::close(barrier[0]);
    ::close(barrier[1]); // every child reads end-of-file at once
    std::vector<int> statuses;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return statuses;
}

std::string taggedWords(const std::filesystem::path& file) {
    QProcess p;
    p.start(QString::fromUtf8(LF_DECK_TOOL), {"tags", QString::fromStdString(file.string())});
    EXPECT_TRUE(p.waitForFinished(60000));
    return p.readAllStandardOutput().toStdString();
}

} // namespace

TEST(DeckLock, TwoWritersOfOneDeckLoseNoChange) {
    TempDir dir;
    const std::filesystem::path file = lectureDeck(dir);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string first = "First" + std::to_string(round);
        const std::string second = "Second" + std::to_string(round);
        EXPECT_EQ(runTogether({{"tag", file.string(), "2", first}, {"tag", file.string(), "2", second}}),
                  std::vector<int>({0, 0}));
        const std::string words = taggedWords(file);
        EXPECT_NE(words.find("2\t" + first + "\n"), std::string::npos) << words;
        EXPECT_NE(words.find("2\t" + second + "\n"), std::string::npos) << words;
    }

    // The grayscale and notes layout of one writer and the tag of another both stay.
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("gray-notes round " + std::to_string(round));
        const std::filesystem::path deck = lectureDeck(dir);
        const std::string word = "Gray" + std::to_string(round);
        EXPECT_EQ(runTogether({{"gray-notes", deck.string()}, {"tag", deck.string(), "4", word}}),
                  std::vector<int>({0, 0}));
        EXPECT_NE(taggedWords(deck).find("4\t" + word + "\n"), std::string::npos);
        Application app;
        Presentation opened = app.presentations().open(deck, true);
        for (const Slide& slide : opened.slides()) {
            EXPECT_TRUE(slide.hasNotesPage());
            EXPECT_EQ(slide.shapes().item(1).blackWhiteMode(), office::msoBlackWhiteGrayScale);
        }
    }
}

TEST(DeckLock, ASecondWriterWaitsTheBoundedWaitThenIsRefusedAndChangesNothing) {
    TempDir dir;
    const std::filesystem::path file = lectureDeck(dir);
    lf::platform::RecordingSleeper sleeper; // the wait goes through the program's sleeps

    Application holder;
    Presentation held = holder.presentations().open(file);
    const std::string before = readFile(file);
    Application other;
    try {
        Presentation second = other.presentations().open(file);
        second.slides().item(1).addCustomerData("<t><indexword>Lost</indexword></t>");
        second.save();
        FAIL() << "a second writer opened the deck";
    } catch (const PresentationError& e) {
        EXPECT_NE(std::string(e.what()).find("the deck is being changed by another program"),
                  std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("05_Locking.pptx"), std::string::npos) << e.what();
    }
    EXPECT_EQ(std::accumulate(sleeper.durations.begin(), sleeper.durations.end(), 0), kDeckLockWaitMs);
    EXPECT_EQ(readFile(file), before);

    // A reader neither waits nor is refused.
    const std::size_t sleeps = sleeper.durations.size();
    EXPECT_EQ(other.presentations().open(file, true).slides().count(), 6);
    EXPECT_EQ(sleeper.durations.size(), sleeps);

    // The holder's save puts a new file at the path; the lock goes with it.
    held.slides().item(1).addCustomerData("<t><indexword>Kept</indexword></t>");
    held.save();
    EXPECT_THROW(other.presentations().open(file), PresentationError);
    const std::string saved = readFile(file);
    EXPECT_NE(saved, before);
    EXPECT_EQ(readFile(file), saved);

    // Closed, the deck is anyone's again.
    held.close();
    sleeper.durations.clear();
    Presentation next = other.presentations().open(file);
    EXPECT_TRUE(sleeper.durations.empty());
    EXPECT_EQ(next.slides().item(1).customerData().size(), 2u);
}
