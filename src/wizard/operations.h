#pragma once
// The five operations that the run page calls, with the argument lists of the dispatch. Each entry is
// filled in when its operation is built (program.cpp); an empty entry is an operation that is not
// available yet, whose check box page 2 disables. Every operation returns nothing and reports only
// through the operation log (platform/oplog.h) and message boxes; none passes a failure back.
//
// Source and destination paths arrive normalized (one trailing "\" or "/" removed); a text box named
// below stands for its current text.
#include "courserun/course_run.h"
#include "indexing/toc_title_source.h"
#include "printready/modPrintReady.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace lf::wizard {

// The operation mask: one bit per checked operation box.
enum OperationBit : std::uint16_t {
    GrayscaleBit = 1,  // chkGrayscale
    IndexBit = 2,      // chkIndex
    TOCBit = 4,        // chkTOC
    PrintReadyBit = 8, // chkPRU
    ZipBit = 16,       // chkZip
};

// Every operation takes the run first: the one object that owns what lives for the run (the working
// directory, its working files, the session, what the Index staged for the TOC).
struct Operations {
    // sourcePath, checkIn (the dispatch passes true: check the decks back in).
    std::function<void(courserun::CourseRun& run, const QString& sourcePath, bool checkIn)>
        RunGrayscaleResize;

    // txtIndexTemplate, txtIndexName, source, destination, txtCourseName, cleanWorkingFiles (false
    // when the TOC follows in the same run and reads the staged decks), the setting IndexLanguage.
    std::function<void(courserun::CourseRun& run, const QString& indexTemplate, const QString& indexFileName,
                       const QString& sourcePath, const QString& destinationPath, const QString& courseName,
                       bool cleanWorkingFiles, const QString& indexLanguage)>
        CollectIndex;

    // txtTOCTemplate, txtTOCName, source (txtWorkingDirectory as typed when the Index ran before it),
    // destination, txtCourseName, cleanWorkingFiles (true), the setting TOCTitleSource as loaded.
    std::function<void(courserun::CourseRun& run, const QString& tocTemplate, const QString& tocFileName,
                       const QString& sourcePath, const QString& destinationPath, const QString& courseName,
                       bool cleanWorkingFiles, indexing::TOCTitleSource titleSource)>
        CollectTOC;

    // source, destination, chkPDF checked, cleanWorkingFiles (true), chkZipPDFs checked,
    // txtPrintReadyZipFilename, the PowerPoint, Word and PDF printer chosen, then the settings
    // UseBackgroundPrinting, PublishPDFs and ArchivePDFs as loaded, and the LibreOffice the window
    // started ahead for the run (none when it started none).
    std::function<void(courserun::CourseRun& run, const QString& sourcePath, const QString& destinationPath,
                       bool makePDFs, bool cleanWorkingFiles, bool zipResult, const QString& zipFileName,
                       const QString& pptPrinter, const QString& wordPrinter, const QString& pdfPrinter,
                       const printready::PrintSwitches& switches, std::unique_ptr<render::LibreOffice> warm)>
        RunPrintReady;

    // source, destination, cleanWorkingFiles (true), zip file name ("Course.zip").
    std::function<void(courserun::CourseRun& run, const QString& sourcePath, const QString& destinationPath,
                       bool cleanWorkingFiles, const QString& zipFileName)>
        RunZipPackaging;

    // Whether the operation of one mask bit is there to be called.
    bool isAvailable(std::uint16_t bit) const {
        switch (bit) {
        case GrayscaleBit:
            return bool(RunGrayscaleResize);
        case IndexBit:
            return bool(CollectIndex);
        case TOCBit:
            return bool(CollectTOC);
        case PrintReadyBit:
            return bool(RunPrintReady);
        case ZipBit:
            return bool(RunZipPackaging);
        default:
            return false;
        }
    }
};

} // namespace lf::wizard
