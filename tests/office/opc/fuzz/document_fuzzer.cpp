// libFuzzer target for the document engine on template bytes: Add must return no document or one on
// which the writers' whole sequence (clear, header replace, paragraphs, save, open) runs without a
// crash; failures are exceptions.
#include "office/document/compose.h"
#include "office/document/word.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::filesystem::path scratch(const char* name) {
    static const std::filesystem::path dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::filesystem::path d = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") /
                                  ("lf-document-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir / name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(scratch("template.dotx"), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    lf::word::Application word;
    auto doc = word.documents().add(scratch("template.dotx"));
    if (!doc)
        return 0;
    try {
        (void)doc->range().text();
        (void)doc->sections().count();
        lf::word::Range header = doc->sections().item(1).headers().item(1).range();
        (void)header.text();
        (void)header.find().execute("e", {.matchWholeWord = false, .replaceWith = "Course", .replace = 2});
        doc->range().deleteContent();
        lf::word::appendParagraph(*doc, {"Table of Contents", "TOC 3", "Helvetica", 28, false, false, 1});
        lf::word::appendParagraph(*doc, {"", "", "", 0, false, false, 0});
        lf::word::appendParagraph(*doc, {"a\tb\vc\rd", "Plain Text", "Courier New", 10, true, true, 3});
        lf::word::Range last = doc->paragraphs().last().range();
        (void)last.style();
        (void)last.font().name();
        (void)last.font().size();
        (void)last.paragraphFormat().alignment();
        doc->saveAs(scratch("out.docx"));
        lf::word::Document again = word.documents().open(scratch("out.docx"));
        (void)again.paragraphs().count();
    } catch (const std::runtime_error&) {
        // a document the engine cannot write: reported, not a crash
    }
    return 0;
}
