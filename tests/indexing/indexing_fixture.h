#pragma once
// The fixture of the operation tests: a fresh C: drive, the platform doubles, the log recorded, a
// working directory, and helpers to make course folders and templates on the drive.
#include "course_builder.h"
#include "indexing/modTagwise.h"
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "test_support.h"
#include "workfiles/working_files.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace lf::test {

class IndexingOperation : public ::testing::Test {
protected:
    void SetUp() override {
        log.lines.clear();
        const std::filesystem::path c = platform::driveFolder(QChar('C')).toStdString();
        for (const auto& entry : std::filesystem::directory_iterator(c))
            std::filesystem::remove_all(entry.path());
        makeFolder("C:\\syllabo");
        makeFolder("C:\\Out");
        writeWordTemplate(host("C:\\Templates\\Template.docx"));
    }
    static std::filesystem::path host(const QString& windowsPath) {
        const std::filesystem::path p = platform::toHostPath(windowsPath).path.toStdString();
        std::filesystem::create_directories(p.parent_path());
        return p;
    }
    static void makeFolder(const QString& windowsPath) {
        std::filesystem::create_directories(host(windowsPath));
    }
    static bool exists(const QString& windowsPath) { return std::filesystem::exists(host(windowsPath)); }
    void deck(const QString& folder, const std::string& name, const std::vector<SlideSpec>& slides) {
        makeFolder(folder);
        writeDeck(host(folder), name, slides);
    }
    // The lines logged under one tag, without the tag.
    QStringList linesOf(const QString& tag) const {
        QStringList out;
        for (const QString& line : log.lines)
            if (line.startsWith(tag + " - "))
                out << line.mid(tag.size() + 3);
        return out;
    }
    bool logged(const QString& line) const { return log.lines.contains(line); }
    std::string allLines() const { return log.lines.join("\n").toStdString(); }

    oplog::RecordingLogSink log;
    platform::ScriptedMessageBoxes boxes;
    platform::RecordingSleeper sleeper;
    platform::RecordingPointer pointer;
    platform::RecordingEventYield yields;
};

} // namespace lf::test
