#include "indexing/document_storage.h"

#include "courserun/course_run.h"

#include "indexing/WordStuff.h"
#include "indexing/operation_support.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "workfiles/working_files.h"

#include <stdexcept>

namespace lf::indexing {

DocumentRun::DocumentRun() {
    platform::showHourglass();
    platform::yieldToEventLoop();
}

DocumentRun::~DocumentRun() {
    if (document && !document->closed())
        document->close();
    platform::showDefaultPointer();
}

word::Document OpenTemplateDocument(courserun::CourseRun& course, const QString& templatePath,
                                    bool templateInRepository, const QString& workingPath) {
    QString localTemplate = templatePath;
    if (templateInRepository && !templatePath.isEmpty())
        localTemplate = FetchRepositoryTemplate(course, templatePath, workingPath);
    std::optional<word::Document> document = OpenWordTemplate(localTemplate);
    if (!document) {
        const std::string reason =
            documentWriterStarted() ? documentWriter().documents().lastError() : std::string();
        throw std::runtime_error("no document could be made from the template " +
                                 localTemplate.toStdString() +
                                 (reason.empty() ? std::string() : ": " + reason));
    }
    return *document;
}

bool StoreDocument(courserun::CourseRun& course, word::Document& document, const QString& fileName,
                   const QString& destinationPath, const QString& workingPath, const StorageTexts& texts) {
    const QString savedFile = platform::joinPath(workingPath, fileName);
    const bool toRepository = platform::isRepositoryPath(destinationPath);
    const QString destinationFile = platform::joinPath(destinationPath, fileName);
    // A destination that is the working path itself holds the document as saved: it is the result,
    // not a working file, and the clean-up must not delete it.
    if (!toRepository && platform::sameLocation(savedFile, destinationFile)) {
        course.workingFiles().release(savedFile);
        document.saveAs(hostFile(savedFile));
        course.noteWritten(savedFile);
        oplog::LogOperation(texts.tag, texts.createdLine + destinationPath, false);
        return true;
    }
    course.workingFiles().willMake(savedFile);
    document.saveAs(hostFile(savedFile));
    if (toRepository) {
        StoreInRepository(course, savedFile, fileName, destinationPath, workingPath, texts);
        return true;
    }
    if (platform::fileExists(destinationFile) &&
        platform::messageBox(texts.existsTitle, texts.existsText, platform::MessageIcon::Exclamation,
                             platform::MessageButtons::YesNo) != platform::MessageAnswer::Yes)
        return false;
    document.saveAs(hostFile(destinationFile));
    course.noteWritten(destinationFile);
    oplog::LogOperation(texts.tag, texts.createdLine + destinationPath, false);
    return true;
}

} // namespace lf::indexing
