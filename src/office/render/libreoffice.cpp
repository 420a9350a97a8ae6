// The renderer over the UNO remote bridge: our process bootstraps a local UNO context from the
// installed type and service libraries, connects to each instance's pipe with a Connector, runs the
// URP protocol over it with a bridge from the BridgeFactory, and calls the instance's Desktop to load
// the private copy (XComponentLoader), store it as a PDF (XStorable::storeToURL) and close it
// (XCloseable). A call blocked in the instance returns as soon as the instance's process group is
// killed: the bridge sees its pipe close and throws DisposedException in the waiting thread.
#include "office/render/libreoffice.h"

#include "office/opc/package.h"
#include "office/render/child_process.h"
#include "office/render/pdf_catalog.h"
#include "office/render/text_language.h"
#include "platform/private_folder.h"
#include "platform/whole_file.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XDocumentProperties.hpp>
#include <com/sun/star/document/XDocumentPropertiesSupplier.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/drawing/XShapes.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ustrbuf.hxx>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace lf::render {

namespace fs = std::filesystem;
namespace uno = com::sun::star::uno;
using rtl::OString;
using rtl::OUString;
using uno::Reference;
using uno::UNO_QUERY;
using uno::UNO_QUERY_THROW;

namespace {

// How long a new instance may take to open its pipe and hand out its desktop.
constexpr std::chrono::seconds startLimit{60};
// How long an instance may take to end after being asked to, before its group is killed.
constexpr std::chrono::seconds endGrace{5};
// How close to its memory limit an instance that failed must have come to be taken for one that went
// past it (at least; an eighth of the limit when that is more): an allocation that fails is one that
// would have taken it past, and the office allocates in blocks up to this size.
constexpr std::uint64_t memoryLimitMargin = std::uint64_t(64) << 20;
// soffice.bin asks to be started again with this exit code (its launcher does that when run by the
// script); it may do so the first time it sets up a new profile.
constexpr int restartExitCode = 81;

std::string utf8(const OUString& s) {
    return rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr();
}
OUString ou(const std::string& s) {
    return OUString::fromUtf8(s.c_str());
}

// A file URL for a local path, every byte that is not plainly safe percent-encoded.
std::string fileUrl(const fs::path& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path.string()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::strchr("/-._~", c) != nullptr) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

com::sun::star::beans::PropertyValue property(const char* name, const uno::Any& value) {
    return com::sun::star::beans::PropertyValue(OUString::createFromAscii(name), -1, value,
                                                com::sun::star::beans::PropertyState_DIRECT_VALUE);
}

uno::Sequence<com::sun::star::beans::PropertyValue>
properties(std::initializer_list<com::sun::star::beans::PropertyValue> list) {
    return uno::Sequence<com::sun::star::beans::PropertyValue>(list.begin(),
                                                               static_cast<sal_Int32>(list.size()));
}

// The longest text taken for a bookmark or the document's title; a slide's title past it is cut.
constexpr sal_Int32 maxTitleLength = 250;

// A text as one line: every run of blanks, line and paragraph breaks made one blank, cut to its
// bound, without blanks at either end.
OUString oneLine(const OUString& text) {
    rtl::OUStringBuffer line;
    bool blank = false;
    for (sal_Int32 i = 0; i < text.getLength() && line.getLength() < maxTitleLength; ++i) {
        const sal_Unicode c = text[i];
        if (c <= ' ' || c == 0x2028 || c == 0x2029 || c == 0xA0) {
            blank = line.getLength() > 0;
            continue;
        }
        if (blank) {
            line.append(' ');
            blank = false;
        }
        line.append(c);
    }
    return line.makeStringAndClear();
}

// The text of the slide's title placeholder, as one line; empty when it has none.
OUString slideTitle(const Reference<com::sun::star::drawing::XShapes>& slide) {
    using namespace com::sun::star;
    for (sal_Int32 i = 0; slide.is() && i < slide->getCount(); ++i) {
        Reference<lang::XServiceInfo> shape(slide->getByIndex(i), UNO_QUERY);
        if (!shape.is() || !shape->supportsService("com.sun.star.presentation.TitleTextShape"))
            continue;
        Reference<text::XTextRange> text(shape, UNO_QUERY);
        if (text.is())
            return oneLine(text->getString());
    }
    return OUString();
}

// The loaded model made ready for the PDF, in memory only (the copy is never stored): a deck's slides
// named by their titles, which the outline shows as its bookmarks (a slide without a title keeps the
// name it has), and a title for a file that has none of its own.
void prepareForExport(const Reference<com::sun::star::lang::XComponent>& doc, bool deck,
                      const std::string& stem) {
    using namespace com::sun::star;
    OUString firstTitle;
    if (deck) {
        Reference<drawing::XDrawPagesSupplier> pages(doc, UNO_QUERY_THROW);
        const Reference<drawing::XDrawPages> slides = pages->getDrawPages();
        for (sal_Int32 i = 0; i < slides->getCount(); ++i) {
            Reference<drawing::XShapes> slide(slides->getByIndex(i), UNO_QUERY);
            const OUString title = slideTitle(slide);
            Reference<container::XNamed> named(slide, UNO_QUERY);
            if (title.isEmpty() || !named.is())
                continue;
            named->setName(title);
            bool shown = true;
            Reference<beans::XPropertySet> page(slide, UNO_QUERY);
            if (page.is())
                page->getPropertyValue("Visible") >>= shown;
            if (shown && firstTitle.isEmpty())
                firstTitle = title;
        }
    }
    Reference<document::XDocumentPropertiesSupplier> supplier(doc, UNO_QUERY);
    if (!supplier.is())
        return;
    const Reference<document::XDocumentProperties> properties = supplier->getDocumentProperties();
    if (properties.is() && oneLine(properties->getTitle()).isEmpty())
        properties->setTitle(firstTitle.isEmpty() ? ou(stem) : firstTitle);
}

// The export's settings: tagged, links and outline kept, the title shown as the window's, PDF/A-2b
// when archiving; a deck's slides or notes pages.
uno::Sequence<com::sun::star::beans::PropertyValue> pdfFilterData(bool deck, bool notes,
                                                                  const PdfExport& pdfExport) {
    std::vector<com::sun::star::beans::PropertyValue> data = {
        property("UseTaggedPDF", uno::Any(true)),
        property("ExportBookmarks", uno::Any(true)),
        property("ExportLinksRelativeFsys", uno::Any(false)),
        property("DisplayPDFDocumentTitle", uno::Any(true)),
        property("SelectPdfVersion", uno::Any(sal_Int32(pdfExport.archive ? 2 : 0))),
    };
    if (deck) {
        data.push_back(property("ExportNotesPages", uno::Any(notes)));
        data.push_back(property("ExportOnlyNotesPages", uno::Any(notes)));
        data.push_back(property("ExportHiddenSlides", uno::Any(false)));
    }
    return uno::Sequence<com::sun::star::beans::PropertyValue>(data.data(),
                                                               static_cast<sal_Int32>(data.size()));
}

// The PDF declares the language the file's text is in (the office declares its own for a deck).
void declareLanguage(const fs::path& copy, const fs::path& output, const std::string& name) {
    std::string language;
    try {
        language = textLanguage(copy);
    } catch (const opc::PackageError& e) {
        throw RenderError("cannot read the language of " + name + ": " + e.what());
    }
    if (!language.empty())
        setPdfLanguage(output, language);
}

std::string seconds(std::chrono::milliseconds d) {
    char text[32];
    if (d.count() % 1000 == 0) {
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(d.count() / 1000));
    } else {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(d.count()) / 1000.0);
    }
    return text;
}

