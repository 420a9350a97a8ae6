#pragma once
// The program's print engine: LibreOffice lays the pages out (as PDF), CUPS takes them from there.
// A print file is the PDF through the printer's filter chain; a job on a printer is the PDF sent to
// it; an export is the PDF itself. A file is laid out once per layout however often it is printed
// and exported (the second use takes the first's pages), and the renderer stays warm from the first
// file to the engine's end. Background jobs are queued and done by workers, one more than the
// LibreOffice instances, while the caller goes on; the engine's end waits for them. The pages and print
// files are kept across runs too (page_cache.h): a file whose bytes, layout and renderer are those of
// an earlier run's takes that run's pages without LibreOffice, and its print file too when the printer
// and its settings are the same.
#include "office/printing/page_cache.h"
#include "office/printing/print_engine.h"
#include "office/render/libreoffice.h"
#include "platform/stop_request.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace lf::printing {

struct OfficePrintingOptions {
    // LibreOffice instances: 0 starts one and adds one (up to one per core, at most four) only when
    // the machine shows it pays. The workers are one more than the most instances.
    int instances = 0;
    // The longest LibreOffice may take over one file before its instance is ended.
    std::chrono::milliseconds perFileLimit{std::chrono::seconds(120)};
    // Called on a worker thread when a background job fails, with the description of the failure
    // (naming the file); the caller hands it to its own thread.
    std::function<void(const std::string& description)> onBackgroundFailure;
    // Given: a print in the foreground is done by a worker while the caller's thread calls this
    // (every 50 ms) until it is done, so that a window stays responsive through a long print.
    std::function<void()> whileWaiting;
    // Once this is requested, LibreOffice's work on a file is ended as a hung file's is.
    const platform::StopRequest* stop = nullptr;
    // The folder of the pages kept across runs (empty: the user's cache folder) and its bound.
    std::filesystem::path pageCacheFolder;
    std::uint64_t pageCacheLimit = defaultPageCacheLimit;
    // Called (on whichever thread lays the file out) when a file's pages are those an earlier run laid
    // out, taken from the cache instead of LibreOffice; once per file and layout in a run.
    std::function<void(const std::filesystem::path& source)> onPagesReused;
    // The renderer startRenderer started ahead, with the same stop request: the engine takes it over
    // and ends it at its own end. None: the engine starts its own with the first file.
    std::unique_ptr<render::LibreOffice> warm;
};

// LibreOffice for an engine made later, its first instance starting now on a thread of its own (see
// OfficePrintingOptions::warm); it ends with the object that holds it.
std::unique_ptr<render::LibreOffice> startRenderer(const platform::StopRequest* stop);

class OfficePrinting final : public PrintEngine {
public:
    explicit OfficePrinting(OfficePrintingOptions options = {});
    // Waits for the queued jobs, then ends every LibreOffice instance and removes its private files.
    ~OfficePrinting() override;
    OfficePrinting(const OfficePrinting&) = delete;
    OfficePrinting& operator=(const OfficePrinting&) = delete;

    void checkPrinter(const std::string& printer) override;
    void print(const PrintJob& job) override;
    void exportPdf(const std::filesystem::path& source, Pages pages, const std::filesystem::path& pdf,
                   const render::PdfExport& pdfExport) override;

    // Lays the file out ahead, on a worker, so that a print or export of it that follows finds its
    // pages ready (a failure here is not reported: the print that follows meets it again).
    void prepare(const std::filesystem::path& source, Pages pages);

    // Starts LibreOffice now, on a thread of its own, so that the first file does not wait for it.
    void warmUp();

    // How many LibreOffice instances lay files out at once now.
    int instancesInUse() const;

    // Waits at most `limit` for every job queued so far to be done (failed ones included); true when
    // none is left.
    bool waitForQueue(std::chrono::milliseconds limit);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lf::printing
