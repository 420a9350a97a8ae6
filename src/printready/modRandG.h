#pragma once
// modRandG: the grayscale-and-resize operation. Every shape of every slide of every deck in a course
// folder is switched to the grayscale black-and-white mode, and every notes page gets the fixed layout
// of its slide image and notes text; each deck is saved in place. A repository course is checked out
// into the working directory first and checked back in at the end. Log tag "Resize".
#include <QString>

namespace lf::courserun {
class CourseRun;
}
namespace lf::ppt {
class Presentation;
}

namespace lf::printready {

// The notes-page geometry, in points.
struct NotesGeometry {
    double top, left, height, width;
};
inline constexpr NotesGeometry kNotesSlideImage{14.375, 50, 337.5, 450}; // shape 1
inline constexpr NotesGeometry kNotesText{365, 53, 324, 444};            // shape 2, when there is one

// Grayscale of every slide shape and the notes-page layout of every slide, on an open deck; nothing
// is saved. Fails (lf::ppt::PresentationError) on a notes page without any shape.
void GrayscaleAndResize(lf::ppt::Presentation& deck);

// sourcePath: the normalized source path (a local folder, or a repository folder when it holds "/");
// the run's working directory is where repository decks are checked out; checkIn: check the decks
// back in at the end, after which they are deleted from the working directory. Reports only through
// the operation log and message boxes.
void RunGrayscaleResize(courserun::CourseRun& run, const QString& sourcePath, bool checkIn);
// The operation as a run of its own in workingDirectory.
void RunGrayscaleResize(const QString& sourcePath, const QString& workingDirectory, bool checkIn);

} // namespace lf::printready
