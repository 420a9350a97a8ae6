#include "wizard/program.h"

#include "indexing/CollectIndex.h"
#include "indexing/CollectTOC.h"
#include "indexing/WordStuff.h"
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
    parts.operations.RunGrayscaleResize = &lf::printready::RunGrayscaleResize;
    parts.operations.CollectIndex = &lf::indexing::CollectIndex;
    parts.operations.CollectTOC = &lf::indexing::CollectTOC;
    parts.operations.RunPrintReady = &lf::printready::RunPrintReady;
    parts.operations.RunZipPackaging = &lf::printready::RunZipPackaging;
    parts.quitDocumentWriter = &lf::indexing::quitDocumentWriter;
    parts.repository = std::make_shared<RepositoryConnectionSeam>();
    return parts;
}

} // namespace lf::wizard
