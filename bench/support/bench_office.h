#pragma once
// What the office benchmarks share: one `soffice --convert-to` per file (the peer they are measured
// against), the memory of the processes a benchmark started, and what a PDF holds.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lf::bench {

// Runs a program with its output thrown away; its exit code, -1 when it did not run or end normally.
int runQuiet(const std::vector<std::string>& argv);

// The office's own converter: one process for one deck, notes pages to PDF into outdir, with the
// given private profile. Its exit code.
int convertNotesPagesToPdf(const std::filesystem::path& profile, const std::filesystem::path& deck,
                           const std::filesystem::path& outdir);

// The resident memory of every process below this one, summed, in kilobytes.
long descendantsRssKb();

// Samples descendantsRssKb() every 50 ms while it lives (with this process's own resident memory
// when asked: the whole process tree); peakMb() is the highest sum seen.
class MemorySampler {
public:
    explicit MemorySampler(bool withSelf = false);
    ~MemorySampler();
    MemorySampler(const MemorySampler&) = delete;
    MemorySampler& operator=(const MemorySampler&) = delete;
    double peakMb() const { return static_cast<double>(peak_) / 1024.0; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<long> peak_{0};
    std::thread thread_;
};

// One way of doing the work, timed: wall-clock seconds and the peak memory of what it started.
struct OfficeResult {
    const char* name;
    double seconds = 0;
    double peakMb = 0;
};
template <class F> OfficeResult measureOffice(const char* name, F&& f) {
    OfficeResult r{name};
    MemorySampler memory;
    const auto start = std::chrono::steady_clock::now();
    f();
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakMb = memory.peakMb();
    return r;
}

// The page count of a PDF and whether its first page is portrait, from pdfinfo; -1 pages when it
// cannot be read.
std::pair<int, bool> pdfPages(const std::filesystem::path& pdf);

// Whether every deck has its PDF (same stem) in the folder with one portrait notes page per slide;
// says which does not on standard error, under `name`.
bool notesPagePdfsComplete(const std::vector<std::filesystem::path>& decks,
                           const std::filesystem::path& folder, int slides, const char* name);

} // namespace lf::bench
