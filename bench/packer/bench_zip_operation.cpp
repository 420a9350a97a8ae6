// bench_zip_operation: the zip operation end to end against Info-ZIP zip over the same decks, side by
// side in one run, for a course of 30 decks and one of 300 (60 slides each: title, body text, a picture
// that does not compress, a notes page).
//   ours      RunZipPackaging from the course folder to an empty destination folder: staging copies of
//             the decks, packing the working directory, delivery and cleanup; no sleep is recorded
//   Info-ZIP  zip -q -j -X of the course's decks straight into the destination folder
// Each measurement is repeated and the best wall-clock time kept.
//   bench_zip_operation [rounds] [slides]
#include "bench_course.h"
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "printready/modZipIt.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using namespace lf::bench;

namespace {

struct Side {
    Time time;
    std::uintmax_t zipBytes = 0;
};

} // namespace

int main(int argc, char** argv) {
    // A private configuration folder, so that the settings and drive map of the user stay untouched.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_DATA_HOME", config.path().toUtf8());
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int slides = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;

    lf::oplog::RecordingLogSink log;
    lf::platform::RecordingSleeper sleeper;
    lf::platform::RecordingPointer pointer;
    lf::platform::RecordingEventYield yields;
    lf::platform::ScriptedMessageBoxes boxes;

    std::printf("%6s %8s %12s %12s %7s %12s %12s\n", "decks", "MB", "ours ms", "Info-ZIP ms", "ratio",
                "ours bytes", "zip bytes");
    bool allWithin = true;
    for (const int deckCount : {30, 300}) {
        QTemporaryDir rootDir(QDir::tempPath() + "/bench_zip_operation_XXXXXX");
        const fs::path root = rootDir.path().toStdString();
        const fs::path course = root / "course", work = root / "work", out = root / "out";
        for (const fs::path& f : {course, work, out})
            fs::create_directories(f);
        buildStorageCourse(course, deckCount, slides);
        const std::vector<fs::path> decks = decksIn(course);
        std::uintmax_t bytes = 0;
        QStringList zipArgs{"-q", "-j", "-X", QString::fromStdString((out / "infozip.zip").string())};
        for (const fs::path& d : decks) {
            bytes += fs::file_size(d);
            zipArgs.append(QString::fromStdString(d.string()));
        }

        Side ours, infoZip;
        for (int r = 0; r < rounds; ++r) {
            fs::remove(out / "Course.zip");
            log.lines.clear();
            measure(ours.time, [&] {
                lf::printready::RunZipPackaging(onDriveZ(course), onDriveZ(out), onDriveZ(work), true,
                                                "Course.zip");
            });
            if (log.lines.isEmpty() || log.lines.last() != "Zip - Zipping operations complete" ||
                !fs::exists(out / "Course.zip") || !sleeper.durations.empty()) {
                std::printf("the zip operation did not complete without a pause:\n%s\n",
                            qPrintable(log.lines.join("\n")));
                return 1;
            }

            fs::remove(out / "infozip.zip");
            bool zipped = false;
            measure(infoZip.time, [&] {
                QProcess zip;
                zip.start("zip", zipArgs);
                zipped = zip.waitForFinished(-1) && zip.exitStatus() == QProcess::NormalExit &&
                         zip.exitCode() == 0;
            });
            if (!zipped) {
                std::printf("Info-ZIP zip failed\n");
                return 1;
            }
        }
        ours.zipBytes = fs::file_size(out / "Course.zip");
        infoZip.zipBytes = fs::file_size(out / "infozip.zip");
        const double ratio = ours.time.wall / infoZip.time.wall;
        allWithin = allWithin && ratio <= 1.2;
        std::printf("%6d %8.1f %12.1f %12.1f %7.2f %12ju %12ju\n", deckCount,
                    static_cast<double>(bytes) / 1e6, ours.time.wall * 1e3, infoZip.time.wall * 1e3, ratio,
                    ours.zipBytes, infoZip.zipBytes);
        std::fflush(stdout);
    }
    std::printf("ratio (ours / Info-ZIP) %s 1.2 at every size\n", allWithin ? "within" : "NOT within");
    return allWithin ? 0 : 2;
}
