#pragma once
// modPrintReady: the print-ready run. Every deck and Word document of a course folder is printed to
// a print file (.prn) in the print-ready folder, slides for the decks whose name begins with "00",
// notes pages for the others, and on request turned into PDF too (modPDF). A repository course is
// exported into the working directory first, and the results are imported into the repository
// destination afterwards, optionally as one zip file. Log tag "PRU". Pages are laid out by LibreOffice
// (one warm instance for the run) and printed through CUPS; no course file is ever written.
#include <QSet>
#include <QString>

namespace lf::printready {

// The two switches of the settings file the run reads, as loaded.
struct PrintSwitches {
    bool useBackgroundPrinting = false; // decks print in the background (documents always do)
    bool publishPDFs = true;            // PDFs exported into the print-ready folder, else printed
};

// Creates the folder and every missing folder above it. A path without any "\" cannot be made
// (there is no drive to start from): that fails with a description instead.
void MakeFolderPath(const QString& folderPath);

// The names of the files one run wrote into its print-ready folder: a second file of the same name
// (a deck and a document with one stem, names that only letter case tells apart) would silently
// replace the first, so it gets the first free name "stem (2).ext", "stem (3).ext"... and a line says so.
class RunOutputNames {
public:
    // The file name for the output of `source`; logs under `tag` when it is not stem + "." + extension.
    QString claim(const QString& stem, const QString& extension, const QString& source, const QString& tag);

private:
    QSet<QString> taken_; // case-folded
};

void RunPrintReady(const QString& sourcePath, const QString& destinationPath, bool makePDFs,
                   const QString& workingDirectory, bool cleanWorkingFiles, bool zipPrintFiles,
                   const QString& zipFileName, const QString& pptPrinter, const QString& wordPrinter,
                   const QString& pdfPrinter, const PrintSwitches& switches);

} // namespace lf::printready
