#include "wizard/program.h"

#include "indexing/CollectIndex.h"
#include "indexing/CollectTOC.h"
#include "indexing/WordStuff.h"
#include "indexing/course_check.h"
#include "office/printing/office_printing.h"
#include "printready/modPrintReady.h"
#include "printready/modRandG.h"
#include "printready/modZipIt.h"
#include "wizard/repository_connection_seam.h"

namespace lf::wizard {

WizardParts programParts() {
    WizardParts parts;
    // Each operation takes its place here when it is built, for example:
    //     parts.operations.CollectTOC = &lf::indexing::CollectTOC;
    // The repository subsystem replaces parts.repository with its own seam, and the document writers
    // set parts.quitDocumentWriter.
    using courserun::CourseRun;
    parts.operations.RunGrayscaleResize =
        static_cast<void (*)(CourseRun&, const QString&, bool)>(&lf::printready::RunGrayscaleResize);
    parts.operations.CollectIndex =
        static_cast<void (*)(CourseRun&, const QString&, const QString&, const QString&, const QString&,
                             const QString&, bool, const QString&)>(&lf::indexing::CollectIndex);
    parts.operations.CollectTOC =
        static_cast<void (*)(CourseRun&, const QString&, const QString&, const QString&, const QString&,
                             const QString&, bool, indexing::TOCTitleSource)>(&lf::indexing::CollectTOC);
    parts.operations.RunPrintReady =
        static_cast<void (*)(CourseRun&, const QString&, const QString&, bool, bool, bool, const QString&,
                             const QString&, const QString&, const QString&, const printready::PrintSwitches&,
                             std::unique_ptr<render::LibreOffice>)>(&lf::printready::RunPrintReady);
    parts.startRenderer = &lf::printing::startRenderer;
    parts.operations.RunZipPackaging =
        static_cast<void (*)(CourseRun&, const QString&, const QString&, bool, const QString&)>(
            &lf::printready::RunZipPackaging);
    parts.quitDocumentWriter = &lf::indexing::quitDocumentWriter;
    parts.CheckCourse = &lf::indexing::CheckCourse;
    parts.repository = std::make_shared<RepositoryConnectionSeam>();
    return parts;
}

} // namespace lf::wizard
