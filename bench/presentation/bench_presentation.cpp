// A course of 30 decks x 60 slides (title, body text, a picture, two tagged words per slide, a notes
// page) measured side by side in one run:
//   read       the engine reading every title, sentence (with its bold) and tagged word
//   floor      inflating the same slide parts (with their relationships) and custom XML parts with
//              libzip and parsing them with pugixml
//   gray-notes grayscale and the notes-page layout over the course, saved in place; "again": the same
//              over the course it has just processed, where nothing is left to change or write
//   copy       copying the course's files; durable copy: the same, each file synced to disk as a save is
//   rewrite floor  the gray-notes rewrite done plainly with libzip and pugixml (no sync): what rewriting
//              every slide and notes part costs at the least with the usual libraries
// Each measurement is repeated and the best time kept.
// Usage: bench_presentation [decks] [slides] [folder]; with a folder, the course is built there and kept.
#include "bench_course.h"
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
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace lf::test;
using namespace lf::bench;

namespace {

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

void grayNotes(const std::vector<fs::path>& decks) {
    lf::ppt::Application app;
    for (const fs::path& file : decks) {
        lf::ppt::Presentation deck = app.presentations().open(file);
        lf::decktool::applyGrayNotes(deck);
        deck.save();
        deck.close();
    }
}

// The same rewrite done the plain way with the libraries alone: every slide and notes page inflated
// and parsed, each top-level shape given grayscale (slides) or a new position (notes), the part
// serialised and handed back to libzip, which deflates it and rewrites the file (without a sync).
void floorRewrite(const std::vector<fs::path>& decks) {
    struct Writer : pugi::xml_writer {
        std::string out;
        void write(const void* data, size_t size) override {
            out.append(static_cast<const char*>(data), size);
        }
    };
    for (const fs::path& file : decks) {
        int error = 0;
        zip_t* zip = zip_open(file.c_str(), 0, &error);
        if (!zip)
            continue;
        std::vector<std::unique_ptr<std::string>> keep; // libzip reads the buffers at zip_close
        const zip_int64_t n = zip_get_num_entries(zip, 0);
        for (zip_int64_t i = 0; i < n; ++i) {
            const std::string name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
            const bool slide = name.starts_with("ppt/slides/slide") && name.ends_with(".xml");
            const bool notes = name.starts_with("ppt/notesSlides/notesSlide") && name.ends_with(".xml");
            if (!slide && !notes)
                continue;
            const std::string bytes = readEntry(zip, static_cast<zip_uint64_t>(i));
            pugi::xml_document doc;
            doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_full | pugi::parse_ws_pcdata);
            pugi::xml_node tree = doc.document_element().child("p:cSld").child("p:spTree");
            for (pugi::xml_node shape = tree.first_child(); shape; shape = shape.next_sibling()) {
                pugi::xml_node props = shape.child("p:spPr");
                if (!props)
                    continue;
                if (slide) {
                    (props.attribute("bwMode") ? props.attribute("bwMode")
                                               : props.append_attribute("bwMode")) = "gray";
                } else {
                    pugi::xml_node off = props.child("a:xfrm").child("a:off");
                    if (off)
                        off.attribute("y") = "1000000";
                }
            }
            Writer out;
            doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
            keep.push_back(std::make_unique<std::string>(std::move(out.out)));
            zip_source_t* src = zip_source_buffer(zip, keep.back()->data(), keep.back()->size(), 0);
            zip_file_replace(zip, static_cast<zip_uint64_t>(i), src, 0);
        }
        zip_close(zip);
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
    buildStorageCourse(course, deckCount, slideCount);
    std::vector<fs::path> decks = decksIn(course);
    std::uintmax_t bytes = 0;
    for (const fs::path& d : decks) {
        bytes += fs::file_size(d);
    }
    std::printf("course: %zu decks, %.1f MB\n", decks.size(), static_cast<double>(bytes) / 1e6);

    const int rounds = 5;
    Time read, floor, gray, again, copy, durable, rewrite;
    for (int r = 0; r < rounds; ++r) {
        measure(floor, [&] { sink += floorRead(decks); });
        measure(read, [&] { engineRead(decks); });
        measure(copy, [&] { copyCourse(decks, copies); });
        measure(durable, [&] { copyCourse(decks, copies, true); });
        // gray-notes changes the decks: each round works on a fresh copy, made outside the timing.
        copyCourse(decks, work);
        std::vector<fs::path> workDecks = decksIn(work);
        measure(gray, [&] { grayNotes(workDecks); });
        measure(again, [&] { grayNotes(workDecks); }); // a course already processed: nothing to write
        copyCourse(decks, work);
        measure(rewrite, [&] { floorRewrite(workDecks); });
    }
    auto line = [](const char* what, const Time& t, const Time* base, const char* goal) {
        std::printf("%-17s wall %8.1f ms  cpu %8.1f ms", what, t.wall * 1e3, t.cpu * 1e3);
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
    line("rewrite floor", rewrite, &copy, "the same rewrite with libzip + pugixml, against copy");
    line("gray-notes", gray, &rewrite, "against the rewrite floor");
    line("read floor", floor, &copy, "reading alone, against copy");
    line("gray-notes again", again, &copy, "on the processed course, against copy");
    std::printf("(checksum %zu)\n", sink % 1000);
    if (!keep) {
        fs::remove_all(root);
    }
    return 0;
}
