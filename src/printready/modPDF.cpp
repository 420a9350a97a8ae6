#include "printready/modPDF.h"

#include "office/document/word.h"
#include "office/presentation/presentation.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/services.h"
#include "printready/modPrintReady.h"

#include <stdexcept>

namespace lf::printready {

namespace {

const QString kDeckTag = QStringLiteral("PRUpptpdf");
const QString kDocumentTag = QStringLiteral("PRUwordpdf");

// The common frame: yield, "Printing", open, yield, make the PDF, close, "Printed: ... as PDF".
template <class Open, class MakePdf>
void eachFile(const QString& tag, const QString& folder, const QStringList& files, Open open,
              MakePdf makePdf) {
    for (const QString& name : files) {
        platform::yieldToEventLoop();
        oplog::LogOperation(tag, "Printing " + name, false);
        auto file = open(hostFile(folder + "\\" + name));
        platform::yieldToEventLoop();
        makePdf(file, name);
        file.close();
        oplog::LogOperation(tag, "Printed: " + name + " as PDF", false);
    }
}

ppt::Presentation openDeck(ppt::Application& powerPoint, const std::string& file) {
    return powerPoint.presentations().open(file, true, false, true);
}

// Both deck routines print a deck in colour and wait for it.
ppt::PrintOptions colourInTheForeground(ppt::Presentation& deck) {
    ppt::PrintOptions options = deck.printOptions();
    options.setPrintInBackground(false);
    options.setPrintColorType(ppt::office::ppPrintColor);
    return options;
}

// The PDF's name: the file name less its last four characters, + "pdf".
QString pdfStem(const QString& fileName) {
    return fileName.left(fileName.size() - 5);
}

} // namespace

std::string hostFile(const QString& localPath) {
    const platform::HostPath host = platform::toHostPath(localPath);
    if (!host.ok())
        throw std::runtime_error(host.error.toStdString());
    return platform::hostFsPath(host.path).string();
}

int deckOutputType(const QString& fileName) {
    return fileName.startsWith("00") ? ppt::office::ppPrintOutputSlides
                                     : ppt::office::ppPrintOutputNotesPages;
}

void PrintDecksToPdfPrinter(ppt::Application& powerPoint, const QString& sourceFolder,
                            const QStringList& decks, const QString& pdfPrinter) {
    eachFile(
        kDeckTag, sourceFolder, decks, [&](const std::string& file) { return openDeck(powerPoint, file); },
        [&](ppt::Presentation& deck, const QString& name) {
            ppt::PrintOptions options = colourInTheForeground(deck);
            const std::string remembered = options.activePrinter();
            options.setActivePrinter(pdfPrinter.toStdString());
            options.setOutputType(deckOutputType(name));
            deck.printOut();
            // The deck's own printer again; an empty one (none chosen yet) is no printer to check.
            if (!remembered.empty())
                options.setActivePrinter(remembered);
        });
    oplog::LogOperation(kDeckTag, "All ppt files printed as PDF", false);
}

void PublishDecksAsPdf(ppt::Application& powerPoint, const QString& sourceFolder, const QStringList& decks,
                       RunOutputNames& names, const render::PdfExport& pdfExport) {
    eachFile(
        kDeckTag, sourceFolder, decks, [&](const std::string& file) { return openDeck(powerPoint, file); },
        [&](ppt::Presentation& deck, const QString& name) {
            colourInTheForeground(deck);
            ppt::FixedFormatOptions pdf;
            pdf.outputType = deckOutputType(name);
            pdf.pdf = pdfExport;
            const QString target = names.claimPath(pdfStem(name), "pdf", name, kDeckTag);
            powerPoint.activePresentation().exportAsFixedFormat(hostFile(target), pdf);
        });
    oplog::LogOperation(kDeckTag, "All ppt files printed as PDF", false);
}

void PrintDocumentsToPdfPrinter(word::Application& word, const QString& sourceFolder,
                                const QStringList& documents, const QString& pdfPrinter) {
    const std::string remembered = word.activePrinter();
    try {
        word.setActivePrinter(pdfPrinter.toStdString());
        eachFile(
            kDocumentTag, sourceFolder, documents,
            [&](const std::string& file) { return word.documents().open(file); },
            [&](word::Document& document, const QString&) { document.printOut(true, false); });
    } catch (const std::exception&) {
        // The routine ends quietly and the run goes on; the printer is put back all the same.
        word.setActivePrinter(remembered);
        return;
    }
    oplog::LogOperation(kDocumentTag, "All word files printed as PDF", false);
    word.setActivePrinter(remembered);
}

void PublishDocumentsAsPdf(word::Application& word, const QString& sourceFolder, const QStringList& documents,
                           RunOutputNames& names, const render::PdfExport& pdfExport) {
    eachFile(
        kDocumentTag, sourceFolder, documents,
        [&](const std::string& file) { return word.documents().open(file); },
        [&](word::Document& document, const QString& name) {
            const QString target = names.claimPath(pdfStem(name), "pdf", name, kDocumentTag);
            document.exportAsFixedFormat(hostFile(target), word::office::wdExportFormatPDF, pdfExport);
        });
    oplog::LogOperation(kDocumentTag, "All word files printed as PDF", false);
}

} // namespace lf::printready
