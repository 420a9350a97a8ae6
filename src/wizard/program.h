#pragma once
// What the program as built plugs into the wizard: its operations, its repository seam and the
// program-wide Word application of the document writers. Each subsystem adds its part in program.cpp
// when it is built.
#include "indexing/course_check.h"
#include "wizard/operations.h"
#include "wizard/repository_seam.h"

#include <functional>
#include <memory>
#include <vector>

namespace lf::wizard {

struct WizardParts {
    Operations operations;
    std::shared_ptr<RepositorySeam> repository = std::make_shared<NoRepository>();
    // Quits the program-wide Word application of the TOC and Index writers when it was started during
    // the session; empty (or doing nothing) otherwise. Called last when the wizard unloads.
    std::function<void()> quitDocumentWriter;
    // The check of the course that page 4 runs once its fields are verified: every problem the chosen
    // operations would meet, nothing written. Empty: page 4 checks the fields only.
    std::function<std::vector<indexing::CourseProblem>(const indexing::CourseCheck&)> CheckCourse;
    // Whether page 4 writes the path and name fields back to the settings file (the run uses them as
    // typed either way).
    bool saveSettings = true;
    // Whether the window comes back at the size it was closed with and page 2 with the operations last
    // checked, kept in the program's own settings. A scripted run, which ticks its own boxes, turns it off.
    bool rememberWindow = true;
    // Starts LibreOffice ahead of a print-ready run (printing::startRenderer) with the window's stop
    // request: page 4 does so when the print-ready run is chosen, so that its first file does not
    // wait for the start. Empty: the run starts its own.
    std::function<std::unique_ptr<render::LibreOffice>(const platform::StopRequest*)> startRenderer;
};

// The parts of the program as built today.
WizardParts programParts();

} // namespace lf::wizard
