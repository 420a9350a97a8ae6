// The print-ready run over a course of decks x slides (notes pages), each run with an empty page cache
// (a first run; bench_print_rerun times the runs after it), against what a script does and
// against what the machine can do at best, side by side in one run:
//   peer        what a script does: one `soffice --headless --convert-to pdf` call over every deck
//               (notes pages, a private profile made before the clock starts, as a user's would be),
//               then `cupsfilter` per PDF with the printer's PPD, one after the other
//   floor       the least time any way of laying the decks out and filtering them can take here:
//               the decks laid out on warm instances (one, and one per core: the faster counts),
//               and the printer's filter chain over the PDFs, each measured alone, with its
//               processor time; floor = max(layout wall time, (layout + chain processor time) /
//               processors). The first is what layout alone takes; the second is the whole work
//               spread over every processor with nothing idle. Our process's own work (reading the
//               decks, the runs' checks) and the instances' start are not in it.
//   run --pdf   RunPrintReady with "Print as PDF too" and PublishPDFs=1: a print file and a PDF per deck
//   run         the same without PDFs: a print file per deck
// The printer is a queue of the benchmark's own CUPS server (the tests' private server): its PCL XL
// laser printer when the generic driver is installed, else its PostScript one. For each: seconds,
// seconds per deck, processor seconds (ours and every process we started), seconds until the first
// print file is there, and the peak resident memory of the process tree (this process, LibreOffice,
// the filters). Then the runs' ratios to the peer (at most 0.5 wanted) and to the floor (at most
// 1.3), and whether the peak stayed under 1 GB. Every PDF is checked to hold one portrait notes page
// per slide, every print file to be in the printer's language.
// Usage: bench_print_ready [decks (30; 10, 30 and 100 are the sizes compared)] [slides (60)]
#include "bench_course.h"
#include "bench_office.h"
#include "office/render/libreoffice.h"
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "platform/printing.h"
#include "printready/modPrintReady.h"
#include "private_cups.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace lf::bench;

namespace {

constexpr const char* soffice = "/usr/lib/libreoffice/program/soffice";
constexpr const char* cupsfilter = "/usr/sbin/cupsfilter";

fs::path withExtension(const fs::path& folder, const fs::path& deck, const char* extension) {
    fs::path p = folder / deck.filename();
    p.replace_extension(extension);
    return p;
}

// The processor seconds of this process alone.
double ownSeconds() {
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    return static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
           static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
}

// The processor seconds of this process and of every process it started and waited for.
double processorSeconds() {
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    rusage self{}, children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) +
           seconds(children.ru_stime);
}

