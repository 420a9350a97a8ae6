#pragma once
// The commands of lessonforge-deck, apart from the process: they write to the streams given and
// return the exit status.
#include "office/presentation/presentation.h"

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace lf::decktool {

// Writes the deck as JSON (slides, shapes with positions in points, text, sentences with their bold,
// the tagged word of every custom XML part, notes pages as stored). Never writes the file.
int show(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
// Sets every slide shape to grayscale and gives every notes page the fixed layout, then saves in place.
int grayNotes(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
// The grayscale-and-resize change (the operation's own) on an open deck; returns the number of notes
// pages it made.
int applyGrayNotes(lf::ppt::Presentation& deck);
// The tagged words of the deck, the way the Index reads them: "SLIDE<TAB>WORD" lines, or with json
// {"file": ..., "tags": [{"slide": 3, "word": "Cache"}, ...]}. Never writes the file.
int tags(const std::filesystem::path& file, bool json, std::ostream& out, std::ostream& err);

// One word to tag on, or to untag from, the slide of that number (as the Index numbers slides);
// `where` names its origin in messages ("LIST.tsv line 4"), empty for the command line; a line that
// is bad in itself carries its problem, reported with the others.
struct TagRequest {
    int slide = 0;
    std::string word;
    std::string where;
    std::string problem;
};
// Tags each word on its slide as one custom XML part, the same word (as the Index compares words)
// once per slide; a word the slide already has is not tagged again. Every request is checked first
// (slide numbers, words the Index would read badly): any problem, and nothing is changed. One save.
int tag(const std::filesystem::path& file, const std::vector<TagRequest>& requests, std::ostream& out,
        std::ostream& err);
// Removes every tagged word of the slide equal to a given word; a word the slide does not have fails
// and nothing is changed.
int untag(const std::filesystem::path& file, const std::vector<TagRequest>& requests, std::ostream& out,
          std::ostream& err);
// tag with the requests of a list of "SLIDE<TAB>WORD" lines (UTF-8; a byte-order mark, CR LF line
// ends, blank lines and lines beginning with "#" are taken); every bad line is reported.
int tagFrom(const std::filesystem::path& file, const std::filesystem::path& list, std::ostream& out,
            std::ostream& err);

// argv handling: the commands above, or "--help".
int run(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace lf::decktool
