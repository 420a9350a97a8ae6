#pragma once
// What the TOC and Index operations share besides the entry table: host paths for the Windows-style
// texts, the staging of the course's decks in the working path, the closing line of a failed operation,
// and the guard that gives back what an operation started on every way out.
#include <QString>

#include <filesystem>
#include <memory>

namespace lf::ppt {
class Application;
}

namespace lf::indexing {

// The host file a local Windows-style path leads to; fails with the reason when it leads nowhere.
std::filesystem::path hostFile(const QString& localPath);

// The lines one operation logs while it stages its decks.
struct StagingLines {
    QString tag;           // "TOC", "Index"
    QString exportFailed;  // "Unable to export files for TOC creation"
    QString downloadedFor; // " for TOC creation"
};

// Puts the course's decks where the operation reads them and returns that working path: a repository
// source is exported into the working directory; a local source other than the working directory is
// copied into it (each copy a working file); otherwise the source itself is read.
QString StageDecks(const QString& sourcePath, const QString& workingDirectory, const StagingLines& lines);

// The repository side of staging: exports the decks of the folder at sourcePath into the working
// directory, logging the failed export (then showing the errors dialog) or the downloaded line.
QString ExportDecks(const QString& sourcePath, const QString& workingDirectory, const StagingLines& lines);

// The closing line of an operation that failed: the repository library's message for the error when
// it knows one, otherwise "Serious error:" and the description.
void ReportFailure(const QString& tag, const QString& description);

// The PowerPoint instance of one operation, visible and minimised, and the hourglass it may show:
// both are given back when the guard dies, whichever way the operation ends.
class OperationResources {
public:
    OperationResources();
    ~OperationResources();
    OperationResources(const OperationResources&) = delete;
    OperationResources& operator=(const OperationResources&) = delete;

    ppt::Application& startPowerPoint();
    ppt::Application& powerPoint() { return *powerPoint_; }
    void quitPowerPoint();
    // The last steps of a collection: the working files deleted when asked, PowerPoint quit, pending
    // events run, and the closing line logged under tag.
    void finish(bool cleanWorkingFiles, const QString& tag, const QString& closingLine);
    void showHourglass();
    void showDefaultPointer();

private:
    std::unique_ptr<ppt::Application> powerPoint_;
    bool hourglass_ = false;
};

} // namespace lf::indexing
