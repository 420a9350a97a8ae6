// A course of 30 decks x 60 slides (title, body text, a picture, two tagged words per slide, a notes
// page) measured side by side in one run:
//   read       the engine reading every title, sentence (with its bold) and tagged word
//   floor      inflating the same slide parts (with their relationships) and custom XML parts with
//              libzip and parsing them with pugixml
//   gray-notes grayscale and the notes-page layout over the course, saved in place
//   copy       copying the course's files; durable copy: the same, each file synced to disk as a save is
// Each measurement is repeated and the best time kept.
// Usage: bench_presentation [decks] [slides] [folder]; with a folder, the course is built there and kept.
#include "deck_builder.h"
#include "deck_tool.h"
#include "office/presentation/presentation.h"

#include <pugixml.hpp>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace lf::test;

namespace {

std::string slideShape(int slide) {
    std::string n = std::to_string(slide);
    return placeholderShape(2, "Rectangle 2", {"title", -1}, std::nullopt,
                            paragraph(run("Storage topic " + n))) +
           placeholderShape(3, "Content Placeholder 2", {"", 1}, std::nullopt,
                            paragraph(run("Disks hold blocks. ") + run("Caches keep hot data.", true)) +
                                paragraph(run("Arrays spread load!  Mirrors copy it.") + lineBreak() +
                                          run("Parity saves space?")) +
                                paragraph(run("Summary of slide " + n + "."), 1));
}

void buildCourse(const fs::path& folder, int decks, int slides) {
    std::mt19937 random(7);
    std::string image(40000, '\0');
    for (char& c : image) {
        c = static_cast<char>(random()); // a picture does not compress
    }
    for (int d = 1; d <= decks; ++d) {
        DeckBuilder b;
        b.image = image;
        for (int s = 1; s <= slides; ++s) {
            SlideSpec slide;
            slide.usesPicture = true;
            slide.shapes = {slideShape(s),
                            picture(4, "Picture 4", Rect{emuPt(400), emuPt(300), emuPt(200), emuPt(150)})};
            slide.customXml = {"<tagwise><indexword>word" + std::to_string(s) + "</indexword></tagwise>",
                               "<tagwise><indexword>term" + std::to_string(d) + "</indexword></tagwise>"};
            slide.notesShapes = std::vector<std::string>{
                "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Slide Image Placeholder 1\"/><p:cNvSpPr/><p:nvPr>"
                "<p:ph type=\"sldImg\"/></p:nvPr></p:nvSpPr><p:spPr/></p:sp>",
                placeholderShape(3, "Notes Placeholder 2", {"body", 1}, std::nullopt,
                                 paragraph(run("Say it.")))};
            b.slides.push_back(slide);
        }
        char name[32];
        std::snprintf(name, sizeof name, "%02d_Module.pptx", d);
        b.write(folder / name);
    }
}

std::vector<fs::path> decksIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Wall-clock and processor time of one run; on a busy machine the processor time is the steadier.
struct Time {
    double wall = 1e9, cpu = 1e9;
};

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

template <class F> void measure(Time& best, F&& f) {
    auto start = std::chrono::steady_clock::now();
    double cpuStart = cpuNow();
    f();
    best.cpu = std::min(best.cpu, cpuNow() - cpuStart);
    best.wall =
        std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

std::size_t sink = 0; // keeps the work from being optimised away

void engineRead(const std::vector<fs::path>& decks) {
    lf::ppt::Application app;
    for (const fs::path& file : decks) {
        lf::ppt::Presentation deck = app.presentations().open(file);
        for (const lf::ppt::Slide& slide : deck.slides()) {
            for (const lf::ppt::Shape& shape : slide.shapes()) {
                sink += shape.name().size() + static_cast<std::size_t>(shape.type() + shape.top());
                if (shape.hasTextFrame()) {
                    for (const lf::ppt::TextRange& sentence : shape.textFrame().textRange().sentences()) {
                        sink += sentence.text().size() + static_cast<std::size_t>(sentence.font().bold() + 2);
                    }
                }
            }
            for (const lf::ppt::CustomXMLPart& part : slide.customerData()) {
                if (auto node = part.selectSingleNode("descendant::indexword")) {
                    sink += node->text().size();
                }
            }
        }
        deck.close();
    }
}

void floorRead(const std::vector<fs::path>& decks) {
    for (const fs::path& file : decks) {
        int error = 0;
        zip_t* zip = zip_open(file.c_str(), ZIP_RDONLY, &error);
        zip_int64_t n = zip_get_num_entries(zip, 0);
        for (zip_int64_t i = 0; i < n; ++i) {
            std::string name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
            // A slide, its relationships (which name its custom XML parts) and those parts.
            bool slide =
                name.starts_with("ppt/slides/") && (name.ends_with(".xml") || name.ends_with(".rels"));
            bool custom = name.starts_with("customXml/item");
            if (!slide && !custom) {
                continue;
            }
            zip_stat_t st;
            zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
            std::string bytes(st.size, '\0');
            zip_file_t* f = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
            zip_fread(f, bytes.data(), st.size);
            zip_fclose(f);
            pugi::xml_document doc;
            doc.load_buffer(bytes.data(), bytes.size());
            sink += static_cast<std::size_t>(doc.first_child().type());
        }
        zip_close(zip);
    }
}

void grayNotes(const std::vector<fs::path>& decks) {
    lf::ppt::Application app;
    for (const fs::path& file : decks) {
        lf::ppt::Presentation deck = app.presentations().open(file);
        lf::decktool::applyGrayNotes(deck);
        deck.save();
        deck.close();
    }
}

void copyCourse(const std::vector<fs::path>& decks, const fs::path& to, bool durable = false) {
    for (const fs::path& file : decks) {
        fs::path copy = to / file.filename();
        fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
        if (durable) {
            int fd = ::open(copy.c_str(), O_RDONLY);
            if (fd >= 0) {
                ::fsync(fd);
                ::close(fd);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    int deckCount = argc > 1 ? std::atoi(argv[1]) : 30;
    int slideCount = argc > 2 ? std::atoi(argv[2]) : 60;
    bool keep = argc > 3;
    fs::path root = keep ? fs::path(argv[3])
                         : fs::temp_directory_path() / ("bench_presentation_" + std::to_string(::getpid()));
    fs::path course = root / "course", work = root / "work", copies = root / "copies";
    fs::create_directories(course);
    fs::create_directories(work);
    fs::create_directories(copies);
    std::printf("building %d decks x %d slides...\n", deckCount, slideCount);
    buildCourse(course, deckCount, slideCount);
    std::vector<fs::path> decks = decksIn(course);
    std::uintmax_t bytes = 0;
    for (const fs::path& d : decks) {
        bytes += fs::file_size(d);
    }
    std::printf("course: %zu decks, %.1f MB\n", decks.size(), static_cast<double>(bytes) / 1e6);

    const int rounds = 5;
    Time read, floor, gray, copy, durable;
    for (int r = 0; r < rounds; ++r) {
        measure(floor, [&] { floorRead(decks); });
        measure(read, [&] { engineRead(decks); });
        measure(copy, [&] { copyCourse(decks, copies); });
        measure(durable, [&] { copyCourse(decks, copies, true); });
        // gray-notes changes the decks: each round works on a fresh copy, made outside the timing.
        copyCourse(decks, work);
        std::vector<fs::path> workDecks = decksIn(work);
        measure(gray, [&] { grayNotes(workDecks); });
    }
    auto line = [](const char* what, const Time& t, const Time* base, const char* goal) {
        std::printf("%-14s wall %8.1f ms  cpu %8.1f ms", what, t.wall * 1e3, t.cpu * 1e3);
        if (base) {
            std::printf("   ratio wall %.2fx cpu %.2fx %s", t.wall / base->wall, t.cpu / base->cpu, goal);
        }
        std::printf("\n");
    };
    line("floor", floor, nullptr, "");
    line("read (engine)", read, &floor, "(goal: within 2x of the floor)");
    line("copy", copy, nullptr, "");
    line("durable copy", durable, nullptr, "");
    line("gray-notes", gray, &copy, "against copy (goal: within 3x)");
    line("gray-notes", gray, &durable, "against durable copy");
    std::printf("(checksum %zu)\n", sink % 1000);
    if (!keep) {
        fs::remove_all(root);
    }
    return 0;
}
