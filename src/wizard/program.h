#pragma once
// What the program as built plugs into the wizard: its operations, its repository seam and the
// program-wide Word application of the document writers. Each subsystem adds its part in program.cpp
// when it is built.
#include "wizard/operations.h"
#include "wizard/repository_seam.h"

#include <functional>
#include <memory>

namespace lf::wizard {

struct WizardParts {
    Operations operations;
    std::shared_ptr<RepositorySeam> repository = std::make_shared<NoRepository>();
    // Quits the program-wide Word application of the TOC and Index writers when it was started during
    // the session; empty (or doing nothing) otherwise. Called last when the wizard unloads.
    std::function<void()> quitDocumentWriter;
    // Whether page 4 writes the path and name fields back to the settings file (the run uses them as
    // typed either way).
    bool saveSettings = true;
    // Whether the window comes back at the size it was closed with and page 2 with the operations last
    // checked, kept in the program's own settings. A scripted run, which ticks its own boxes, turns it off.
    bool rememberWindow = true;
};

// The parts of the program as built today.
WizardParts programParts();

} // namespace lf::wizard
