#include "office/printing/office_printing.h"

#include "office/render/libreoffice.h"
#include "office/render/renderer_version.h"
#include "platform/printing.h"
#include "platform/private_folder.h"
#include "platform/whole_file.h"

#include <QString>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <tuple>

namespace lf::printing {

namespace fs = std::filesystem;

namespace {

render::PageLayout layoutOf(Pages pages) {
    switch (pages) {
    case Pages::Slides:
        return render::PageLayout::Slides;
    case Pages::NotesPages:
        return render::PageLayout::NotesPages;
    case Pages::Document:
        break;
    }
    return render::PageLayout::DocumentPages;
}

// The most instances the engine may run: as asked, or one per core up to four, of which the renderer
// starts only as many as the machine shows to pay (one to begin with; see render::RenderOptions).
int instanceCount(int asked) {
    if (asked > 0)
        return asked;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

render::RenderOptions renderOptions(const OfficePrintingOptions& options) {
    render::RenderOptions render;
    render.instances = instanceCount(options.instances);
    render.measured = options.instances <= 0;
    render.perFileLimit = options.perFileLimit;
    render.stop = options.stop;
    return render;
}

std::unique_ptr<render::LibreOffice> rendererFor(OfficePrintingOptions& options) {
    if (options.warm)
        return std::move(options.warm);
    return std::make_unique<render::LibreOffice>(renderOptions(options));
}

// The rendered PDFs of one engine, in a private folder that a later run removes should this one be
// killed before it can.
std::unique_ptr<platform::PrivateFolder> makePrivateFolder() {
    try {
        return std::make_unique<platform::PrivateFolder>("lessonforge-print");
    } catch (const std::system_error& failure) {
        throw PrintError(std::string("cannot make a private folder for printing: ") + failure.what());
    }
}

QString q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// One laid-out file: the same file (by its place, size and time of change) in the same layout, as a
// PDF/A or not.
struct RenderKey {
    std::string file;
    Pages pages;
    std::uintmax_t size;
    fs::file_time_type changed;
    bool archive;
    bool operator<(const RenderKey& o) const {
        return std::tie(file, pages, size, changed, archive) <
               std::tie(o.file, o.pages, o.size, o.changed, o.archive);
    }
};

RenderKey keyOf(const fs::path& source, Pages pages, const render::PdfExport& pdfExport) {
    std::error_code error;
    const fs::path place = fs::weakly_canonical(source, error);
    const std::uintmax_t size = error ? 0 : fs::file_size(place, error);
    const fs::file_time_type changed = error ? fs::file_time_type() : fs::last_write_time(place, error);
    if (error)
        throw PrintError("cannot read " + source.string() + ": " + error.message());
    return {place.string(), pages, size, changed, pdfExport.archive};
}

// A laid-out file of the program's own: the PDF in the engine's private folder, with the SHA-256 of its
// bytes (what the print file kept for it is found by).
struct Rendered {
    fs::path pdf;
    std::string hash;
};

// The key of the file's pages across runs: its bytes, the layout, what the export carries, its name
// (the PDF's title when the file has none of its own) and the renderer's version. Empty when the file
// cannot be read (its render then says why).
std::string pageKeyOf(const fs::path& source, Pages pages, const render::PdfExport& pdfExport) {
    const std::string content = fileSha256(source);
    if (content.empty())
        return {};
    return cacheKey({"pages 1", content, std::to_string(static_cast<int>(pages)),
                     pdfExport.archive ? "PDF/A" : "", source.stem().string(), render::rendererVersion()});
}

} // namespace

struct OfficePrinting::Impl {
    explicit Impl(OfficePrintingOptions o)
        : options(std::move(o)), ownOffice(rendererFor(options)), office(*ownOffice),
          privateFolder(makePrivateFolder()) {
        // One worker more than instances: while every instance lays a file out, it runs the filter
        // chain of the file laid out before, on a processor the instances leave.
        for (int i = 0; i <= instanceCount(options.instances); ++i)
            workers.emplace_back([this] { work(); });
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread& t : workers)
            t.join();
    }

    // The PDF of the file in that layout, taken from the page cache or laid out by LibreOffice the
    // first time it is asked for; callers asking for one being laid out wait for it. A failed layout
    // is not kept, so the next request tries again.
    Rendered renderedPdf(const fs::path& source, Pages pages, const render::PdfExport& pdfExport = {}) {
        const RenderKey key = keyOf(source, pages, pdfExport);
        std::promise<Rendered> promise;
        std::shared_future<Rendered> result;
        bool mine = false;
        fs::path pdf;
        {
            std::lock_guard lock(cacheMutex);
            auto found = rendered.find(key);
            if (found != rendered.end()) {
                result = found->second;
            } else {
                result = promise.get_future().share();
                rendered.emplace(key, result);
                mine = true;
                pdf = privateFolder->path() / (std::to_string(++renderCount) + ".pdf");
            }
        }
        if (mine) {
            try {
                const std::string pageKey = pageKeyOf(source, pages, pdfExport);
                if (std::optional<std::string> hash = pageCache.fetch(pageKey, pdf)) {
                    if (options.onPagesReused)
                        options.onPagesReused(source);
                    promise.set_value({pdf, *hash});
                } else {
                    office.renderPdf(source, pdf, layoutOf(pages), pdfExport);
                    promise.set_value({pdf, pageCache.store(pageKey, pdf)});
                }
            } catch (const std::exception& failure) {
                {
                    std::lock_guard lock(cacheMutex);
                    rendered.erase(key);
                }
                promise.set_exception(std::make_exception_ptr(PrintError(failure.what())));
            }
        }
        return result.get();
    }

