// Notes-page PDFs of a course of 30 decks x 60 slides (title, body text, a picture, a notes page),
// three ways side by side in one run:
//   convert   one `soffice --headless --convert-to` process per deck, the notes-pages filter options
//             given as JSON, all with one private profile (made before the clock starts)
//   warm 1    the renderer with one warm instance, the decks one after another (its start counted)
//   warm 2    the renderer with two warm instances, two threads taking the decks (their starts counted)
// For each: seconds per deck, the ratio against convert, and the peak resident memory of the office
// processes this program started (summed over them, sampled from /proc every 50 ms). Every PDF is
// checked to hold one portrait notes page per slide.
// Usage: bench_render [decks] [slides]
#include "bench_course.h"
#include "bench_office.h"
#include "office/render/libreoffice.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace lf::bench;
using lf::render::LibreOffice;
using lf::render::PageLayout;
using lf::render::RenderOptions;

namespace {} // namespace

int main(int argc, char** argv) {
    const int deckCount = argc > 1 ? std::atoi(argv[1]) : 30;
    const int slideCount = argc > 2 ? std::atoi(argv[2]) : 60;
    std::string pattern = (fs::temp_directory_path() / "bench_render_XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        return 1;
    }
    const fs::path root = pattern;
    const fs::path course = root / "course", convert = root / "convert", warm1 = root / "warm1",
                   warm2 = root / "warm2", profile = root / "profile";
    for (const fs::path& f : {course, convert, warm1, warm2}) {
        fs::create_directories(f);
    }
    std::printf("building %d decks x %d slides...\n", deckCount, slideCount);
    buildStorageCourse(course, deckCount, slideCount);
    const std::vector<fs::path> decks = decksIn(course);

    auto convertOne = [&](const fs::path& deck, const fs::path& outdir) {
        return convertNotesPagesToPdf(profile, deck, outdir);
    };
    // The profile is made once, before the clock starts, as a user's would be.
    convertOne(decks.front(), root);

    std::vector<OfficeResult> results;
    results.push_back(measureOffice("convert", [&] {
        for (const fs::path& d : decks) {
            if (convertOne(d, convert) != 0) {
                std::fprintf(stderr, "convert: soffice failed on %s\n", d.c_str());
            }
        }
    }));
    auto renderAll = [&](int instances, const fs::path& outdir) {
        RenderOptions options;
        options.instances = instances;
        LibreOffice office(options);
        std::atomic<std::size_t> next{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < instances; ++t) {
            threads.emplace_back([&] {
                for (std::size_t i; (i = next++) < decks.size();) {
                    fs::path pdf = outdir / decks[i].filename();
                    pdf.replace_extension(".pdf");
                    try {
                        office.renderPdf(decks[i], pdf, PageLayout::NotesPages);
                    } catch (const lf::render::RenderError& e) {
                        std::fprintf(stderr, "%s\n", e.what());
                    }
                }
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
    };
    results.push_back(measureOffice("warm 1", [&] { renderAll(1, warm1); }));
    results.push_back(measureOffice("warm 2", [&] { renderAll(2, warm2); }));

    const bool ok = notesPagePdfsComplete(decks, convert, slideCount, "convert") &&
                    notesPagePdfsComplete(decks, warm1, slideCount, "warm 1") &&
                    notesPagePdfsComplete(decks, warm2, slideCount, "warm 2");
    std::printf("%zu decks x %d slides, notes pages, %u processors\n", decks.size(), slideCount,
                std::thread::hardware_concurrency());
    std::printf("%-8s %10s %10s %12s %14s\n", "", "total s", "s / deck", "speed-up", "peak RSS MB");
    for (const OfficeResult& r : results) {
        std::printf("%-8s %10.2f %10.3f %11.2fx %14.0f\n", r.name, r.seconds,
                    r.seconds / static_cast<double>(decks.size()), results.front().seconds / r.seconds,
                    r.peakMb);
    }
    std::printf("every PDF one portrait notes page per slide: %s\n", ok ? "yes" : "NO");
    std::error_code ec;
    fs::remove_all(root, ec);
    return ok ? 0 : 1;
}
