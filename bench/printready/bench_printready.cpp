// The grayscale-and-resize and zip operations over a course of 30 decks x 60 slides (title, body
// text, a picture, a notes page), each against copying the same files, measured side by side in one
// run:
//   grayscale  RunGrayscaleResize over the course folder, every deck saved in place
//   zip        RunZipPackaging from the course folder to a destination folder: staging copies of the
//              decks, packing the working directory, delivery and cleanup
//   copy       copying the course's decks to another folder
// Each measurement is repeated and the best time kept.
// Usage: bench_printready [decks] [slides]
#include "bench_course.h"
#include "deck_builder.h"
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "printready/modRandG.h"
#include "printready/modZipIt.h"
#include "workfiles/working_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace lf::test;
using namespace lf::bench;

namespace {

// Wall-clock seconds of one call; *cpu gets the processor seconds it used.
template <class F> double seconds(F&& f, double* cpu = nullptr) {
    const std::clock_t startCpu = std::clock();
    const auto start = std::chrono::steady_clock::now();
    f();
    if (cpu)
        *cpu = static_cast<double>(std::clock() - startCpu) / CLOCKS_PER_SEC;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    // A private configuration folder, so that the settings and drive map of the user stay untouched.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_DATA_HOME", config.path().toUtf8());
    QCoreApplication app(argc, argv);

    const int deckCount = argc > 1 ? std::atoi(argv[1]) : 30;
    const int slideCount = argc > 2 ? std::atoi(argv[2]) : 60;
    QTemporaryDir rootDir(QDir::tempPath() + "/bench_printready_XXXXXX");
    const fs::path root = rootDir.path().toStdString();
    const fs::path course = root / "course", gray = root / "gray", copies = root / "copies",
                   work = root / "work", out = root / "out";
    for (const fs::path& f : {course, gray, copies, work, out})
        fs::create_directories(f);

    std::printf("building %d decks x %d slides...\n", deckCount, slideCount);
    buildStorageCourse(course, deckCount, slideCount);
    const std::vector<fs::path> decks = decksIn(course);
    std::uintmax_t bytes = 0;
    for (const fs::path& d : decks)
        bytes += fs::file_size(d);
    std::printf("course: %zu decks, %.1f MB\n", decks.size(), static_cast<double>(bytes) / 1e6);

    lf::oplog::RecordingLogSink log;
    lf::platform::RecordingSleeper sleeper;
    lf::platform::RecordingPointer pointer;
    lf::platform::RecordingEventYield yields;
    lf::platform::ScriptedMessageBoxes boxes;

    const int rounds = 5;
    double grayTime = 1e9, zipTime = 1e9, copyTime = 1e9, grayCpu = 1e9, zipCpu = 1e9, cpu = 0;
    bool ok = true;
    for (int r = 0; r < rounds; ++r) {
        copyTime = std::min(copyTime, seconds([&] { copyCourse(decks, copies); }));

        // The operation changes the decks: each round works on a fresh copy, made outside the timing.
        copyCourse(decks, gray);
        log.lines.clear();
        grayTime = std::min(
            grayTime,
            seconds([&] { lf::printready::RunGrayscaleResize(onDriveZ(gray), onDriveZ(work), true); }, &cpu));
        grayCpu = std::min(grayCpu, cpu);
        ok = ok && !log.lines.isEmpty() && log.lines.last() == "Resize - Resize and grayscale complete";

        fs::remove(out / "Course.zip");
        log.lines.clear();
        zipTime =
            std::min(zipTime, seconds(
                                  [&] {
                                      lf::printready::RunZipPackaging(onDriveZ(course), onDriveZ(out),
                                                                      onDriveZ(work), true, "Course.zip");
                                  },
                                  &cpu));
        zipCpu = std::min(zipCpu, cpu);
        ok = ok && !log.lines.isEmpty() && log.lines.last() == "Zip - Zipping operations complete" &&
             fs::exists(out / "Course.zip");
    }
    if (!ok) {
        std::printf("an operation did not complete:\n%s\n", qPrintable(log.lines.join("\n")));
        return 1;
    }
    std::printf("copy            %8.1f ms\n", copyTime * 1e3);
    std::printf(
        "grayscale       %8.1f ms   ratio %.2fx copy (processor %.1f ms; each deck is saved durably)\n",
        grayTime * 1e3, grayTime / copyTime, grayCpu * 1e3);
    std::printf("zip             %8.1f ms   ratio %.2fx copy (processor %.1f ms; zip file %.1f MB)\n",
                zipTime * 1e3, zipTime / copyTime, zipCpu * 1e3,
                static_cast<double>(fs::file_size(out / "Course.zip")) / 1e6);
    return 0;
}