    void printNow(const PrintJob& job) {
        const Rendered rendered = renderedPdf(job.source, job.pages);
        const QString printer = QString::fromStdString(job.printer);
        try {
            if (job.printFile.empty()) {
                platform::submitPrintJob(printer, q(rendered.pdf), q(job.source.filename()));
            } else {
                platform::PrintFileStore store;
                store.pdfHash = rendered.hash;
                store.fetch = [this](const std::string& key, const fs::path& printFile) {
                    return pageCache.fetch(key, printFile).has_value();
                };
                store.store = [this](const std::string& key, const fs::path& printFile) {
                    pageCache.store(key, printFile);
                };
                platform::writePrintFile(printer, q(rendered.pdf), q(job.printFile), store);
            }
        } catch (const platform::PrintingError& failure) {
            throw PrintError(failure.what());
        }
    }

    // A job without a printer only lays its file out.
    void doJob(const PrintJob& job) {
        if (job.printer.empty() && job.printFile.empty())
            renderedPdf(job.source, job.pages);
        else
            printNow(job);
    }

    // A job waited for goes first: the caller stands still until it is done.
    void enqueue(PrintJob job, std::shared_ptr<std::promise<void>> done = nullptr) {
        {
            std::lock_guard lock(mutex);
            if (done)
                queue.push_front({std::move(job), std::move(done)});
            else
                queue.push_back({std::move(job), nullptr});
        }
        wake.notify_one();
    }

    // A foreground job done by a worker while the caller's thread goes on calling whileWaiting.
    void printWhileWaiting(const PrintJob& job) {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        enqueue(job, std::move(done));
        while (finished.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            options.whileWaiting();
        finished.get();
    }

    void work() {
        while (true) {
            Queued next;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return stopping || !queue.empty(); });
                if (queue.empty())
                    return; // stopping, and nothing is left to do
                next = std::move(queue.front());
                queue.pop_front();
                ++running;
            }
            const bool ahead = next.job.printer.empty() && next.job.printFile.empty();
            try {
                doJob(next.job);
                if (next.done)
                    next.done->set_value();
            } catch (const std::exception& failure) {
                if (next.done)
                    next.done->set_exception(std::current_exception());
                else if (!ahead && options.onBackgroundFailure)
                    options.onBackgroundFailure(failure.what());
            }
            {
                std::lock_guard lock(mutex);
                --running;
            }
            idle.notify_all();
        }
    }

    bool waitForQueue(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return idle.wait_for(lock, limit, [this] { return queue.empty() && running == 0; });
    }

    OfficePrintingOptions options;
    std::unique_ptr<render::LibreOffice> ownOffice;
    render::LibreOffice& office;
    std::unique_ptr<platform::PrivateFolder> privateFolder;

    std::mutex cacheMutex;
    std::map<RenderKey, std::shared_future<Rendered>> rendered;
    PageCache pageCache{options.pageCacheFolder, options.pageCacheLimit};
    int renderCount = 0;

    std::mutex mutex;
    std::condition_variable wake, idle;
    struct Queued {
        PrintJob job;
        std::shared_ptr<std::promise<void>> done; // set when someone waits for the job
    };
    std::deque<Queued> queue;
    int running = 0;
    bool stopping = false;
    std::vector<std::thread> workers; // last: they start once everything above is there
};

std::unique_ptr<render::LibreOffice> startRenderer(const platform::StopRequest* stop) {
    OfficePrintingOptions options;
    options.stop = stop;
    auto office = std::make_unique<render::LibreOffice>(renderOptions(options));
    office->warmUp();
    return office;
}

OfficePrinting::OfficePrinting(OfficePrintingOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

OfficePrinting::~OfficePrinting() = default;

void OfficePrinting::checkPrinter(const std::string& printer) {
    if (!platform::printerExists(QString::fromStdString(printer)))
        throw PrintError("there is no printer named \"" + printer + "\"");
}

void OfficePrinting::print(const PrintJob& job) {
    if (job.background)
        impl_->enqueue(job);
    else if (impl_->options.whileWaiting)
        impl_->printWhileWaiting(job);
    else
        impl_->printNow(job);
}

void OfficePrinting::prepare(const fs::path& source, Pages pages) {
    PrintJob job;
    job.source = source;
    job.pages = pages;
    job.background = true;
    impl_->enqueue(std::move(job));
}

void OfficePrinting::exportPdf(const fs::path& source, Pages pages, const fs::path& pdf,
                               const render::PdfExport& pdfExport) {
    const fs::path rendered = impl_->renderedPdf(source, pages, pdfExport).pdf;
    const std::string why = platform::copyWholeFile(rendered, pdf);
    if (!why.empty())
        throw PrintError("cannot write " + pdf.string() + ": " + why);
}

void OfficePrinting::warmUp() {
    impl_->office.warmUp();
}

int OfficePrinting::instancesInUse() const {
    return impl_->office.instancesInUse();
}

bool OfficePrinting::waitForQueue(std::chrono::milliseconds limit) {
    return impl_->waitForQueue(limit);
}

} // namespace lf::printing
