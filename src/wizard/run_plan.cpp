#include "wizard/run_plan.h"

#include "platform/oplog.h"

#include <exception>
#include <optional>

namespace lf::wizard {

QString StripTrailingSeparator(const QString& path) {
    if (path.endsWith('/') || path.endsWith('\\'))
        return path.left(path.size() - 1);
    return path;
}

FieldRules FieldRulesFor(std::uint16_t mask) {
    using G = FieldGroup;
    if (mask == GrayscaleBit)
        return {{G::Source},
                {G::Source},
                {G::Destination, G::TOCTemplate, G::IndexTemplate, G::CourseName, G::IndexName}};
    if ((mask & (IndexBit | TOCBit)) == (IndexBit | TOCBit))
        return {{G::Source, G::Destination, G::TOCTemplate, G::IndexTemplate, G::CourseName, G::IndexName,
                 G::TOCName},
                {G::Source, G::Destination, G::TOCTemplate, G::IndexTemplate, G::IndexName, G::CourseName},
                {}};
    if (mask & TOCBit)
        return {{G::Source, G::Destination, G::TOCTemplate, G::TOCName, G::CourseName},
                {G::Source, G::Destination, G::TOCTemplate, G::CourseName},
                {G::IndexTemplate, G::IndexName}};
    if (mask & IndexBit)
        return {{G::Source, G::Destination, G::CourseName, G::IndexTemplate, G::IndexName},
                {G::Source, G::Destination, G::IndexTemplate, G::IndexName},
                {G::TOCTemplate, G::CourseName}};
    return {{G::Source, G::Destination},
            {G::Source, G::Destination},
            {G::TOCTemplate, G::IndexTemplate, G::IndexName, G::CourseName}};
}

RunOutcome RunOperations(const Operations& ops, const RunRequest& r) {
    RunOutcome outcome;
    const QString source = StripTrailingSeparator(r.sourcePath);
    const QString destination = StripTrailingSeparator(r.destinationPath);
    const QString& workingDirectory = r.workingDirectory;
    // The run: built once here and handed to every operation.
    std::optional<courserun::CourseRun> taken;
    try {
        taken.emplace(workingDirectory);
    } catch (const courserun::WorkingDirectoryInUse& inUse) {
        courserun::LogWorkingDirectoryInUse("Wizard", inUse);
        return outcome;
    }
    courserun::CourseRun& run = *taken;
    run.obey(r.stop);
    // A stop asked for after an operation looked last: no later operation is called, and the run's one
    // line says why.
    bool stopLogged = false;
    auto stoppedBetweenOperations = [&] {
        if (!run.stopRequested())
            return false;
        if (!run.stopTookEffect() && !stopLogged)
            oplog::LogFailure("Wizard", platform::kStoppedByUser);
        stopLogged = true;
        return true;
    };

    auto call = [&](std::uint16_t bit, const char* name, const auto& operation) {
        if (!(r.mask & bit) || stoppedBetweenOperations())
            return;
        if (!ops.isAvailable(bit)) {
            oplog::LogOperation("Wizard", QString(name) + " is not available yet", true);
            return;
        }
        outcome.operationsDone.append(name);
        try {
            operation();
        } catch (const platform::Stopped& stopped) {
            if (!run.stopTookEffect())
                oplog::LogFailure("Wizard", stopped.what());
            stopLogged = true;
        } catch (const std::exception& e) {
            oplog::LogOperation("Wizard", QString("Serious error:") + e.what(), true);
        } catch (...) {
            oplog::LogOperation("Wizard", "Serious error: unknown failure", true);
        }
    };

    call(GrayscaleBit, "Set grayscale and resize", [&] { ops.RunGrayscaleResize(run, source, true); });
    call(IndexBit, "Create Index", [&] {
        ops.CollectIndex(run, r.indexTemplate, r.indexName, source, destination, r.courseName,
                         !(r.mask & TOCBit), r.indexLanguage);
    });
    call(TOCBit, "Create Table of Contents", [&] {
        const QString tocSource = (r.mask & IndexBit) ? workingDirectory : source;
        ops.CollectTOC(run, r.tocTemplate, r.tocName, tocSource, destination, r.courseName, true,
                       r.tocTitleSource);
    });
    call(PrintReadyBit, "Create print ready files", [&] {
        ops.RunPrintReady(run, source, destination, r.makePDFs, true, r.zipResult, r.printReadyZipFilename,
                          r.pptPrinter, r.wordPrinter, r.pdfPrinter, r.printSwitches,
                          r.takeWarmRenderer ? r.takeWarmRenderer() : nullptr);
    });
    call(ZipBit, "Create zip file",
         [&] { ops.RunZipPackaging(run, source, destination, true, "Course.zip"); });
    stoppedBetweenOperations();
    outcome.filesWritten = run.writtenFiles();
    return outcome;
}

} // namespace lf::wizard