// The UNO context of our own process: types and services of the installed office, bootstrapped once
// and kept for the life of the process (the runtime's libraries are not made to be torn down).
Reference<uno::XComponentContext> localContext() {
    static std::mutex mutex;
    static Reference<uno::XComponentContext>* context = nullptr;
    std::lock_guard lock(mutex);
    if (context == nullptr) {
        const std::string program = fileUrl(LF_LO_PROGRAM_DIR);
        // unorc names the types and services beside it and leaves the office's own (the office
        // API's types.rdb among them) to these two, which the office's launcher would set.
        rtl::Bootstrap::set("URE_MORE_TYPES", ou("<" + program + "/types>*"));
        rtl::Bootstrap::set("URE_MORE_SERVICES", ou("<" + program + "/services>*"));
        try {
            context = new Reference<uno::XComponentContext>(
                cppu::defaultBootstrap_InitialComponentContext(ou(program + "/unorc")));
        } catch (const uno::Exception& e) {
            throw RenderError("the UNO runtime of LibreOffice cannot start: " + utf8(e.Message));
        }
    }
    return *context;
}

// The program to start: the system's soffice unless the options name another. A soffice script
// beside its soffice.bin (as the system's is: soffice runs oosplash, which runs soffice.bin) is
// passed over for soffice.bin, so the process we watch and end is the one that holds the pipe.
fs::path officeBinary(const fs::path& program) {
    fs::path p = program.empty() ? fs::path(LF_LO_PROGRAM_DIR) / "soffice" : program;
    std::error_code ec;
    const fs::path real = fs::canonical(p, ec);
    if (!ec) {
        p = real;
    }
    fs::path bin = p;
    bin += ".bin";
    if (p.filename() == "soffice" && fs::exists(bin, ec)) {
        return bin;
    }
    return p;
}

