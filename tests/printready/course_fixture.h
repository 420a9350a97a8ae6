#pragma once
// A course folder on a mapped drive for the grayscale and zip tests: drive D: stands for a private
// temporary folder, decks are made with the test deck builder, and the operation log, message boxes,
// pointer, sleeps and yields are recorded.
#include "deck_builder.h"
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "test_support.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace lf::test {

// A deck of `slides` slides, each with a title, a body text box and a picture, and a notes page with
// the slide image and the notes text; the builder can be changed further before writing.
DeckBuilder courseDeck(int slides, const std::string& title = "Module");

// A notes page's slide image and notes text shapes.
std::string notesImageShape(int id);
std::string notesTextShape(int id, const std::string& text);

// The pages lessonforge-deck show reports for a deck, as parsed JSON text; empty on failure.
std::string deckShow(const std::filesystem::path& deck);

class CourseTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // D:\ + relative Windows-style path, and the host path of the same.
    static QString local(const QString& relative) { return "D:\\" + relative; }
    std::filesystem::path host(const std::string& relative) const { return drive.path() / relative; }
    void makeFolder(const std::string& relative) const;

    // Every log line, or those of one tag.
    QStringList linesOf(const QString& tag) const;

    TempDir drive;
    TempDir cacheHome; // XDG_CACHE_HOME while the test runs: the print engine's page cache
    lf::oplog::RecordingLogSink log;
    lf::platform::ScriptedMessageBoxes boxes;
    lf::platform::RecordingPointer pointer;
    lf::platform::RecordingSleeper sleeper;
    lf::platform::RecordingEventYield yields;

private:
    QByteArray oldCacheHome_;
};

} // namespace lf::test
