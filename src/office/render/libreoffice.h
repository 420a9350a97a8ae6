#pragma once
// LibreOffice as the renderer of decks and documents: one warm headless instance (or one per core),
// started on the first file and reused for every file after it, driven over a pipe connection. It
// only ever reads the course files: each file is copied into the instance's private folder and the
// copy is loaded read-only and hidden, so no lock file, no autosave and no store ever reaches the
// course folder. Each render has a time limit; an instance that dies or stops answering is ended, the
// file fails with a description of what happened, and the next render starts a fresh instance.
// Every instance ends with the LibreOffice object at the latest, and with the program if it dies.
// An instance may be started ahead of the first file (warmUp), and is renewed after a number of files
// or past a resident size, between two files.
#include "office/render/pdf_export.h"
#include "platform/stop_request.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace lf::render {

class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the pages of the PDF show.
enum class PageLayout {
    Slides,        // a deck's slides, one page each
    NotesPages,    // a deck's notes pages, one per slide, as the office lays notes pages out
    DocumentPages, // every page of a word-processing document
};

// An instance takes about 0.4 GB of address space for a small deck, 0.7 GB after the decks of a
// course, 0.8 GB for the notes pages of a 400-slide deck (most of it reserved, not used): five times
// that is more than a real file takes, and little enough that a file that would take the machine's
// memory is stopped first.
constexpr std::uint64_t defaultMemoryLimit = std::uint64_t(4) << 30;

// An instance is renewed (ended between two files, the next file starting a fresh one) after this
// many files, or once it holds more than this much resident memory: the office keeps caches and
// fragments its heap over a long run, so a 300-deck course would otherwise grow it far past what
// one deck takes. The start costs about a second every forty files.
constexpr int defaultRenewAfterFiles = 40;
constexpr std::uint64_t defaultRenewAboveResident = std::uint64_t(640) << 20;

struct RenderOptions {
    // How many instances may render at once (each with its own profile); 1 or more.
    int instances = 1;
    // Measured: one instance renders to begin with, and a further one (up to `instances`) is started
    // only when the machine shows it would pay (see LibreOffice::Impl::judge). Otherwise every one of
    // the `instances` is used as soon as there is work for it.
    bool measured = false;
    // See defaultRenewAfterFiles; 0: never by count, or never by memory.
    int renewAfterFiles = defaultRenewAfterFiles;
    std::uint64_t renewAboveResident = defaultRenewAboveResident;
    // The longest one file may take, from the moment an instance takes it.
    std::chrono::milliseconds perFileLimit{std::chrono::seconds(120)};
    // The office program; empty: the one the system's package installs.
    std::filesystem::path program;
    // The most address space an instance may take (RLIMIT_AS), in bytes; 0: no limit. A file that
    // takes its instance past it fails ("... went past its memory limit ...") and the instance is
    // ended, as for the time limit; the next file starts a new one.
    std::uint64_t memoryLimit = defaultMemoryLimit;
    // Once this is requested, a file being rendered has its instance ended as a hung one's is (the
    // next file starts a new one), and fails saying the run was stopped.
    const platform::StopRequest* stop = nullptr;
};

class LibreOffice {
public:
    explicit LibreOffice(RenderOptions options = {});
    ~LibreOffice(); // ends every instance it started
    LibreOffice(const LibreOffice&) = delete;
    LibreOffice& operator=(const LibreOffice&) = delete;

    // Renders `source` (.pptx or .docx) as a PDF written to `pdf` (replaced atomically: a failed
    // render leaves no file and an older one untouched), carrying what `pdfExport` asks for beyond its
    // pages. Hidden slides are left out. Thread-safe: up
    // to `instances` calls render at once, the others wait for a free instance. Throws RenderError
    // with a description naming the file ("... stopped answering on Module03.pptx after 120 s; the
    // instance was ended", "... cannot load ...").
    void renderPdf(const std::filesystem::path& source, const std::filesystem::path& pdf, PageLayout layout,
                   const PdfExport& pdfExport = {});

    // The process ids of the instances running now (a test ends one to see the watchdog work).
    std::vector<int> instanceProcessIds() const;

    // How many instances may render at once now: `instances`, or with `measured` as many as the
    // machine has shown to pay so far.
    int instancesInUse() const;

    // Starts an instance now, when none runs yet, so that the first file does not wait for it (a
    // failure here is not reported: the first render meets it again). Returns at once; the start
    // goes on on a thread of its own, and renders wait for it.
    void warmUp();

private:
    struct Impl;
    Impl* impl_;
};

} // namespace lf::render
