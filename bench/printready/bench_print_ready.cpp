// The print-ready run over a course of 30 decks x 60 slides (notes pages), with PDFs, against the
// office's own converter making the same PDFs, side by side in one run:
//   convert     one `soffice --headless --convert-to` process per deck, notes pages to PDF (the
//               profile made before the clock starts, as a user's would be)
//   run         RunPrintReady with "Print as PDF too" and PublishPDFs=1: a print file through a
//               PostScript printer's filter chain and a PDF per deck, the decks printed one by one
//   run (bg)    the same with UseBackgroundPrinting=1: the decks queued on one warm instance per core
// The printer is a CUPS server of the benchmark's own (the tests' private server). For each: seconds
// per deck, the ratio against convert, and the peak resident memory of the processes it started.
// Every PDF is checked to hold one portrait notes page per slide, every print file to be PostScript.
// Usage: bench_print_ready [decks] [slides]
#include "bench_course.h"
#include "bench_office.h"
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "printready/modPrintReady.h"
#include "private_cups.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace lf::bench;

namespace {

// The program's Windows-style text for a host path, through the drive Z: (the host root).
QString onDriveZ(const fs::path& host) {
    return "Z:" + QString::fromStdString(host.string()).replace('/', '\\');
}

// Every deck's print file is PostScript.
bool printFilesArePostScript(const std::vector<fs::path>& decks, const fs::path& folder, const char* name) {
    for (const fs::path& d : decks) {
        fs::path prn = folder / d.filename();
        prn.replace_extension(".prn");
        std::ifstream in(prn, std::ios::binary);
        char head[4] = {};
        if (!in.read(head, 4) || std::string(head, 4) != "%!PS") {
            std::fprintf(stderr, "%s: %s is not a PostScript print file\n", name, prn.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // A private configuration folder, so that the settings and drive map of the user stay untouched.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_DATA_HOME", config.path().toUtf8());
    QCoreApplication app(argc, argv);
    const QString unavailable = lf::test::PrivateCups::unavailableReason();
    if (!unavailable.isEmpty()) {
        std::fprintf(stderr, "bench_print_ready: %s\n", qPrintable(unavailable));
        return 1;
    }
    lf::test::PrivateCups cups;

    const int deckCount = argc > 1 ? std::atoi(argv[1]) : 30;
    const int slideCount = argc > 2 ? std::atoi(argv[2]) : 60;
    QTemporaryDir rootDir(QDir::tempPath() + "/bench_print_ready_XXXXXX");
    const fs::path root = rootDir.path().toStdString();
    const fs::path course = root / "course", convert = root / "convert", run = root / "run",
                   background = root / "background", work = root / "work", profile = root / "profile";
    for (const fs::path& f : {course, convert, run, background, work})
        fs::create_directories(f);
    std::printf("building %d decks x %d slides...\n", deckCount, slideCount);
    buildStorageCourse(course, deckCount, slideCount);
    const std::vector<fs::path> decks = decksIn(course);

    lf::oplog::RecordingLogSink log;
    lf::platform::RecordingSleeper sleeper;
    lf::platform::RecordingPointer pointer;
    lf::platform::ScriptedMessageBoxes boxes;

    convertNotesPagesToPdf(profile, decks.front(), root);
    std::vector<OfficeResult> results;
    results.push_back(measureOffice("convert", [&] {
        for (const fs::path& d : decks)
            if (convertNotesPagesToPdf(profile, d, convert) != 0)
                std::fprintf(stderr, "convert: soffice failed on %s\n", d.c_str());
    }));
    auto printReady = [&](const fs::path& out, bool inBackground) {
        lf::printready::PrintSwitches switches;
        switches.useBackgroundPrinting = inBackground;
        switches.publishPDFs = true;
        log.lines.clear();
        lf::printready::RunPrintReady(onDriveZ(course), onDriveZ(out), true, onDriveZ(work), true, false, "",
                                      lf::test::PrivateCups::psPrinter, lf::test::PrivateCups::psPrinter,
                                      lf::test::PrivateCups::pdfPrinter, switches);
        if (log.lines.isEmpty() || !log.lines.last().endsWith("they must be imported and zipped manually"))
            std::fprintf(stderr, "the run did not complete:\n%s\n", qPrintable(log.lines.join("\n")));
    };
    results.push_back(measureOffice("run", [&] { printReady(run, false); }));
    results.push_back(measureOffice("run (bg)", [&] { printReady(background, true); }));

    const bool ok = notesPagePdfsComplete(decks, convert, slideCount, "convert") &&
                    notesPagePdfsComplete(decks, run, slideCount, "run") &&
                    printFilesArePostScript(decks, run, "run") &&
                    notesPagePdfsComplete(decks, background, slideCount, "run (bg)") &&
                    printFilesArePostScript(decks, background, "run (bg)");
    std::printf("%zu decks x %d slides, notes pages, %u processors; the runs also write a PostScript print "
                "file per deck\n",
                decks.size(), slideCount, std::thread::hardware_concurrency());
    std::printf("%-9s %10s %10s %12s %14s\n", "", "total s", "s / deck", "speed-up", "peak RSS MB");
    for (const OfficeResult& r : results)
        std::printf("%-9s %10.2f %10.3f %11.2fx %14.0f\n", r.name, r.seconds,
                    r.seconds / static_cast<double>(decks.size()), results.front().seconds / r.seconds,
                    r.peakMb);
    std::printf("every PDF one portrait notes page per slide, every print file PostScript: %s\n",
                ok ? "yes" : "NO");
    return ok ? 0 : 1;
}
