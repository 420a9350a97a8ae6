#pragma once
// modZipIt: the zip operation. The course is staged in the working directory (exported from the
// repository, or its decks copied from a local folder), packed there into one zip file through
// RunWinZip, and delivered to the destination: imported into a repository folder, or copied into a
// local folder, asking before an existing zip file is replaced. Log tag "Zip".
#include <QString>

namespace lf::courserun {
class CourseRun;
}

namespace lf::printready {

// sourcePath, destinationPath: normalized; workingDirectory: where the course is staged and packed;
// cleanWorkingFiles: delete the registered working files at the end; zipFileName: "Course.zip" from
// the wizard. Reports only through the operation log and message boxes.
void RunZipPackaging(courserun::CourseRun& run, const QString& sourcePath, const QString& destinationPath,
                     bool cleanWorkingFiles, const QString& zipFileName);
// The operation as a run of its own in workingDirectory.
void RunZipPackaging(const QString& sourcePath, const QString& destinationPath,
                     const QString& workingDirectory, bool cleanWorkingFiles, const QString& zipFileName);

} // namespace lf::printready
