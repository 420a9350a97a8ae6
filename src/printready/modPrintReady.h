#pragma once
// modPrintReady: the print-ready run. Every deck and Word document of a course folder is printed to
// a print file (.prn) in the print-ready folder, slides for the decks whose name begins with "00",
// notes pages for the others, and on request turned into PDF too (modPDF). A repository course is
// exported into the working directory first, and the results are imported into the repository
// destination afterwards, optionally as one zip file. Log tag "PRU". Pages are laid out by LibreOffice
// (one warm instance for the run) and printed through CUPS; no course file is ever written.
#include "office/render/libreoffice.h"

#include <QSet>
#include <QString>

#include <functional>
#include <memory>

namespace lf::courserun {
class CourseRun;
}

namespace lf::printready {

// The switches of the settings file the run reads, as loaded.
struct PrintSwitches {
    bool useBackgroundPrinting = false; // decks print in the background (documents always do)
    bool publishPDFs = true;            // PDFs exported into the print-ready folder, else printed
    bool archivePDFs = false;           // exported PDFs are PDF/A-2b
};

// Creates the folder and every missing folder above it. A drive root ("D:", "D:\") is a folder that is
// there when its drive is ready. A path without a drive cannot be made (there is no drive to start
// from), nor one where a file stands: those fail with a description instead.
void MakeFolderPath(const QString& folderPath);

// The names of the files one run wrote into its print-ready folder: a second file of the same name
// (a deck and a document with one stem, names that only letter case tells apart) would silently
// replace the first, so it gets the first free name "stem (2).ext", "stem (3).ext"... and a line says so.
class RunOutputNames {
public:
    // folder: the print-ready folder; beforeWriting is told every path claimed, before it is written.
    explicit RunOutputNames(QString folder, std::function<void(const QString&)> beforeWriting = {})
        : folder_(std::move(folder)), beforeWriting_(std::move(beforeWriting)) {}
    // The file name for the output of `source`; logs under `tag` when it is not stem + "." + extension.
    QString claim(const QString& stem, const QString& extension, const QString& source, const QString& tag);
    // The same as the path in the print-ready folder.
    QString claimPath(const QString& stem, const QString& extension, const QString& source,
                      const QString& tag);

private:
    QString folder_;
    std::function<void(const QString&)> beforeWriting_;
    QSet<QString> taken_; // case-folded
};

// The run prints the decks and documents it staged: those of a local source folder, or those the
// export of a repository course wrote into the working directory. Every way out waits for the run's
// print queue, then cleans the working files when asked. `warm`: LibreOffice started ahead for this
// run (printing::startRenderer, with the run's stop request), which the run takes over and ends; none:
// the run starts its own with the first file.
void RunPrintReady(courserun::CourseRun& run, const QString& sourcePath, const QString& destinationPath,
                   bool makePDFs, bool cleanWorkingFiles, bool zipPrintFiles, const QString& zipFileName,
                   const QString& pptPrinter, const QString& wordPrinter, const QString& pdfPrinter,
                   const PrintSwitches& switches, std::unique_ptr<render::LibreOffice> warm = nullptr);
// The operation as a run of its own in workingDirectory.
void RunPrintReady(const QString& sourcePath, const QString& destinationPath, bool makePDFs,
                   const QString& workingDirectory, bool cleanWorkingFiles, bool zipPrintFiles,
                   const QString& zipFileName, const QString& pptPrinter, const QString& wordPrinter,
                   const QString& pdfPrinter, const PrintSwitches& switches);

} // namespace lf::printready
