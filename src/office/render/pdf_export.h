#pragma once
// What a PDF carries besides its pages, handed from the run down to the renderer. Every PDF is tagged
// (structure tree and reading order), keeps the file's hyperlinks and has an outline: a bookmark per
// slide, named by the slide's title, for a deck; one per heading, at the heading's level, for a
// document. Its title is the file's own (its document properties) or, when it has none, the first
// shown slide's title of a deck, else the file name less its extension; its language is the one the
// file's text is written in.
namespace lf::render {

struct PdfExport {
    // PDF/A-2b, for archiving: every font embedded and the file self-contained.
    bool archive = false;
};

} // namespace lf::render
