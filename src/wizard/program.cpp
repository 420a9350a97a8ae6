#include "wizard/program.h"

namespace lf::wizard {

WizardParts programParts() {
    WizardParts parts;
    // Each operation takes its place here when it is built, for example:
    //     parts.operations.CollectTOC = &lf::indexing::CollectTOC;
    // The repository subsystem replaces parts.repository with its own seam, and the document writers
    // set parts.quitDocumentWriter.
    return parts;
}

} // namespace lf::wizard
