#include "bench_office.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lf::bench {

namespace fs = std::filesystem;

namespace {

// The parent and the resident kilobytes of a process, from /proc.
bool processInfo(int pid, int& parent, long& rssKb) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
        return false;
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    char state;
    rest >> state >> parent;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    rssKb = 0;
    for (std::string l; std::getline(status, l);)
        if (l.starts_with("VmRSS:"))
            rssKb = std::atol(l.c_str() + 6);
    return true;
}

} // namespace

int runQuiet(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int spawned = posix_spawnp(&pid, args[0], &quiet, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int convertNotesPagesToPdf(const fs::path& profile, const fs::path& deck, const fs::path& outdir) {
    const std::string filter =
        "pdf:impress_pdf_Export:{\"ExportNotesPages\":{\"type\":\"boolean\",\"value\":"
        "\"true\"},\"ExportOnlyNotesPages\":{\"type\":\"boolean\",\"value\":\"true\"}}";
    return runQuiet({"/usr/lib/libreoffice/program/soffice",
                     "-env:UserInstallation=file://" + profile.string(), "--headless", "--norestore",
                     "--convert-to", filter, "--outdir", outdir.string(), deck.string()});
}

long descendantsRssKb() {
    std::map<int, std::pair<int, long>> processes;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        int parent = 0;
        long rss = 0;
        if (processInfo(std::atoi(name.c_str()), parent, rss))
            processes[std::atoi(name.c_str())] = {parent, rss};
    }
    const int self = ::getpid();
    long sum = 0;
    for (const auto& [pid, info] : processes) {
        for (int p = info.first; p > 1;) {
            if (p == self) {
                sum += info.second;
                break;
            }
            const auto up = processes.find(p);
            p = up == processes.end() ? 0 : up->second.first;
        }
    }
    return sum;
}

MemorySampler::MemorySampler(bool withSelf)
    : thread_([this, withSelf] {
          while (!stop_) {
              long self = 0;
              int parent = 0;
              if (withSelf)
                  processInfo(::getpid(), parent, self);
              peak_ = std::max(peak_.load(), descendantsRssKb() + self);
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
      }) {}

MemorySampler::~MemorySampler() {
    stop_ = true;
    thread_.join();
}

std::pair<int, bool> pdfPages(const fs::path& pdf) {
    const std::string command = "pdfinfo '" + pdf.string() + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(command.c_str(), "r"), pclose);
    int pages = -1;
    double width = 0, height = 0;
    char line[512];
    while (p && std::fgets(line, sizeof line, p.get())) {
        std::sscanf(line, "Pages: %d", &pages);
        std::sscanf(line, "Page size: %lf x %lf", &width, &height);
    }
    return {pages, width < height};
}

bool notesPagePdfsComplete(const std::vector<fs::path>& decks, const fs::path& folder, int slides,
                           const char* name) {
    for (const fs::path& d : decks) {
        fs::path pdf = folder / d.filename();
        pdf.replace_extension(".pdf");
        const auto [pages, portrait] = pdfPages(pdf);
        if (pages != slides || !portrait) {
            std::fprintf(stderr, "%s: %s has %d pages (%s), not %d notes pages\n", name, pdf.c_str(), pages,
                         portrait ? "portrait" : "landscape", slides);
            return false;
        }
    }
    return true;
}

} // namespace lf::bench
