#pragma once
// modPDF: the PDF copies of a course's decks and Word documents during the print-ready run, made by
// export into the print-ready folder or printed on the PDF printer the user chose. Log tags
// "PRUpptpdf" (decks) and "PRUwordpdf" (documents). The applications are the run's own.
#include "office/render/pdf_export.h"

#include <QString>
#include <QStringList>

namespace lf::ppt {
class Application;
}
namespace lf::word {
class Application;
}

namespace lf::printready {

class RunOutputNames;

// The office output type of a deck: slides (1) when its file name begins with "00", notes pages (5)
// otherwise.
int deckOutputType(const QString& fileName);

// Each routine makes the PDFs of the named files of sourceFolder (the decks or documents the run
// staged), in the order given; published PDFs go where names puts them and carry what pdfExport asks.
void PrintDecksToPdfPrinter(lf::ppt::Application& powerPoint, const QString& sourceFolder,
                            const QStringList& decks, const QString& pdfPrinter);
void PublishDecksAsPdf(lf::ppt::Application& powerPoint, const QString& sourceFolder,
                       const QStringList& decks, RunOutputNames& names, const render::PdfExport& pdfExport);
void PrintDocumentsToPdfPrinter(lf::word::Application& word, const QString& sourceFolder,
                                const QStringList& documents, const QString& pdfPrinter);
void PublishDocumentsAsPdf(lf::word::Application& word, const QString& sourceFolder,
                           const QStringList& documents, RunOutputNames& names,
                           const render::PdfExport& pdfExport);

// The host path of a file of the course (through the drive map); fails with the reason.
std::string hostFile(const QString& localPath);

} // namespace lf::printready
