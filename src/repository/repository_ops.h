#pragma once
// The program-wide repository routines: export of a folder's documents into a local directory,
// import of local files (or of one zip file made of them) into a repository folder, and check-out
// and check-in of repository documents. Each runs one library operation under a new
// clsOperationMonitor on the program-wide session (connection.h) and reports through the operation
// log; check-out and check-in also let the user decide in the errors dialog after a failure.
// Local paths are the program's Windows-style texts; log lines and working-file entries keep them.
//
// Library lf_repository.
#include "tessarel/tessarel.h"
#include "workfiles/working_files.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace lf::repository {

// Content-type selectors of ExportFolder.
inline constexpr std::int16_t kExportDecks = 2;
inline constexpr std::int16_t kExportWordDocuments = 1;
inline constexpr std::int16_t kExportDecksAndDocuments = 4;

// The export query for a folder id and a selector; empty for any other selector.
QString exportQuery(const QString& folderId, std::int16_t selector);

// Exports every document of the folder tree below folderId whose content type the selector picks
// into destination, on the run's session. Each file the export is about to write goes into the
// working files record first (workingFiles, when given): a new file, or one an earlier run made, is
// the program's; a file of the user's that the export replaces stays the user's. True when the
// library reported success (or the query gave no result collection); false otherwise. exportedNames,
// when given, receives the file name of every document the export wrote.
bool ExportFolder(const tessarel::TsSessionPtr& session, workfiles::WorkingFiles* workingFiles,
                  const QString& folderId, const QString& destination, std::int16_t selector,
                  QStringList* exportedNames = nullptr);

// Imports the files of sourceDirectory matching namePattern into the repository folder
// destinationPath, on the run's session; with zipFirst, one zip file sourceDirectory\zipFileName
// packed from sourceDirectory + namePattern instead (a zip file the program makes there goes into
// the working files record first, when workingFiles is given).
bool ImportFiles(const tessarel::TsSessionPtr& session, workfiles::WorkingFiles* workingFiles,
                 const QString& sourceDirectory, const QString& namePattern, const QString& destinationPath,
                 bool zipFirst, const QString& zipFileName);

// Checks out the objects whose r_object_id the TQL query returns (when query is not empty, or object
// is nothing), else the one object, into destination. Returns the checked-out list, or nothing after
// a failure. With workingFiles, each file the check-out is about to write goes into the working files
// record first as a checked-out deck (checkedOutFiles, when given, receives their local paths).
tessarel::TsObjectListPtr CheckOutObjects(const QString& destination, const QString& query,
                                          const tessarel::TsObjectPtr& object,
                                          workfiles::WorkingFiles* workingFiles = nullptr,
                                          QStringList* checkedOutFiles = nullptr);

// Cancel in the errors dialog of a check-out or check-in ends the calling operation: after its line,
// both throw platform::Stopped (a check-out first cancels what it did check out).
//
// Checks the objects of a checked-out list back in. True when the check-in succeeded.
bool CheckInObjects(const tessarel::TsObjectListPtr& objects);

// Cancels the check-out of each object of the list that is still checked out, one line each, so an
// operation that ends early leaves no deck checked out.
void CancelCheckOuts(const tessarel::TsObjectListPtr& objects);

// What an export of the folder would write, without writing anything: every document the selector
// takes, in the query's order, with the file name the export gives it (the object name, with the
// format's extension added unless the name already ends in it). Throws TsException when there is no
// session or the query fails.
struct ExportItem {
    tessarel::TsObjectPtr object;
    QString localName;
};
std::vector<ExportItem> ExportItems(const QString& folderId, std::int16_t selector);

// The file name an export or a check-out gives the object: the object name, with the format's
// extension added unless the name already ends in it.
QString localFileNameOf(const tessarel::TsObject& object);

// The text form of the object id of the object at a repository path on the current session; empty
// when no object is there. Throws TsException when there is no session.
QString folderIdText(const QString& repositoryPath);

} // namespace lf::repository
