#pragma once
// A drive T: on a temporary folder for the program's Windows-style paths, the platform doubles and a
// recording operation log.
#include "platform/doubles.h"
#include "platform/folders.h"
#include "platform/oplog.h"
#include "test_support.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>

namespace lf::test {

class DriveTTest : public ::testing::Test {
protected:
    void SetUp() override {
        driveT = temp / "driveT";
        std::filesystem::create_directories(driveT);
        writeFile(std::filesystem::path(platform::configFolder().toStdString()) / "drives.ini",
                  "[Drives]\nT=" + driveT.string() + "\n");
    }
    QStringList linesOf(const QString& tag) const {
        QStringList out;
        for (const QString& line : log.lines) {
            if (line.startsWith(tag + " - "))
                out.append(line.mid(tag.size() + 3));
        }
        return out;
    }

    TempDir temp;
    std::filesystem::path driveT;
    oplog::RecordingLogSink log;
    platform::ScriptedMessageBoxes boxes;
};

} // namespace lf::test