// The last lines the instance wrote, for a description of why it did not start.
std::string tail(const fs::path& log) {
    std::ifstream in(log, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.size() > 400) {
        text = "..." + text.substr(text.size() - 400);
    }
    return text.empty() ? "" : " (it said: " + text + ")";
}

// The pipe sockets "OSL_PIPE_<uid>_lf-office-<pid>-..." that the instances of a program killed
// before it could remove them left in /tmp, that program gone now. (The private folders go by their
// locks, platform/private_folder.h; a socket kept because the system gave its pid to another process
// is an empty name and nothing more.)
void removeLeftoverPipes() {
    const std::string pipes = "OSL_PIPE_" + std::to_string(::getuid()) + "_lf-office-";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/tmp", ec)) {
        const std::string name = e.path().filename().string();
        if (!name.starts_with(pipes)) {
            continue;
        }
        const long pid = std::strtol(name.c_str() + pipes.size(), nullptr, 10);
        struct stat st;
        if (pid <= 0 || pid == ::getpid() || ::lstat(e.path().c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
            st.st_uid != ::getuid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
            continue;
        }
        ::unlink(e.path().c_str());
    }
}

// The highest the process's address space has been (VmPeak), in bytes; 0 once it is gone.
std::uint64_t addressSpacePeak(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmPeak:")) {
            return std::strtoull(line.c_str() + 7, nullptr, 10) * 1024;
        }
    }
    return 0;
}

std::string gigabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / double(1ull << 30));
    return text;
}

// The office's version as its configuration states it ("7.4"), read from its shared registry beside
// the program folder; empty when it cannot be read.
std::string officeVersion(const fs::path& binary) {
    std::ifstream in(binary.parent_path().parent_path() / "share" / "registry" / "main.xcd",
                     std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t prop = text.find("oor:name=\"ooSetupVersion\">");
    const std::size_t value = text.find("<value>", prop);
    const std::size_t end = text.find("</value>", value);
    if (prop == std::string::npos || value == std::string::npos || end == std::string::npos ||
        end - value > 40)
        return {};
    return text.substr(value + 7, end - value - 7);
}

// A new profile's settings, written before the instance first starts: the version it last ran
// as is this one. An office that does not find it takes itself for one started for the first time
// after an update, and runs its graphics self-tests (about a hundred drawings, 5 to 15 processor
// seconds) before it opens its pipe. A headless instance never records the version itself, and
// every instance's profile is new, so without this every start paid for them.
void seedProfile(const fs::path& profile, const std::string& version) {
    if (version.empty())
        return;
    std::error_code ec;
    fs::create_directories(profile / "user", ec);
    std::ofstream out(profile / "user" / "registrymodifications.xcu", std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
           "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
           "oor:op=\"fuse\"><value>"
        << version << "</value></prop></item>\n</oor:items>\n";
}

// What /proc says of the machine and of one process, for the choice of how many instances to run
// and when to renew one. Every figure is 0 when it cannot be read.
struct ProcessorTimes {
    std::uint64_t total = 0; // every processor's time so far, in clock ticks
    std::uint64_t idle = 0;  // of which idle or waiting for the disk
};

ProcessorTimes machineTimes() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    ProcessorTimes times;
    stat >> cpu;
    for (int field = 0; cpu == "cpu" && field < 8; ++field) {
        std::uint64_t value = 0;
        if (!(stat >> value))
            break;
        times.total += value;
        if (field == 3 || field == 4) // idle, iowait
            times.idle += value;
    }
    return times;
}

// The processor time the process has taken (user and system, its threads included), in clock ticks.
std::uint64_t processTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t end = line.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream rest(line.substr(end + 2));
    std::string field;
    std::uint64_t user = 0, system = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) { // fields 14 and 15: utime, stime
        if (i == 14)
            user = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15)
            system = std::strtoull(field.c_str(), nullptr, 10);
    }
    return user + system;
}

