#pragma once
// The repository steps of the grayscale and zip operations, each one taking the program-wide session
// before it and handing it back after it, as every operation does around a repository use.
#include <QString>

#include <memory>

namespace lf::tessarel {
class TsObject;
template <class T> class TsList;
} // namespace lf::tessarel

namespace lf::printready {

// What a check-out returned; nullptr stands for nothing (no check-out took place or it failed).
using CheckedOutList = std::shared_ptr<lf::tessarel::TsList<lf::tessarel::TsObject>>;

// Checks out every object the query selects into destination (CheckOutObjects); the query of the
// grayscale operation is repository::deckQueryForFolder, which doubles the quotes of the path.
CheckedOutList CheckOutByQuery(const QString& destination, const QString& query);
// Checks the list back in (CheckInObjects), nothing included.
void CheckInList(const CheckedOutList& checkedOut);

// Exports the decks and Word documents of the folder at folderPath and below into destination
// (ExportFolder with selector 4), looking the folder up by its path first. False when the export
// reports failure; throws, with the failure's description, when the folder cannot be looked up.
bool ExportCourseFolder(const QString& folderPath, const QString& destination);
// Imports the files of sourceDirectory matching namePattern into the repository folder
// destinationPath (ImportFiles; with zipFirst, packed into sourceDirectory\zipFileName first); true on
// success.
bool ImportIntoFolder(const QString& sourceDirectory, const QString& namePattern,
                      const QString& destinationPath, bool zipFirst = false,
                      const QString& zipFileName = QString());

} // namespace lf::printready
