#pragma once
// What the benchmarks share: the 30 x 60 storage course they measure, the reading floor (inflating
// slide parts with libzip and parsing them with pugixml), copying the course, and timing.
#include <QString>

#include <zip.h>

#include <filesystem>
#include <string>
#include <vector>

namespace lf::bench {

// decks x slides: per slide a title placeholder "Rectangle 2", a body with plain and bold sentences,
// a picture that does not compress, two tagged words and a notes page; decks named 01_Module.pptx ...
void buildStorageCourse(const std::filesystem::path& folder, int decks, int slides);

// The program's Windows-style text for a host path, through the drive Z: (the host root).
QString onDriveZ(const std::filesystem::path& host);

// The .pptx files of a folder, sorted by name.
std::vector<std::filesystem::path> decksIn(const std::filesystem::path& folder);

// An entry of an open zip, inflated with libzip.
std::string readEntry(zip_t* zip, zip_uint64_t index);

// The floor of reading slides: each slide part, its relationships and the custom XML parts inflated
// with libzip and parsed with pugixml. Returns a value that depends on the work done.
std::size_t floorRead(const std::vector<std::filesystem::path>& decks);

// Copies the decks into a folder; durable: each copy synced to disk, as a save is.
void copyCourse(const std::vector<std::filesystem::path>& decks, const std::filesystem::path& to,
                bool durable = false);

// Wall-clock and processor seconds of the best of several runs.
struct Time {
    double wall = 1e9, cpu = 1e9;
};
double cpuNow();
template <class F> void measure(Time& best, F&& f);

} // namespace lf::bench

#include <chrono>

template <class F> void lf::bench::measure(Time& best, F&& f) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = cpuNow();
    f();
    best.cpu = std::min(best.cpu, cpuNow() - cpuStart);
    best.wall =
        std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