// A "Name:  N kB" line of a /proc file, in bytes.
std::uint64_t procKilobytes(const std::string& file, const char* name) {
    std::ifstream in(file);
    std::string line;
    const std::size_t length = std::strlen(name);
    while (std::getline(in, line)) {
        if (line.compare(0, length, name) == 0) {
            return std::strtoull(line.c_str() + length, nullptr, 10) * 1024;
        }
    }
    return 0;
}

std::uint64_t residentBytes(pid_t pid) {
    return procKilobytes("/proc/" + std::to_string(pid) + "/status", "VmRSS:");
}

std::uint64_t memoryAvailable() {
    return procKilobytes("/proc/meminfo", "MemAvailable:");
}

// One running office process with its private folder (profile, temporary files, the copies it
// renders) and its bridge.
struct Instance {
    fs::path folder;
    std::string pipe;
    ChildProcess process;
    Reference<com::sun::star::lang::XComponent> bridge;
    Reference<com::sun::star::frame::XDesktop2> desktop;
    int files = 0; // rendered so far, for its renewal

    ~Instance() {
        // Asked to end first (the desktop closes what it holds), killed when that does not work soon.
        if (desktop.is() && !process.exited()) {
            Watchdog watchdog(std::chrono::duration_cast<std::chrono::milliseconds>(endGrace),
                              [this] { process.kill(SIGKILL); });
            try {
                desktop->terminate();
            } catch (const uno::Exception&) {
            }
        }
        desktop.clear();
        if (bridge.is()) {
            try {
                bridge->dispose();
            } catch (const uno::Exception&) {
            }
            bridge.clear();
        }
        process.end(endGrace);
        // A killed instance leaves its pipe's socket behind.
        ::unlink(("/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe).c_str());
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

struct Slot {
    std::unique_ptr<Instance> instance;
    bool busy = false;
    int pid = -1; // the instance's, for instanceProcessIds (read under the pool's lock)
};

} // namespace

struct LibreOffice::Impl {
    RenderOptions options;
    fs::path binary;
    std::string version;                           // the office's, for its instances' profiles
    std::unique_ptr<platform::PrivateFolder> root; // every instance's folder is inside
    Launcher launcher;                             // outlives every instance (it is their parent thread)
    std::mutex mutex;                              // the slots
    std::condition_variable freed;
    std::vector<Slot> slots;
    unsigned started = 0; // instances started so far (names their folders and pipes)
    std::atomic<unsigned> renders{0};
    std::size_t inUse = 1; // the slots renders may take now (the first ones)
    int waiting = 0;       // renders waiting for a slot
    int payingRenders = 0; // renders in a row that showed a further instance would pay
    std::thread warmer;    // the start warmUp asked for, while it runs

    explicit Impl(RenderOptions o)
        : options(std::move(o)), binary(officeBinary(options.program)), version(officeVersion(binary)) {
        slots.resize(static_cast<std::size_t>(std::max(1, options.instances)));
        inUse = options.measured ? 1 : slots.size();
    }

    ~Impl() {
        if (warmer.joinable())
            warmer.join();
        std::unique_lock lock(mutex);
        freed.wait(lock, [this] {
            for (const Slot& s : slots) {
                if (s.busy) {
                    return false;
                }
            }
            return true;
        });
        for (Slot& s : slots) {
            s.instance.reset();
        }
        root.reset();
    }

    // Takes a free slot of those in use, a warm one first; waits while every one is rendering.
    std::size_t take() {
        std::unique_lock lock(mutex);
        for (;;) {
            std::optional<std::size_t> free;
            for (std::size_t i = 0; i < inUse; ++i) {
                if (!slots[i].busy && (!free || (slots[i].instance && !slots[*free].instance))) {
                    free = i;
                }
            }
            if (free) {
                slots[*free].busy = true;
                return *free;
            }
            ++waiting;
            freed.wait(lock);
            --waiting;
        }
    }

    // Whether one more instance pays, judged after each render on a warm instance while another
    // render waits for one (with nothing waiting, idle processors say nothing). An instance takes
    // more than one core (the office runs threads of its own beside the layout), and the rest of
    // the machine runs the printers' filter chains, our process and whatever else the machine does.
    // A further instance is started only when, over the render, the processor time left idle was
    // at least what the instance itself took (as cores: its processor time over the render's wall
    // time) and a quarter core more, on two renders in a row, and the memory available is at least
    // twice what the instance holds: then it finds processors of its own. Otherwise two instances
    // only share the cores one had, and each file takes longer than one instance's two files (so on
    // two cores, where the instance and the filter chains leave less than a core idle, one stays).
    void judge(const ProcessorTimes& machineBefore, std::uint64_t instanceBefore,
               std::chrono::steady_clock::duration wall, pid_t pid) {
        const ProcessorTimes machineAfter = machineTimes();
        const std::uint64_t instanceAfter = processTicks(pid);
        std::lock_guard lock(mutex);
        if (!options.measured || inUse >= slots.size() || waiting == 0)
            return;
        const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
        const double seconds = std::chrono::duration<double>(wall).count();
        const std::uint64_t total = machineAfter.total - machineBefore.total;
        if (seconds < 0.05 || total == 0 || instanceAfter < instanceBefore)
            return;
        const double cores = static_cast<double>(total) / ticks / seconds;
        const double idleCores =
            cores * static_cast<double>(machineAfter.idle - machineBefore.idle) / static_cast<double>(total);
        const double instanceCores = static_cast<double>(instanceAfter - instanceBefore) / ticks / seconds;
        const bool pays = idleCores >= instanceCores + 0.25 && memoryAvailable() >= 2 * residentBytes(pid);
        payingRenders = pays ? payingRenders + 1 : 0;
        if (payingRenders >= 2) {
            ++inUse;
            payingRenders = 0;
            freed.notify_all();
        }
    }

    void give(std::size_t slot) {
        {
            std::lock_guard lock(mutex);
            slots[slot].busy = false;
        }
        freed.notify_all();
    }

    void setPid(std::size_t slot, int pid) {
        std::lock_guard lock(mutex);
        slots[slot].pid = pid;
    }

    // Made with the first instance; the pipes' names carry our pid and the folder's random part.
    fs::path privateRoot() {
        std::lock_guard lock(mutex);
        if (!root) {
            removeLeftoverPipes();
            try {
                root = std::make_unique<platform::PrivateFolder>("lf-office");
            } catch (const std::system_error& e) {
                throw RenderError(std::string("cannot make a private folder for LibreOffice: ") + e.what());
            }
        }
        return root->path();
    }

    // An instance past its file count or resident memory is renewed before its next file.
    bool due(const Instance& in) const {
        return (options.renewAfterFiles > 0 && in.files >= options.renewAfterFiles) ||
               (options.renewAboveResident > 0 &&
                residentBytes(in.process.pid()) > options.renewAboveResident);
    }

    std::unique_ptr<Instance> start();
    void spawn(Instance& in);
    void render(std::size_t slot, const fs::path& source, const fs::path& pdf, PageLayout layout,
                const PdfExport& pdfExport);
};

void LibreOffice::Impl::spawn(Instance& in) {
    std::vector<std::string> argv = {binary.string(),
                                     "-env:UserInstallation=" + fileUrl(in.folder / "profile"),
                                     "--headless",
                                     "--invisible",
                                     "--nologo",
                                     "--norestore",
                                     "--nodefault",
                                     "--nolockcheck",
                                     "--accept=pipe,name=" + in.pipe + ";urp;"};
    // The instance's own temporary files stay in its private folder too.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "TMPDIR=", 7) != 0 && std::strncmp(*e, "MALLOC_ARENA_MAX=", 17) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back("TMPDIR=" + (in.folder / "tmp").string());
    // glibc gives each thread that allocates at once an arena of its own, up to eight per core, each
    // reserving 64 MB of address space: on a machine of many cores that alone would take an instance
    // to its memory limit. Two arenas keep its address space near what it uses on any machine.
    env.push_back("MALLOC_ARENA_MAX=2");
    int error = 0;
    const pid_t pid = launcher.spawn(argv, env, in.folder / "office.log", options.memoryLimit, error);
    if (pid < 0) {
        throw RenderError("cannot start LibreOffice (" + binary.string() + "): " + std::strerror(error));
    }
    in.process.assign(pid);
}

std::unique_ptr<Instance> LibreOffice::Impl::start() {
    const Reference<uno::XComponentContext> local = localContext();
    auto in = std::make_unique<Instance>();
    unsigned number;
    {
        std::lock_guard lock(mutex);
        number = ++started;
    }
    const fs::path base = privateRoot();
    in->folder = base / ("instance" + std::to_string(number));
    in->pipe = "lf-office-" + std::to_string(::getpid()) + "-" + base.filename().string().substr(10) + "-" +
               std::to_string(number);
    std::error_code ec;
    fs::create_directories(in->folder / "tmp", ec);
    fs::create_directories(in->folder / "work", ec);
    if (ec) {
        throw RenderError("cannot make a private folder for LibreOffice: " + ec.message());
    }
    seedProfile(in->folder / "profile", version);
    spawn(*in);

    Instance& instance = *in;
    // A stop asked for while the instance starts ends it as a start that takes too long does.
    Watchdog watchdog(
        std::chrono::duration_cast<std::chrono::milliseconds>(startLimit),
        [&instance] { instance.process.kill(SIGKILL); }, {}, std::chrono::milliseconds(100), options.stop);
    auto notStarted = [&] {
        if (options.stop && options.stop->requested())
            return RenderError(std::string(platform::kStoppedByUser) +
                               " while LibreOffice started; the instance was ended");
        return RenderError("LibreOffice did not start within " + seconds(startLimit) +
                           "; the instance was ended");
    };
    bool restarted = false;
    try {
        const auto connector = com::sun::star::connection::Connector::create(local);
        Reference<com::sun::star::connection::XConnection> connection;
        while (!connection.is()) {
            try {
                connection = connector->connect(ou("pipe,name=" + in->pipe));
            } catch (const com::sun::star::connection::NoConnectException&) {
                if (watchdog.fired())
                    throw notStarted();
                if (in->process.exited()) {
                    if (in->process.exitCode() == restartExitCode && !restarted) {
                        restarted = true;
                        spawn(*in);
                        continue;
                    }
                    throw RenderError("LibreOffice ended before it could be used (" +
                                      in->process.exitDescription() + ")" + tail(in->folder / "office.log"));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        const auto bridge = com::sun::star::bridge::BridgeFactory::create(local)->createBridge(
            OUString(), "urp", connection, nullptr);
        in->bridge.set(bridge, UNO_QUERY_THROW);
        Reference<uno::XComponentContext> remote(bridge->getInstance("StarOffice.ComponentContext"),
                                                 UNO_QUERY_THROW);
        in->desktop = com::sun::star::frame::Desktop::create(remote);
    } catch (const uno::Exception& e) {
        if (watchdog.fired())
            throw notStarted();
        throw RenderError("cannot connect to LibreOffice: " + utf8(e.Message) +
                          tail(in->folder / "office.log"));
    }
    return in;
}

void LibreOffice::Impl::render(std::size_t slot, const fs::path& source, const fs::path& pdf,
                               PageLayout layout, const PdfExport& pdfExport) {
    const std::string name = source.filename().string();
    std::unique_ptr<Instance>& in = slots[slot].instance; // ours alone while the slot is taken
    if (in && (in->process.exited() || due(*in))) {
        in.reset();
        setPid(slot, -1);
    }
    const bool warm = in != nullptr;
    if (!in) {
        in = start();
        setPid(slot, in->process.pid());
    }
    const ProcessorTimes machineBefore = machineTimes();
    const std::uint64_t instanceBefore = processTicks(in->process.pid());
    const auto renderStart = std::chrono::steady_clock::now();

    // The private copy: a name of our own (only the extension kept, which tells the office the type),
    // in a folder of its own inside the instance's.
    const fs::path work = in->folder / "work" / std::to_string(++renders);
    std::string extension = source.extension().string();
    for (char c : extension) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') {
            extension.clear();
        }
    }
    const fs::path copy = work / ("source" + extension);
    const fs::path output = work / "render.pdf";
    std::error_code ec;
    fs::create_directories(work, ec);
    if (!ec) {
        fs::copy_file(source, copy, ec);
    }
    if (ec) {
        fs::remove_all(work, ec);
        throw RenderError("cannot read " + source.string() + ": " + ec.message());
    }
    struct RemoveWork {
        fs::path folder;
        ~RemoveWork() {
            std::error_code e;
            fs::remove_all(folder, e);
        }
    } removeWork{work};

    using namespace com::sun::star;
    const bool deck = layout != PageLayout::DocumentPages;
    std::optional<std::string> failure; // what went wrong in the office, when it did not die
    bool broken = false;                // the connection broke: the instance is of no more use
    bool stalled = false;               // the time limit passed and the instance was killed
    // The instance's address space at its highest, watched while it renders: with a limit set, a file
    // that fails (in whatever way) with it near the limit went past the limit.
    std::atomic<std::uint64_t> peak{0};
    const pid_t pid = in->process.pid();
    {
        Instance& instance = *in;
        Watchdog watchdog(
            options.perFileLimit, [&instance] { instance.process.kill(SIGKILL); },
            [&peak, pid] { peak = std::max(peak.load(), addressSpacePeak(pid)); },
            std::chrono::milliseconds(100), options.stop);
        Reference<lang::XComponent> doc;
        try {
            const auto load = properties({
                property("Hidden", uno::Any(true)),
                property("ReadOnly", uno::Any(true)),
                property("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE)),
                property("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE)),
            });
            try {
                doc = in->desktop->loadComponentFromURL(ou(fileUrl(copy)), "_blank", 0, load);
            } catch (const io::IOException& e) {
                throw RenderError("LibreOffice cannot load " + name + ": " + utf8(e.Message));
            } catch (const lang::IllegalArgumentException& e) {
                throw RenderError("LibreOffice cannot load " + name + ": " + utf8(e.Message));
            }
            if (!doc.is()) {
                throw RenderError("LibreOffice cannot load " + name);
            }
            Reference<lang::XServiceInfo> info(doc, UNO_QUERY);
            const char* wanted =
                deck ? "com.sun.star.presentation.PresentationDocument" : "com.sun.star.text.TextDocument";
            if (!info.is() || !info->supportsService(OUString::createFromAscii(wanted))) {
                throw RenderError("LibreOffice cannot load " + name +
                                  (deck ? " as a presentation" : " as a text document"));
            }
            const bool notes = layout == PageLayout::NotesPages;
            prepareForExport(doc, deck, source.stem().string());
            const auto filterData = pdfFilterData(deck, notes, pdfExport);
            const auto store = properties({
                property("FilterName", uno::Any(OUString::createFromAscii(deck ? "impress_pdf_Export"
                                                                               : "writer_pdf_Export"))),
                property("FilterData", uno::Any(filterData)),
                property("Overwrite", uno::Any(true)),
            });
            Reference<frame::XStorable>(doc, UNO_QUERY_THROW)->storeToURL(ou(fileUrl(output)), store);
        } catch (const RenderError& e) {
            failure = e.what();
        } catch (const lang::DisposedException& e) {
            broken = true;
            failure = utf8(e.Message);
        } catch (const uno::Exception& e) {
            failure = "LibreOffice cannot render " + name + ": " + utf8(e.Message);
        }
        if (doc.is() && !watchdog.fired()) {
            try {
                Reference<util::XCloseable> closeable(doc, UNO_QUERY);
                if (closeable.is()) {
                    closeable->close(true);
                } else {
                    doc->dispose();
                }
            } catch (const util::CloseVetoException&) {
                // close(true) hands the document over: the office closes it when the veto ends
            } catch (const lang::DisposedException& e) {
                broken = true;
                failure = failure.value_or(utf8(e.Message));
            } catch (const uno::Exception&) {
            }
        }
        doc.clear();
        stalled = watchdog.fired();
    } // the watchdog has ended here: nothing signals the instance any more
    if (stalled) {
        in.reset();
        setPid(slot, -1);
        if (options.stop && options.stop->requested())
            throw RenderError(std::string(platform::kStoppedByUser) + " while LibreOffice rendered " + name +
                              "; the instance was ended");
        throw RenderError("LibreOffice stopped answering on " + name + " after " +
                          seconds(options.perFileLimit) + "; the instance was ended");
    }
    peak = std::max(peak.load(), addressSpacePeak(pid));
    const std::uint64_t limit = options.memoryLimit;
    const bool nearLimit = limit > 0 && peak + std::max(limit / 8, memoryLimitMargin) >= limit;
    // An allocation past the limit fails inside the office, which then crashes, breaks the connection,
    // reports a failed store or writes a PDF cut short: whatever it did, the instance is of no more use.
    auto overMemory = [&] {
        in.reset();
        setPid(slot, -1);
        return RenderError("LibreOffice went past its memory limit of " + gigabytes(limit) + " on " + name +
                           "; the instance was ended");
    };
    if (nearLimit && (failure || broken || in->process.exited())) {
        throw overMemory();
    }
    if (broken || in->process.exited()) {
        // The connection went with the process, or the process will go after the connection.
        const bool died = in->process.end(endGrace);
        const std::string how =
            died ? "LibreOffice ended (" + in->process.exitDescription() + ") while rendering " + name
                 : "the connection to LibreOffice broke while rendering " + name + " (" +
                       failure.value_or("") + ")";
        in.reset();
        setPid(slot, -1);
        throw RenderError(how +
                          (died ? "; the next file starts a new instance" : "; the instance was ended"));
    }
    if (failure) {
        throw RenderError(*failure);
    }
    if (!fs::exists(output, ec)) {
        throw RenderError("LibreOffice wrote no PDF for " + name);
    }
    ++in->files;
    if (warm)
        judge(machineBefore, instanceBefore, std::chrono::steady_clock::now() - renderStart, pid);
    declareLanguage(copy, output, name);
    const std::string why = platform::copyWholeFile(output, pdf);
    if (!why.empty()) {
        if (nearLimit) {
            throw overMemory();
        }
        throw RenderError("cannot write the PDF of " + name + " to " + pdf.string() + ": " + why);
    }
}

LibreOffice::LibreOffice(RenderOptions options) : impl_(new Impl(std::move(options))) {}

LibreOffice::~LibreOffice() {
    delete impl_;
}

void LibreOffice::renderPdf(const fs::path& source, const fs::path& pdf, PageLayout layout,
                            const PdfExport& pdfExport) {
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) {
        throw RenderError("cannot render " + source.string() + ": no such file");
    }
    const std::size_t slot = impl_->take();
    struct Give {
        Impl* impl;
        std::size_t slot;
        ~Give() { impl->give(slot); }
    } give{impl_, slot};
    impl_->render(slot, source, pdf, layout, pdfExport);
}

int LibreOffice::instancesInUse() const {
    std::lock_guard lock(impl_->mutex);
    return static_cast<int>(impl_->inUse);
}

void LibreOffice::warmUp() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->warmer.joinable() || impl_->started > 0)
        return;
    impl_->slots[0].busy = true; // the start's own; renders wait for it as for a render
    impl_->warmer = std::thread([impl = impl_] {
        try {
            std::unique_ptr<Instance> in = impl->start();
            impl->setPid(0, in->process.pid());
            impl->slots[0].instance = std::move(in); // the slot is the start's alone while busy
        } catch (const std::exception&) {
        }
        impl->give(0);
    });
}

std::vector<int> LibreOffice::instanceProcessIds() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<int> pids;
    for (const Slot& s : impl_->slots) {
        if (s.pid > 0) {
            pids.push_back(s.pid);
        }
    }
    return pids;
}

} // namespace lf::render
