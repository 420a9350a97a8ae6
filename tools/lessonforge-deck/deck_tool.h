#pragma once
// The commands of lessonforge-deck, apart from the process: they write to the streams given and
// return the exit status.
#include "office/presentation/presentation.h"

#include <filesystem>
#include <iosfwd>

namespace lf::decktool {

// Writes the deck as JSON (slides, shapes with positions in points, text, sentences with their bold,
// the tagged word of every custom XML part, notes pages as stored). Never writes the file.
int show(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
// Sets every slide shape to grayscale and gives every notes page the fixed layout, then saves in place.
int grayNotes(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
// The grayscale-and-resize change (the operation's own) on an open deck; returns the number of notes
// pages it made.
int applyGrayNotes(lf::ppt::Presentation& deck);
// argv handling: "show FILE", "gray-notes FILE" or "--help".
int run(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace lf::decktool
