#pragma once
// The steps the TOC and Index writers share: the template opened (fetched from the repository first
// when it lies there), and the saved document stored at its destination.
#include "office/document/word.h"

#include <QString>

#include <optional>

namespace lf::courserun {
class CourseRun;
}

namespace lf::indexing {

// One writer run: shows the hourglass (and lets pending events run) when it starts; closes its
// document and restores the default pointer on every way out, a declined overwrite and a failure
// included.
class DocumentRun {
public:
    DocumentRun();
    ~DocumentRun();
    DocumentRun(const DocumentRun&) = delete;
    DocumentRun& operator=(const DocumentRun&) = delete;
    std::optional<word::Document> document;
};

// A new document on the template, fetched into the working path first when it lies in the repository.
// Fails with a description when there is no document.
word::Document OpenTemplateDocument(courserun::CourseRun& course, const QString& templatePath,
                                    bool templateInRepository, const QString& workingPath);

// The texts that differ between the two writers.
struct StorageTexts {
    QString tag;                    // "TOC" or "Index": the tag of the "Created ... in" line
    QString existsTitle;            // "TOC Exists"
    QString existsText;             // "TOC document exists.  OK to overwrite?"
    QString createdLine;            // "Created TOC document in "
    QString versionFirstLine;       // "The TOC doc appears to exist in the repository at"
    bool newObjectByImport = false; // the Index imports a new document; the TOC makes the object itself
};

// Saves the document as workingPath + "\" + fileName, then stores it at the destination: a local
// folder (with the overwrite question) or a repository folder (new object, import or new version).
// The copy in the working path is a working file from before it is saved (unless it is the result
// itself, or a file of the user's), so a store that fails leaves nothing behind for a later run.
// False when the user declined to overwrite a local document.
bool StoreDocument(courserun::CourseRun& course, word::Document& document, const QString& fileName,
                   const QString& destinationPath, const QString& workingPath, const StorageTexts& texts);

// The repository side of StoreDocument, for the document saved as savedFile in the working path.
void StoreInRepository(courserun::CourseRun& course, const QString& savedFile, const QString& fileName,
                       const QString& destinationPath, const QString& workingPath, const StorageTexts& texts);
// The repository side of OpenTemplateDocument: fetches the template object into the working path and
// returns the local file (registered as a working file).
QString FetchRepositoryTemplate(courserun::CourseRun& course, const QString& templatePath,
                                const QString& workingPath);
// The template object at a repository path copied into a host folder under the file name a fetch
// gives it (its object name, ".docx" added when it lacks it); returns that name. Throws when there is
// no object at the path.
QString CopyRepositoryTemplate(const QString& templatePath, const QString& hostFolder);

} // namespace lf::indexing
