#include "bench_course.h"

#include "deck_builder.h"

#include <pugixml.hpp>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace lf::test;

namespace lf::bench {
namespace {

std::string slideShapes(int slide) {
    const std::string n = std::to_string(slide);
    return placeholderShape(2, "Rectangle 2", {"title", -1}, std::nullopt,
                            paragraph(run("Storage topic " + n))) +
           placeholderShape(3, "Content Placeholder 2", {"", 1}, std::nullopt,
                            paragraph(run("Disks hold blocks. ") + run("Caches keep hot data.", true)) +
                                paragraph(run("Arrays spread load!  Mirrors copy it.") + lineBreak() +
                                          run("Parity saves space?")) +
                                paragraph(run("Summary of slide " + n + "."), 1));
}

} // namespace

void buildStorageCourse(const fs::path& folder, int decks, int slides) {
    std::mt19937 random(7);
    std::string image(40000, '\0');
    for (char& c : image)
        c = static_cast<char>(random()); // a picture does not compress
    for (int d = 1; d <= decks; ++d) {
        DeckBuilder b;
        b.image = image;
        for (int s = 1; s <= slides; ++s) {
            SlideSpec slide;
            slide.usesPicture = true;
            slide.shapes = {slideShapes(s),
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

QString onDriveZ(const fs::path& host) {
    return "Z:" + QString::fromStdString(host.string()).replace('/', '\\');
}

std::vector<fs::path> decksIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".pptx")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string readEntry(zip_t* zip, zip_uint64_t index) {
    zip_stat_t st;
    zip_stat_index(zip, index, 0, &st);
    std::string bytes(st.size, '\0');
    zip_file_t* f = zip_fopen_index(zip, index, 0);
    zip_fread(f, bytes.data(), st.size);
    zip_fclose(f);
    return bytes;
}

std::size_t floorRead(const std::vector<fs::path>& decks) {
    std::size_t sink = 0;
    for (const fs::path& file : decks) {
        int error = 0;
        zip_t* zip = zip_open(file.c_str(), ZIP_RDONLY, &error);
        if (!zip)
            continue;
        const zip_int64_t n = zip_get_num_entries(zip, 0);
        for (zip_int64_t i = 0; i < n; ++i) {
            const std::string name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
            // A slide, its relationships (which name its custom XML parts) and those parts.
            const bool slide =
                name.starts_with("ppt/slides/") && (name.ends_with(".xml") || name.ends_with(".rels"));
            if (!slide && !name.starts_with("customXml/item"))
                continue;
            const std::string bytes = readEntry(zip, static_cast<zip_uint64_t>(i));
            pugi::xml_document doc;
            doc.load_buffer(bytes.data(), bytes.size());
            sink += static_cast<std::size_t>(doc.first_child().type());
        }
        zip_close(zip);
    }
    return sink;
}

void copyCourse(const std::vector<fs::path>& decks, const fs::path& to, bool durable) {
    for (const fs::path& file : decks) {
        const fs::path copy = to / file.filename();
        fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
        if (durable) {
            const int fd = ::open(copy.c_str(), O_RDONLY);
            if (fd >= 0) {
                ::fsync(fd);
                ::close(fd);
            }
        }
    }
}

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace lf::bench
