// The print-ready run again after an earlier one, over a course of 30 decks x 60 slides (notes pages),
// with PDFs (PublishPDFs=1) and a PostScript print file per deck through the tests' private CUPS:
//   first      the run with an empty cache of laid-out pages (XDG_CACHE_HOME a fresh folder)
//   unchanged  the same run again: every deck's pages and print file come from the cache
//   one deck   the run again after one deck got new bytes (a slide more): that deck is laid out again
//   one, warm  the same after another deck changed, with LibreOffice started before the clock, as the
//              wizard starts it while the person is on page 4 or 5
// For each: seconds, the ratio against the first run, and how many decks said their pages were
// reused. The goal: unchanged <= 10% of the first run, one deck <= that deck's share + 10%.
// Usage: bench_print_rerun [decks] [slides]
#include "bench_course.h"
#include "bench_office.h"
#include "courserun/course_run.h"
#include "office/printing/office_printing.h"
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "printready/modPrintReady.h"
#include "private_cups.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace lf::bench;

int main(int argc, char** argv) {
    // Private configuration and cache folders: the user's settings, drive map and cache stay untouched.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_DATA_HOME", config.path().toUtf8());
    qputenv("XDG_CACHE_HOME", (config.path() + "/cache").toUtf8());
    QCoreApplication app(argc, argv);
    const QString unavailable = lf::test::PrivateCups::unavailableReason();
    if (!unavailable.isEmpty()) {
        std::fprintf(stderr, "bench_print_rerun: %s\n", qPrintable(unavailable));
        return 1;
    }
    lf::test::PrivateCups cups;

    const int deckCount = argc > 1 ? std::atoi(argv[1]) : 30;
    const int slideCount = argc > 2 ? std::atoi(argv[2]) : 60;
    QTemporaryDir rootDir(QDir::tempPath() + "/bench_print_rerun_XXXXXX");
    const fs::path root = rootDir.path().toStdString();
    const fs::path course = root / "course", work = root / "work", changed = root / "changed";
    for (const fs::path& f : {course, work, changed})
        fs::create_directories(f);
    std::printf("building %d decks x %d slides...\n", deckCount, slideCount);
    buildStorageCourse(course, deckCount, slideCount);
    buildStorageCourse(changed, 1, slideCount + 1);
    const std::vector<fs::path> decks = decksIn(course);

    lf::oplog::RecordingLogSink log;
    lf::platform::RecordingSleeper sleeper;
    lf::platform::RecordingPointer pointer;
    lf::platform::ScriptedMessageBoxes boxes;

    int reused = 0;
    bool ok = true;
    std::unique_ptr<lf::render::LibreOffice> warm;
    auto printReady = [&](const std::string& out) {
        fs::create_directories(root / out);
        lf::printready::PrintSwitches switches;
        switches.publishPDFs = true;
        log.lines.clear();
        lf::courserun::RunAlone(onDriveZ(work), "PRU", [&](lf::courserun::CourseRun& run) {
            lf::printready::RunPrintReady(run, onDriveZ(course), onDriveZ(root / out), true, true, false, "",
                                          lf::test::PrivateCups::psPrinter, lf::test::PrivateCups::psPrinter,
                                          lf::test::PrivateCups::pdfPrinter, switches, std::move(warm));
        });
        if (log.lines.isEmpty() || !log.lines.last().endsWith("they must be imported and zipped manually")) {
            std::fprintf(stderr, "the run did not complete:\n%s\n", qPrintable(log.lines.join("\n")));
            ok = false;
        }
        reused = static_cast<int>(log.lines.filter("unchanged since the last run: pages reused").size());
        // The changed decks (the first, then the second) have a slide more.
        const int changedDecks = out == "one" ? 1 : out == "warm" ? 2 : 0;
        for (std::size_t i = 0; i < decks.size(); ++i)
            ok = notesPagePdfsComplete({decks[i]}, root / out,
                                       slideCount + (static_cast<int>(i) < changedDecks ? 1 : 0),
                                       out.c_str()) &&
                 ok;
    };
    std::vector<std::pair<OfficeResult, int>> results;
    results.push_back({measureOffice("first", [&] { printReady("first"); }), 0});
    results.back().second = reused;
    results.push_back({measureOffice("unchanged", [&] { printReady("unchanged"); }), 0});
    results.back().second = reused;
    fs::copy_file(decksIn(changed).front(), decks.front(), fs::copy_options::overwrite_existing);
    results.push_back({measureOffice("one deck", [&] { printReady("one"); }), 0});
    results.back().second = reused;
    fs::copy_file(decksIn(changed).front(), decks[1], fs::copy_options::overwrite_existing);
    warm = lf::printing::startRenderer(nullptr);
    std::this_thread::sleep_for(std::chrono::seconds(5)); // the person on page 4 and 5
    results.push_back({measureOffice("one, warm", [&] { printReady("warm"); }), 0});
    results.back().second = reused;

    const double first = results.front().first.seconds;
    const double share = 1.0 / static_cast<double>(decks.size());
    std::printf("%zu decks x %d slides, notes pages, PDFs and PostScript print files\n", decks.size(),
                slideCount);
    std::printf("%-10s %10s %10s %8s %12s\n", "", "total s", "of first", "reused", "peak RSS MB");
    for (const auto& [r, n] : results)
        std::printf("%-10s %10.2f %9.1f%% %8d %12.0f\n", r.name, r.seconds, 100.0 * r.seconds / first, n,
                    r.peakMb);
    // The wizard (and lessonforge-run, which drives it) starts LibreOffice on page 4: the goal is the
    // warm run's.
    const double unchanged = results[1].first.seconds / first, oneDeck = results[3].first.seconds / first;
    std::printf("goal: unchanged <= 10%%: %s; one deck, warm <= %.1f%% + 10%%: %s; every PDF complete: %s\n",
                unchanged <= 0.10 ? "yes" : "NO", 100.0 * share, oneDeck <= share + 0.10 ? "yes" : "NO",
                ok ? "yes" : "NO");
    return ok ? 0 : 1;
}