// The processor seconds a running process has taken so far.
double processSeconds(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t end = line.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream rest(line.substr(end + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::atof(field.c_str());
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Runs a program with its standard output into `out`; its exit code, -1 when it did not run.
int runInto(const std::vector<std::string>& argv, const fs::path& out) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int spawned = posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Measured {
    std::string name;
    double seconds = 0;
    double cpu = 0;
    double own = 0;        // of which this process's (the memory sampler's included)
    double firstFile = -1; // seconds until the first print file appeared; -1: not watched
    double peakMb = 0;
};

// Times f: wall and processor seconds, the process tree's peak memory, and when `watched` is given
// the moment the first .prn appears in it.
template <class F> Measured measure(const std::string& name, const fs::path& watched, F&& f) {
    Measured m{name};
    MemorySampler memory(true);
    std::atomic<bool> done{false};
    const auto start = std::chrono::steady_clock::now();
    std::thread watcher([&] {
        while (!done && !watched.empty()) {
            std::error_code error;
            for (const auto& e : fs::directory_iterator(watched, error))
                if (e.path().extension() == ".prn" && m.firstFile < 0)
                    m.firstFile =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (m.firstFile >= 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const double cpu = processorSeconds(), own = ownSeconds();
    f();
    m.own = ownSeconds() - own;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpu = processorSeconds() - cpu;
    done = true;
    watcher.join();
    m.peakMb = memory.peakMb();
    // BENCH_TIMELINE=1: when each file was written, from the start.
    if (std::getenv("BENCH_TIMELINE") != nullptr && !watched.empty()) {
        std::vector<std::pair<double, std::string>> written;
        const auto now = fs::file_time_type::clock::now();
        for (const auto& e : fs::directory_iterator(watched))
            written.emplace_back(
                m.seconds - std::chrono::duration<double>(now - fs::last_write_time(e.path())).count(),
                e.path().filename().string());
        std::sort(written.begin(), written.end());
        for (const auto& [at, file] : written)
            std::printf("  %s %7.2f %s\n", name.c_str(), at, file.c_str());
    }
    return m;
}

// The decks laid out on `instances` warm instances (each started and given a deck before the
// clock), a thread per instance taking the next deck; wall and the instances' processor seconds.
struct Layout {
    double seconds = 0;
    double cpu = 0;
};
Layout layOut(const std::vector<fs::path>& decks, const fs::path& out, int instances) {
    lf::render::RenderOptions options;
    options.instances = instances;
    options.renewAfterFiles = 0; // the same instances from the first deck to the last
    options.renewAboveResident = 0;
    lf::render::LibreOffice office(options);
    auto onEvery = [&](auto&& body) {
        std::vector<std::thread> threads;
        for (int i = 0; i < instances; ++i)
            threads.emplace_back(body);
        for (std::thread& t : threads)
            t.join();
    };
    onEvery([&] { office.renderPdf(decks.front(), out / "warm.pdf", lf::render::PageLayout::NotesPages); });
    fs::remove(out / "warm.pdf");
    const std::vector<int> pids = office.instanceProcessIds();
    double before = 0;
    for (int pid : pids)
        before += processSeconds(pid);
    std::atomic<std::size_t> next{0};
    const auto start = std::chrono::steady_clock::now();
    onEvery([&] {
        for (std::size_t i; (i = next++) < decks.size();)
            office.renderPdf(decks[i], withExtension(out, decks[i], ".pdf"),
                             lf::render::PageLayout::NotesPages);
    });
    Layout l;
    l.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (int pid : pids)
        l.cpu += processSeconds(pid);
    l.cpu -= before;
    return l;
}

// Every deck's print file is in the printer's language.
bool printFilesIn(const std::vector<fs::path>& decks, const fs::path& folder, bool pclXl, const char* name) {
    for (const fs::path& d : decks) {
        std::ifstream in(withExtension(folder, d, ".prn"), std::ios::binary);
        std::string head(200, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(in.gcount()));
        const bool ok =
            pclXl ? head.find("ENTER LANGUAGE = PCLXL") != std::string::npos : head.starts_with("%!PS");
        if (!ok) {
            std::fprintf(stderr, "%s: %s is not a %s print file\n", name, d.filename().c_str(),
                         pclXl ? "PCL XL" : "PostScript");
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Private configuration and cache folders, so that the settings, drive map and cache of the user stay
    // untouched.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_DATA_HOME", config.path().toUtf8());
    QCoreApplication app(argc, argv);
    const QString unavailable = lf::test::PrivateCups::unavailableReason();
    if (!unavailable.isEmpty()) {
        std::fprintf(stderr, "bench_print_ready: %s\n", qPrintable(unavailable));
        return 1;
    }
    lf::test::PrivateCups cups(true);
    const bool pclXl = lf::test::PrivateCups::hasPclXlPrinter();
    const QString printer = pclXl ? lf::test::PrivateCups::pclXlPrinter : lf::test::PrivateCups::psPrinter;
    const std::string ppd = cups.ppdOf(printer).string();

    const int deckCount = argc > 1 ? std::atoi(argv[1]) : 30;
    const int slideCount = argc > 2 ? std::atoi(argv[2]) : 60;
    const int processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    QTemporaryDir rootDir(QDir::tempPath() + "/bench_print_ready_XXXXXX");
    const fs::path root = rootDir.path().toStdString();
    const fs::path course = root / "course", peer = root / "peer", floor1 = root / "floor1",
                   floorN = root / "floorN", chain = root / "chain", runPdf = root / "run-pdf",
                   run = root / "run", work = root / "work", profile = root / "profile";
    for (const fs::path& f : {course, peer, floor1, floorN, chain, runPdf, run, work})
        fs::create_directories(f);
    std::printf("building %d decks x %d slides...\n", deckCount, slideCount);
    buildStorageCourse(course, deckCount, slideCount);
    const std::vector<fs::path> decks = decksIn(course);

    lf::oplog::RecordingLogSink log;
    lf::platform::RecordingSleeper sleeper;
    lf::platform::RecordingPointer pointer;
    lf::platform::ScriptedMessageBoxes boxes;

    std::vector<Measured> results;
    convertNotesPagesToPdf(profile, decks.front(), root); // the peer's profile, made before the clock
    results.push_back(measure("peer", peer, [&] {
        std::vector<std::string> convert = {
            soffice,
            "-env:UserInstallation=file://" + profile.string(),
            "--headless",
            "--norestore",
            "--convert-to",
            "pdf:impress_pdf_Export:{\"ExportNotesPages\":{\"type\":\"boolean\",\"value\":\"true\"},"
            "\"ExportOnlyNotesPages\":{\"type\":\"boolean\",\"value\":\"true\"}}",
            "--outdir",
            peer.string()};
        for (const fs::path& d : decks)
            convert.push_back(d.string());
        if (runQuiet(convert) != 0)
            std::fprintf(stderr, "peer: soffice failed\n");
        for (const fs::path& d : decks)
            if (runInto({cupsfilter, "-p", ppd, "-e", "-i", "application/pdf", "-m", "printer/foo",
                         withExtension(peer, d, ".pdf").string()},
                        withExtension(peer, d, ".prn")) != 0)
                std::fprintf(stderr, "peer: cupsfilter failed on %s\n", d.filename().c_str());
    }));

    // The floor's parts, each alone.
    const Layout one = layOut(decks, floor1, 1);
    const Layout perCore = processors > 1 ? layOut(decks, floorN, processors) : one;
    const Layout& best = perCore.seconds < one.seconds ? perCore : one;
    const Measured filters = measure("chain", {}, [&] {
        for (const fs::path& d : decks)
            lf::platform::writePrintFile(printer,
                                         QString::fromStdString(withExtension(floor1, d, ".pdf").string()),
                                         QString::fromStdString(withExtension(chain, d, ".prn").string()));
    });
    const double floor = std::max(best.seconds, (best.cpu + filters.cpu) / processors);

    // Each run is a first run: a cache of laid-out pages of its own, empty.
    int runs = 0;
    auto printReady = [&](const fs::path& out, bool pdfs) {
        qputenv("XDG_CACHE_HOME", (config.path() + "/cache" + QString::number(++runs)).toUtf8());
        lf::printready::PrintSwitches switches;
        switches.publishPDFs = true;
        log.lines.clear();
        lf::printready::RunPrintReady(onDriveZ(course), onDriveZ(out), pdfs, onDriveZ(work), true, false, "",
                                      printer, printer, lf::test::PrivateCups::pdfPrinter, switches);
        if (log.lines.isEmpty() || !log.lines.last().endsWith("they must be imported and zipped manually"))
            std::fprintf(stderr, "the run did not complete:\n%s\n", qPrintable(log.lines.join("\n")));
    };
    results.push_back(measure("run --pdf", runPdf, [&] { printReady(runPdf, true); }));
    results.push_back(measure("run", run, [&] { printReady(run, false); }));

    const bool ok = notesPagePdfsComplete(decks, peer, slideCount, "peer") &&
                    notesPagePdfsComplete(decks, floor1, slideCount, "floor") &&
                    notesPagePdfsComplete(decks, runPdf, slideCount, "run --pdf") &&
                    printFilesIn(decks, peer, pclXl, "peer") && printFilesIn(decks, chain, pclXl, "chain") &&
                    printFilesIn(decks, runPdf, pclXl, "run --pdf") && printFilesIn(decks, run, pclXl, "run");

    std::printf("%zu decks x %d slides, notes pages, %d processors, printer %s\n", decks.size(), slideCount,
                processors, pclXl ? "PCL XL" : "PostScript");
    std::printf("floor parts: layout on 1 warm instance %.2f s (%.2f CPU-s), on %d %.2f s (%.2f CPU-s); "
                "filter chains %.2f s (%.2f CPU-s); floor %.2f s\n",
                one.seconds, one.cpu, processors, perCore.seconds, perCore.cpu, filters.seconds, filters.cpu,
                floor);
    std::printf("%-10s %9s %9s %9s %9s %11s %9s %9s %9s\n", "", "total s", "s / deck", "CPU s", "ours",
                "1st file s", "peak MB", "/ peer", "/ floor");
    bool fast = true, small = true;
    for (const Measured& r : results) {
        std::printf("%-10s %9.2f %9.3f %9.2f %9.2f %11.2f %9.0f %9.2f %9.2f\n", r.name.c_str(), r.seconds,
                    r.seconds / static_cast<double>(decks.size()), r.cpu, r.own, r.firstFile, r.peakMb,
                    r.seconds / results.front().seconds, r.seconds / floor);
        if (r.name != "peer") {
            fast = fast && r.seconds * 2 <= results.front().seconds && r.seconds <= 1.3 * floor;
            small = small && r.peakMb <= 1024;
        }
    }
    std::printf("runs at most half the peer's time and 1.3x the floor: %s; peak at most 1 GB: %s; "
                "run without PDFs no slower than with: %s\n",
                fast ? "yes" : "NO", small ? "yes" : "NO",
                results[2].seconds <= results[1].seconds * 1.05 ? "yes" : "NO");
    std::printf("every PDF one portrait notes page per slide, every print file %s: %s\n",
                pclXl ? "PCL XL" : "PostScript", ok ? "yes" : "NO");
    return ok ? 0 : 1;
}
