// Writes a 5,000-paragraph document from a template as the TOC writer does and compares the time with
// the floor: copying the template file. Run: bench_document [TEMPLATE] [PARAGRAPHS]
#include "office/document/compose.h"
#include "office/document/word.h"
#include "office/opc/package.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

template <class F> double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const fs::path templ =
        argc > 1 ? fs::path(argv[1]) : fs::path(LF_CORPUS_DIR) / "docx" / "poi-sample.docx";
    const int count = argc > 2 ? std::stoi(argv[2]) : 5000;
    const fs::path dir = fs::temp_directory_path() / ("bench_document-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const int rounds = 5;
    double copyBest = 1e9, writeBest = 1e9, packageBest = 1e9;
    for (int round = 0; round < rounds; ++round) {
        packageBest = std::min(packageBest, seconds([&] {
                                   auto p = lf::opc::Package::open(templ);
                                   p->markChanged("/word/document.xml");
                                   p->saveAs(dir / "package.docx");
                               }));
        copyBest = std::min(copyBest, seconds([&] {
                                fs::copy_file(templ, dir / "copy.docx", fs::copy_options::overwrite_existing);
                            }));
        writeBest =
            std::min(writeBest, seconds([&] {
                         lf::word::Application word;
                         auto doc = word.documents().add(templ);
                         if (!doc)
                             throw std::runtime_error(word.documents().lastError());
                         doc->range().deleteContent();
                         doc->sections().item(1).headers().item(1).range().find().execute(
                             "Course Name", {.matchCase = true,
                                             .matchWholeWord = true,
                                             .replaceWith = "Bench Course",
                                             .replace = lf::word::office::wdReplaceAll});
                         lf::word::appendParagraph(
                             *doc, {"Table of Contents", "TOC 3", "Helvetica", 28, false, false, 1});
                         for (int i = 1; i < count; ++i)
                             lf::word::appendParagraph(*doc, {"Slide title number " + std::to_string(i) +
                                                                  "\t" + std::to_string(i % 29 + 1) + "-" +
                                                                  std::to_string(i % 149 + 1),
                                                              "TOC 2", "Helvetica", 0, false, false, 0});
                         doc->saveAs(dir / "out.docx");
                         doc->close();
                     }));
    }
    std::printf("template %s, %d paragraphs, best of %d\n", templ.filename().c_str(), count, rounds);
    std::printf("copy template:      %9.3f ms\n", copyBest * 1e3);
    std::printf("package round trip: %9.3f ms (open, one part written anew, save)\n", packageBest * 1e3);
    std::printf("write document:     %9.3f ms (%.0f paragraphs/s)\n", writeBest * 1e3, count / writeBest);
    std::printf("ratio write / copy: %9.1f\n", writeBest / copyBest);
    std::printf("ratio write / package round trip: %.1f\n", writeBest / packageBest);
    std::printf("output size:        %9ju bytes\n",
                static_cast<std::uintmax_t>(fs::file_size(dir / "out.docx")));
    fs::remove_all(dir);
    return 0;
}
