// bench_tessarel: import and export of many files against copying the same bytes, and a
// descending folder query over a large repository; with --server, the same on a repository in a
// PostgreSQL database, and concurrent clients checking documents out and in.
//   bench_tessarel [--files N] [--kib K] [--objects M] [--rounds R] [--keep-cache] [--keep]
//   bench_tessarel --server [--files N] [--kib K] [--objects M] [--rounds R] [--clients C[,C...]]
//                  [--cycles Y] [--keep-cache] [--keep]
//   (defaults 2000, 200, 100000, 1 round; with --server 1000000 objects, 3 rounds, 8 and 32 clients,
//   100 cycles each)
// Every phase writes its own new files; what a phase wrote is synced and its page cache let go
// before the next phase starts (--keep-cache leaves it), so that each phase meets the same memory.
// The sources stay cached throughout. The content the import stored is kept cached for the export.
// Each round measures the copies and the operations on files of its own, one after the other; the
// figures are the rounds' medians, the ratios the medians of each round's own, so that a machine
// shared with other work skews a ratio less than a single run would.
//
// The server mode starts a durable PostgreSQL server of its own (private_postgres.h: a cluster in
// /tmp, reachable through its Unix socket only, PostgreSQL's defaults for writing to disk), never
// the machine's own, and makes the repository in a fresh database as that database's owner. Every
// measured operation runs as a user of the repository who logged in through the session manager,
// so the server's row-level security is in the path. When no private server can start here (no
// PostgreSQL, or root without the account postgres), it says why and exits 0.
#include "tessarel/admin.h"
#include "tessarel/repository_store.h"
#include "tessarel/tessarel.h"

#include "platform/profile.h"

#ifdef LF_BENCH_POSTGRES
#include "private_postgres.h"
#endif

#include <QCoreApplication>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace lf::tessarel;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void copyFile(const fs::path& from, const fs::path& to) {
    std::vector<char> buf(1 << 20);
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ssize_t n;
    while ((n = ::read(in, buf.data(), buf.size())) > 0) {
        if (::write(out, buf.data(), static_cast<size_t>(n)) != n)
            break;
    }
    ::close(in);
    ::close(out);
}

// The floor of a durable import: each file read once, hashed with SHA-256 and written, then one
// sync of the file system.
void hashCopyFile(const fs::path& from, const fs::path& to, std::vector<char>& buf, std::string& hex) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    ssize_t n;
    while ((n = ::read(in, buf.data(), buf.size())) > 0) {
        EVP_DigestUpdate(ctx, buf.data(), static_cast<size_t>(n));
        if (::write(out, buf.data(), static_cast<size_t>(n)) != n)
            break;
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, md, &len);
    EVP_MD_CTX_free(ctx);
    hex.assign(reinterpret_cast<const char*>(md), len);
    ::close(in);
    ::close(out);
}

void syncAll(const fs::path& dir) {
    const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    ::syncfs(d);
    ::close(d);
}

// Lets the page cache go of files already synced, so that every phase finds the machine's memory
// as the one before it left it; otherwise each phase fills memory no phase has used yet, which
// on a virtual machine costs more the later a phase comes.
void dropCache(const fs::path& dir) {
    for (const auto& f : fs::recursive_directory_iterator(dir)) {
        if (!f.is_regular_file())
            continue;
        const int fd = ::open(f.path().c_str(), O_RDONLY);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
}

// Processor time of this process, in ms: on a shared machine, the part of the wall time that is ours.
double cpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// Processor time, in ms, of another process of this machine (the server process of a connection):
// its user and system time from /proc; 0 when it cannot be read.
double processCpuMs(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto end = text.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(end + 1));
    std::string f;
    std::vector<std::string> after; // from the third field (the state) on
    while (fields >> f)
        after.push_back(f);
    if (after.size() < 13)
        return 0;
    return double(std::stoll(after[11]) + std::stoll(after[12])) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

// The middle value; of an even number of values, the mean of the two in the middle.
double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// The value below which the fraction q of the values lie (nearest rank); 0 for none.
double percentile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(q * static_cast<double>(v.size()) + 0.999999);
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

// With LF_PERF_CTL naming perf's control fifo (perf record --control=fifo:CTL -D -1) and
// LF_PERF_PHASE one of import/export/query/fill/cycles, only that phase is recorded.
void perfControl(const char* phase, bool on) {
    const char* ctl = std::getenv("LF_PERF_CTL");
    const char* which = std::getenv("LF_PERF_PHASE");
    if (!ctl || !which || std::strcmp(which, phase) != 0)
        return;
    const int fd = ::open(ctl, O_WRONLY);
    if (fd < 0)
        return;
    const char* cmd = on ? "enable\n" : "disable\n";
    if (::write(fd, cmd, std::strlen(cmd)) < 0)
        std::perror("perf control");
    ::close(fd);
}

std::string randomBytes(std::mt19937_64& rng, size_t size) {
    std::string bytes(size, '\0');
    for (size_t k = 0; k + 8 <= bytes.size(); k += 8) {
        const auto v = rng();
        std::memcpy(&bytes[k], &v, 8);
    }
    return bytes;
}

// Notes when an operation last reported each of its steps: an import's "Transfer content" ends
// when every file is staged, its "Commit" when the transaction has committed.
class StepClock : public ITsOperationMonitor {
public:
    int progressReport(const std::shared_ptr<TsOperation>&, int, const TsOperationStepPtr& step, int,
                       const std::shared_ptr<TsOperationNode>&) override {
        last[step->name()] = Clock::now();
        return 1;
    }
    int reportError(const TsOperationErrorPtr&) override { return 1; }
    bool getYesNoAnswer(const std::string&) override { return true; }
    std::map<std::string, Clock::time_point> last;
};

struct Options {
    int files = 2000, kib = 200, objects = 100000;
    // The numbers of concurrent clients the check-out and check-in cycles run with, each in turn.
    std::vector<int> clients = {8, 32};
    int cycles = 100, rounds = 0;
    bool server = false;
    bool dropCaches = true;
};

// The files to import, the copies they are measured against, and the import and export themselves.
class Transfer {
public:
    // The files of one round, in a folder of its own (each round imports bytes of its own).
    Transfer(const Options& o, const fs::path& root, int round)
        : o_(o), root_(root / ("round" + std::to_string(round))), src_(root_ / "src") {
        fs::create_directories(src_);
        std::mt19937_64 rng(42 + static_cast<unsigned>(round));
        for (int i = 0; i < o_.files; ++i)
            std::ofstream(src_ / name(i), std::ios::binary)
                << randomBytes(rng, static_cast<size_t>(o_.kib) * 1024);
        syncAll(root_);
        mib_ = double(o_.files) * o_.kib / 1024.0;
    }
    double mib() const { return mib_; }
    // The processor time of the last copy.
    double lastCpuMs() const { return lastCpuMs_; }

    // Copying the same bytes, with or without making them durable, with or without hashing them.
    double copyAll(const std::string& folder, bool sync, bool hash) {
        const fs::path to = root_ / folder;
        fs::create_directories(to);
        std::vector<char> buf(1 << 20);
        std::string digest;
        const auto t0 = Clock::now();
        const double c0 = cpuMs();
        for (int i = 0; i < o_.files; ++i) {
            if (hash)
                hashCopyFile(src_ / name(i), to / name(i), buf, digest);
            else
                copyFile(src_ / name(i), to / name(i));
        }
        if (sync)
            syncAll(root_);
        const double ms = msSince(t0);
        lastCpuMs_ = cpuMs() - c0;
        syncAll(root_);
        if (o_.dropCaches)
            dropCache(to);
        return ms;
    }

    // Imports every file into the folder through the session, then exports what it made.
    struct Result {
        bool imported = false, exported = false;
        double importMs = 0, exportMs = 0;
        double stagedMs = 0; // from the import's start until every file was staged
        // Processor time of this process and (given serverCpu) of the server process of the
        // session's connection.
        double importCpuMs = 0, exportCpuMs = 0, importServerCpuMs = 0, exportServerCpuMs = 0;
        TsObjectListPtr objects;
    };
    Result importExport(const TsClientPtr& client, const TsSessionPtr& session, const TsObjectIdPtr& folder,
                        const std::string& exportFolder, const std::function<double()>& serverCpu = {}) {
        Result out;
        auto serverMs = [&] { return serverCpu ? serverCpu() : 0.0; };
        auto imp = client->newImportOperation();
        imp->setSession(session);
        imp->setDestinationFolder(folder);
        auto steps = std::make_shared<StepClock>();
        imp->setMonitor(steps);
        for (int i = 0; i < o_.files; ++i)
            imp->add(client->fileObject((src_ / name(i)).string()));
        syncAll(root_);
        auto t = Clock::now();
        double c0 = cpuMs(), s0 = serverMs();
        perfControl("import", true);
        out.imported = imp->execute();
        perfControl("import", false);
        out.importMs = msSince(t);
        out.importCpuMs = cpuMs() - c0;
        out.importServerCpuMs = serverMs() - s0;
        if (steps->last.count("Transfer content"))
            out.stagedMs =
                std::chrono::duration<double, std::milli>(steps->last["Transfer content"] - t).count();
        for (int i = 0; i < imp->errors()->count() && i < 3; ++i)
            std::printf("import: %s\n", imp->errors()->item(i)->getMessage().c_str());
        out.objects = imp->importedObjects();

        auto exp = client->newExportOperation();
        exp->setDestinationDirectory((root_ / exportFolder).string());
        for (int i = 0; i < out.objects->count(); ++i)
            exp->add(out.objects->item(i));
        syncAll(root_);
        t = Clock::now();
        c0 = cpuMs();
        s0 = serverMs();
        perfControl("export", true);
        out.exported = exp->execute();
        perfControl("export", false);
        out.exportMs = msSince(t);
        out.exportCpuMs = cpuMs() - c0;
        out.exportServerCpuMs = serverMs() - s0;
        for (int i = 0; i < exp->errors()->count() && i < 3; ++i)
            std::printf("export: %s\n", exp->errors()->item(i)->getMessage().c_str());
        syncAll(root_);
        if (o_.dropCaches)
            dropCache(root_ / exportFolder);
        return out;
    }

private:
    static std::string name(int i) { return "file" + std::to_string(i) + ".pptx"; }

    const Options& o_;
    fs::path root_, src_;
    double mib_ = 0, lastCpuMs_ = 0;
};

// A query run again and again: the median wall and processor time, and the rows it gave. With
// firstRows, each run stops (and closes the query) once it has read that many rows.
struct QueryTime {
    int rows = 0;
    double wallMs = 0, cpuMs = 0, maxMs = 0;
};
QueryTime timeQuery(const TsClientPtr& client, const TsSessionPtr& session, const std::string& tql,
                    const std::vector<std::string>& attributes, int runs, int firstRows = 0) {
    std::vector<double> walls, cpus;
    QueryTime out;
    for (int r = 0; r < runs; ++r) {
        auto query = client->newQuery();
        query->setTQL(tql);
        const auto t0 = Clock::now();
        const double c0 = cpuMs();
        auto rows = query->execute(session, 0);
        int n = 0;
        size_t chars = 0;
        while ((firstRows == 0 || n < firstRows) && rows->next()) {
            for (const auto& a : attributes)
                chars += rows->getString(a).size();
            ++n;
        }
        rows->close();
        walls.push_back(msSince(t0));
        cpus.push_back(cpuMs() - c0);
        out.rows = n + static_cast<int>(chars % 1);
    }
    out.wallMs = median(walls);
    out.cpuMs = median(cpus);
    out.maxMs = *std::max_element(walls.begin(), walls.end());
    return out;
}

// One round of the transfer phases: the copies the operations are measured against, the import,
// the export, what afterwards (a server's checkpoint), and the first copy once more, which tells
// how far the machine drifted meanwhile.
struct Round {
    double copy = 0, copySync = 0, hashCopy = 0, floor = 0, copyAgain = 0, after = 0;
    double hashCopyCpu = 0, floorCpu = 0;
    Transfer::Result ops;
};
Round measureRound(Transfer& transfer, const TsClientPtr& client, const TsSessionPtr& session,
                   const TsObjectIdPtr& folder, const std::function<double()>& after = {},
                   const std::function<double()>& serverCpu = {}) {
    Round r;
    r.copy = transfer.copyAll("copy", false, false);
    r.copySync = transfer.copyAll("copy-sync", true, false);
    r.hashCopy = transfer.copyAll("copy-hash", false, true);
    r.hashCopyCpu = transfer.lastCpuMs();
    r.floor = transfer.copyAll("copy-hash-sync", true, true);
    r.floorCpu = transfer.lastCpuMs();
    r.ops = transfer.importExport(client, session, folder, "export", serverCpu);
    if (after)
        r.after = after();
    r.copyAgain = transfer.copyAll("copy-again", false, false);
    return r;
}

// The median of every figure over the rounds; the ratios to the floors are the medians of each
// round's own.
void printRounds(const std::vector<Round>& rounds, double mib, const std::string& importWhat,
                 const std::string& exportWhat, const char* afterWhat) {
    auto med = [&](auto field) {
        std::vector<double> v;
        for (const auto& r : rounds)
            v.push_back(field(r));
        return median(v);
    };
    const double copyMs = med([](const Round& r) { return r.copy; });
    const double copySyncMs = med([](const Round& r) { return r.copySync; });
    bool imported = true, exported = true;
    for (const auto& r : rounds) {
        imported = imported && r.ops.imported;
        exported = exported && r.ops.exported;
    }
    if (rounds.size() > 1)
        std::printf("median of %zu rounds, each with files of its own\n", rounds.size());
    std::printf("%-40s %8s %8s %9s %12s %9s\n", "", "ms", "MiB/s", "vs copy", "vs copy+sync", "vs floor");
    auto line = [&](const std::string& what, double ms, double vsFloor) {
        std::printf("%-40s %8.0f %8.0f %8.2fx %11.2fx", what.c_str(), ms, mib / (ms / 1000.0), ms / copyMs,
                    ms / copySyncMs);
        if (vsFloor > 0)
            std::printf(" %8.2fx", vsFloor);
        std::printf("\n");
    };
    line("copy (read + write)", copyMs, 0);
    line("copy + one sync", copySyncMs, 0);
    line("hash + copy (floor of an export)", med([](const Round& r) { return r.hashCopy; }), 0);
    line("hash + copy + one sync (floor of import)", med([](const Round& r) { return r.floor; }), 0);
    line(imported ? importWhat : "import FAILED", med([](const Round& r) { return r.ops.importMs; }),
         med([](const Round& r) { return r.ops.importMs / r.floor; }));
    line(exported ? exportWhat : "export FAILED", med([](const Round& r) { return r.ops.exportMs; }),
         med([](const Round& r) { return r.ops.exportMs / r.hashCopy; }));
    line("copy again, after the operations", med([](const Round& r) { return r.copyAgain; }), 0);
    std::printf("%-40s %8.0f   (reading and hashing every file)\n", "  of the import: staging",
                med([](const Round& r) { return r.ops.stagedMs; }));
    std::printf("%-40s %8.0f   (of the export's: %.0f)\n", "processor time of the import's floor",
                med([](const Round& r) { return r.floorCpu; }),
                med([](const Round& r) { return r.hashCopyCpu; }));
    std::printf("%-40s %8.0f   (this process %.0f, the server %.0f)\n", "  processor time of the import",
                med([](const Round& r) { return r.ops.importCpuMs + r.ops.importServerCpuMs; }),
                med([](const Round& r) { return r.ops.importCpuMs; }),
                med([](const Round& r) { return r.ops.importServerCpuMs; }));
    std::printf("%-40s %8.0f   (this process %.0f, the server %.0f)\n", "  processor time of the export",
                med([](const Round& r) { return r.ops.exportCpuMs + r.ops.exportServerCpuMs; }),
                med([](const Round& r) { return r.ops.exportCpuMs; }),
                med([](const Round& r) { return r.ops.exportServerCpuMs; }));
    if (afterWhat)
        std::printf("%-40s %8.0f\n", afterWhat, med([](const Round& r) { return r.after; }));
    if (rounds.size() > 1) {
        std::printf("each round: import/floor, export/floor; import ms (processor ms: this process, the "
                    "server)\n");
        for (const auto& r : rounds)
            std::printf("  %.2fx %.2fx; %.0f (%.0f, %.0f)\n", r.ops.importMs / r.floor,
                        r.ops.exportMs / r.hashCopy, r.ops.importMs, r.ops.importCpuMs,
                        r.ops.importServerCpuMs);
    }
}

// ---- the embedded repository

int runEmbedded(const Options& o, const fs::path& root) {
    const double mib = double(o.files) * o.kib / 1024.0;
    std::printf("bench_tessarel: %d files x %d KiB (%.0f MiB), query over %d objects\n\n", o.files, o.kib,
                mib, o.objects);
    auto store = initRepository("sqlite:" + (root / "repo").string());
    auto session = openAdminSession(store, "bench", "bench");
    auto client = TsClient::create();
    std::vector<Round> rounds;
    for (int r = 0; r < o.rounds; ++r) {
        Transfer transfer(o, root, r);
        auto folder = makeFolders(session, "/Bench/Import" + std::to_string(r), true);
        rounds.push_back(measureRound(transfer, client, session, folder->objectId()));
    }
    printRounds(rounds, mib, "import (hash, store, sync, commit)", "export", nullptr);

    // A repository of many objects: 100 folders of 10 subfolders of documents each.
    const int perLeaf = std::max(1, o.objects / 1000);
    {
        Transaction tx(store->storage());
        auto cab = store->storage().objectByPath("", "Bench", Viewer{"", true});
        ObjectRecord q;
        q.id = store->newObjectId();
        q.type = "ts_folder";
        q.name = "Q";
        q.owner = q.modifier = "bench";
        q.versionLabel = "1.0";
        q.created = q.modified = nowText();
        q.folderId = cab->id;
        q.parentPath = "/Bench";
        q.cabinetId = cab->id;
        store->storage().insertObject(q);
        for (int f = 0; f < 100; ++f) {
            ObjectRecord fr = q;
            fr.id = store->newObjectId();
            fr.name = "f" + std::to_string(f);
            fr.folderId = q.id;
            fr.parentPath = "/Bench/Q";
            store->storage().insertObject(fr);
            for (int g = 0; g < 10; ++g) {
                ObjectRecord gr = fr;
                gr.id = store->newObjectId();
                gr.name = "g" + std::to_string(g);
                gr.folderId = fr.id;
                gr.parentPath = fr.ownPath();
                store->storage().insertObject(gr);
                for (int d = 0; d < perLeaf; ++d) {
                    ObjectRecord dr = gr;
                    dr.id = store->newObjectId();
                    dr.type = "ts_document";
                    dr.name = std::to_string(d) + "_Deck.pptx";
                    dr.contentType = d % 2 ? "ppt8" : "msw8";
                    dr.folderId = gr.id;
                    dr.parentPath = gr.ownPath();
                    store->storage().insertObject(dr);
                }
            }
        }
        tx.commit();
    }
    const std::vector<std::string> id{"r_object_id"};
    perfControl("query", true);
    const auto sub = timeQuery(client, session,
                               "select r_object_id from ts_document where folder('/Bench/Q/f42',descend) "
                               "and a_content_type = 'ppt8'",
                               id, 7);
    const std::string qid = session->folderByPath("/Bench/Q")->objectId()->text();
    const auto all = timeQuery(client, session,
                               "select r_object_id from ts_document where folder('/Bench/Q',descend)", id, 7);
    const auto byId = timeQuery(client, session,
                                "select r_object_id from ts_document where folder(ID('" + qid +
                                    "'),descend) and (a_content_type = 'ppt8' or a_content_type = 'msw6' or "
                                    "a_content_type = 'msw8')",
                                id, 7);
    perfControl("query", false);
    std::printf("\nquery over %d documents (median of 7, rows read with getString)\n", 100 * 10 * perLeaf);
    std::printf("%-58s %8s %9s %9s\n", "", "rows", "wall ms", "cpu ms");
    std::printf("%-58s %8d %9.1f %9.1f\n", "folder('/Bench/Q/f42',descend) and a_content_type='ppt8'",
                sub.rows, sub.wallMs, sub.cpuMs);
    std::printf("%-58s %8d %9.1f %9.1f\n", "folder('/Bench/Q',descend)", all.rows, all.wallMs, all.cpuMs);
    std::printf("%-58s %8d %9.1f %9.1f\n", "folder(ID(...),descend) and (three content types)", byId.rows,
                byId.wallMs, byId.cpuMs);
    bool ok = true;
    for (const auto& r : rounds)
        ok = ok && r.ops.imported && r.ops.exported;
    return ok ? 0 : 1;
}

// ---- the server repository

#ifdef LF_BENCH_POSTGRES

const char* const kRepository = "bench";

std::string passwordOf(const std::string& user) {
    return user + "'s bench secret";
}

// A login of a repository user through the session manager, as the program logs in: the
// repository by its name in tessarel.ini, the server checking the password.
TsSessionPtr login(const TsClientPtr& client, const std::string& user) {
    auto manager = client->localClient()->newSessionManager();
    auto info = client->newLoginInfo();
    info->setUser(user);
    info->setPassword(passwordOf(user));
    manager->setIdentity(kRepository, info);
    return manager->getSession(kRepository);
}

std::string userName(int client) {
    return "bench_author_" + std::to_string(client);
}

// Fills the folder /Bench/Q with 100 folders of 10 subfolders of perLeaf documents each, every
// document with content of its own (a few bytes: the query reads no content), in one transaction
// as the database's owner. The rows are the ones the library writes, with the values its triggers
// would give them: the guard's copy of the cabinet's privacy and owner, and content whose bytes are
// the ones its hash names; both triggers are off while the transaction fills the tables, which
// makes the fill several times faster. Returns the objects made.
long long fillTree(lf::test::PrivatePostgres& server, const lf::test::PrivatePostgres::Database& database,
                   const std::string& qId, const ObjectRecord& cabinet, const std::string& owner,
                   int perLeaf) {
    auto quoted = [](const std::string& s) { return "'" + s + "'"; };
    const std::string now = quoted(nowText());
    const std::string common = "owner_name, version_label, creation_date, modify_date, modifier, cabinet_id, "
                               "cabinet_private, cabinet_owner";
    const std::string commonValues = quoted(owner) + ", '1.0', " + now + ", " + now + ", " + quoted(owner) +
                                     ", " + quoted(cabinet.id) + ", false, " + quoted(cabinet.owner);
    // Ids as the library makes them: "09" and 14 hex digits, spread over the whole range.
    auto idOf = [](const std::string& seed) { return "'09' || substr(md5(" + seed + "), 1, 14)"; };
    const std::string leaves =
        " FROM generate_series(0, 99) f, generate_series(0, 9) g, generate_series(0, " +
        std::to_string(perLeaf - 1) + ") d";
    const std::string bytes = "convert_to('bench document ' || f || '.' || g || '.' || d, 'UTF8')";
    // The server names content by its chunk digest: of one chunk, the SHA-256 of its SHA-256.
    const std::string hash = "encode(sha256(sha256(" + bytes + ")), 'hex')";
    // Rows written as they are, past the triggers (the superuser's session, before it takes the
    // owner's role).
    server.exec("SET session_replication_role = replica; SET ROLE " + quoted(database.owner) +
                    ";\n"
                    "INSERT INTO tessarel.objects(id, type, name, folder_id, parent_path, " +
                    common + ") SELECT " + idOf("'f' || f") + ", 'ts_folder', 'f' || f, " + quoted(qId) +
                    ", '/Bench/Q', " + commonValues +
                    " FROM generate_series(0, 99) f;\n"
                    "INSERT INTO tessarel.objects(id, type, name, folder_id, parent_path, " +
                    common + ") SELECT " + idOf("'g' || f || '.' || g") + ", 'ts_folder', 'g' || g, " +
                    idOf("'f' || f") + ", '/Bench/Q/f' || f, " + commonValues +
                    " FROM generate_series(0, 99) f, generate_series(0, 9) g;\n"
                    "INSERT INTO tessarel.content(hash, size, chunks) SELECT " +
                    hash + ", octet_length(" + bytes + "), 1" + leaves +
                    ";\n"
                    "INSERT INTO tessarel.content_chunks(hash, n, data, digest) SELECT " +
                    hash + ", 0, " + bytes + ", sha256(" + bytes + ")" + leaves +
                    ";\n"
                    "INSERT INTO tessarel.objects(id, type, name, content_type, folder_id, parent_path, "
                    "content_hash, "
                    "content_size, " +
                    common + ") SELECT " + idOf("'d' || f || '.' || g || '.' || d") +
                    ", 'ts_document', d || CASE WHEN d % 2 = 1 THEN '_Deck.pptx' ELSE '_Notes.docx' END, "
                    "CASE WHEN d % 2 = 1 THEN 'ppt8' ELSE 'msw8' END, " +
                    idOf("'g' || f || '.' || g") + ", '/Bench/Q/f' || f || '/g' || g, " + hash +
                    ", octet_length(" + bytes + "), " + commonValues + leaves + ";\n",
                database.name);
    // As autovacuum would in time: statistics for the planner, the visibility map for index-only
    // scans; then everything written goes to disk before anything is measured on it.
    for (const char* table : {"objects", "content", "content_chunks"})
        server.exec(std::string("VACUUM (ANALYZE) tessarel.") + table, database.name);
    server.exec("CHECKPOINT", database.name);
    return 100LL + 1000LL + 1000LL * perLeaf;
}

// Check-out and check-in cycles of concurrent clients, each a thread with a login of its own.
struct CycleFigures {
    int clients = 0;
    long long cycles = 0, refused = 0, failed = 0;
    double wallMs = 0;
    std::vector<double> checkouts, checkins, refusals;
    std::string firstFailure;
};

CycleFigures runCycles(const fs::path& root, const std::vector<std::vector<std::string>>& documentsOf,
                       int clients, int cycles, const std::string& label) {
    CycleFigures out;
    out.clients = clients;
    std::vector<CycleFigures> per(static_cast<size_t>(clients));
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    const auto limit = std::chrono::seconds(120);
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            CycleFigures& mine = per[static_cast<size_t>(c)];
            bool counted = false;
            try {
                auto client = TsClient::create();
                auto session = login(client, userName(c));
                std::vector<TsObjectPtr> docs;
                for (const auto& id : documentsOf[static_cast<size_t>(c)])
                    docs.push_back(session->objectById(id));
                const fs::path dir = root / ("clients-" + label) / ("c" + std::to_string(c));
                std::mt19937_64 rng(1000 + static_cast<unsigned>(c));
                ++ready;
                counted = true;
                while (!go)
                    std::this_thread::yield();
                const auto start = Clock::now();
                for (int k = 0; k < cycles && Clock::now() - start < limit; ++k) {
                    auto& doc = docs[static_cast<size_t>(k + c) % docs.size()];
                    auto co = client->newCheckoutOperation();
                    co->setDestinationDirectory(dir.string());
                    auto node = co->add(doc);
                    auto t = Clock::now();
                    const bool outOk = co->execute();
                    const double ms = msSince(t);
                    if (!outOk) {
                        const std::string why = co->errors()->count() ? co->errors()->item(0)->code() : "";
                        if (why == code::LockConflict) {
                            ++mine.refused;
                            mine.refusals.push_back(ms);
                            continue;
                        }
                        ++mine.failed;
                        if (mine.firstFailure.empty())
                            mine.firstFailure =
                                co->errors()->count() ? co->errors()->item(0)->getMessage() : "?";
                        continue;
                    }
                    mine.checkouts.push_back(ms);
                    // The user's edit: new bytes for the next version.
                    std::ofstream(node->localPath(), std::ios::binary | std::ios::trunc)
                        << randomBytes(rng, 16 * 1024);
                    auto ci = client->newCheckinOperation();
                    ci->add(doc);
                    t = Clock::now();
                    const bool in = ci->execute();
                    const double inMs = msSince(t);
                    if (!in) {
                        ++mine.failed;
                        if (mine.firstFailure.empty())
                            mine.firstFailure =
                                ci->errors()->count() ? ci->errors()->item(0)->getMessage() : "?";
                        try {
                            doc->cancelCheckout();
                        } catch (const TsException&) {
                        }
                        continue;
                    }
                    mine.checkins.push_back(inMs);
                    ++mine.cycles;
                }
            } catch (const std::exception& e) {
                ++mine.failed;
                mine.firstFailure = e.what();
                if (!counted)
                    ++ready;
            }
        });
    }
    while (ready < clients)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto t0 = Clock::now();
    perfControl("cycles", true);
    go = true;
    for (auto& t : threads)
        t.join();
    perfControl("cycles", false);
    out.wallMs = msSince(t0);
    for (const auto& p : per) {
        out.cycles += p.cycles;
        out.refused += p.refused;
        out.failed += p.failed;
        out.checkouts.insert(out.checkouts.end(), p.checkouts.begin(), p.checkouts.end());
        out.checkins.insert(out.checkins.end(), p.checkins.begin(), p.checkins.end());
        out.refusals.insert(out.refusals.end(), p.refusals.begin(), p.refusals.end());
        if (out.firstFailure.empty())
            out.firstFailure = p.firstFailure;
    }
    return out;
}

// Operations (check-outs, check-ins and refused check-outs) per second of one run of cycles.
double opsPerSecond(const CycleFigures& f) {
    return static_cast<double>(f.checkouts.size() + f.checkins.size() + f.refusals.size()) /
           (f.wallMs / 1000.0);
}

void printCycles(const char* what, const CycleFigures& f) {
    std::printf("%-30s %7lld %7lld %8.0f %8.1f", what, f.cycles, f.refused, f.wallMs, opsPerSecond(f));
    for (const auto* v : {&f.checkouts, &f.checkins})
        std::printf(" %6.1f %6.1f %7.1f", percentile(*v, 0.5), percentile(*v, 0.99),
                    v->empty() ? 0.0 : *std::max_element(v->begin(), v->end()));
    std::printf("\n");
    if (f.failed)
        std::printf("  %lld operations FAILED; the first: %s\n", f.failed, f.firstFailure.c_str());
}

// The counts of clients, "8, 32".
std::string clientCounts(const Options& o) {
    std::string out;
    for (const int n : o.clients)
        out += (out.empty() ? "" : ", ") + std::to_string(n);
    return out;
}

// One round's cycles at one count of clients: each its own documents, then all the same two.
struct CycleRound {
    CycleFigures separate, contended;
};

// Each round's runs, then the operations per second of every count side by side: the medians of
// the rounds, and each larger count's against the first count's as the median of each round's own
// ratio.
void printCycleRounds(const Options& o, const std::vector<std::vector<CycleRound>>& byCount) {
    std::printf("\ncheck-out + check-in cycles of 16 KiB documents, %s clients (threads, a login each), "
                "%d cycles each\n",
                clientCounts(o).c_str(), o.cycles);
    std::printf("%-30s %7s %7s %8s %8s %6s %6s %7s %6s %6s %7s\n", "", "cycles", "refused", "wall ms",
                "ops/s", "out50", "out99", "outmax", "in50", "in99", "inmax");
    for (size_t r = 0; r < static_cast<size_t>(o.rounds); ++r) {
        for (size_t k = 0; k < byCount.size(); ++k) {
            const std::string n = std::to_string(o.clients[k]);
            if (o.rounds > 1)
                std::printf("round %zu, %s clients\n", r + 1, n.c_str());
            printCycles(("each of " + n + " its own 4 docs").c_str(), byCount[k][r].separate);
            printCycles(("all " + n + " the same 2 docs").c_str(), byCount[k][r].contended);
        }
    }
    std::printf("(ms; ops are check-outs, check-ins and refused check-outs; a refused check-out found the "
                "document checked out by another client)\n\n");
    auto medianOf = [&](size_t k, auto figure) {
        std::vector<double> v;
        for (const auto& round : byCount[k])
            v.push_back(figure(round));
        return median(v);
    };
    std::printf("%-57s",
                o.rounds > 1 ? "operations per second (median of the rounds)" : "operations per second");
    for (const int n : o.clients)
        std::printf(" %9s", (std::to_string(n) + " clients").c_str());
    for (size_t k = 1; k < o.clients.size(); ++k)
        std::printf(" %9s", (std::to_string(o.clients[k]) + "/" + std::to_string(o.clients[0])).c_str());
    std::printf("\n");
    const std::vector<std::pair<const char*, CycleFigures CycleRound::*>> kinds = {
        {"each client its own 4 docs", &CycleRound::separate},
        {"all clients the same 2 docs", &CycleRound::contended}};
    for (const auto& [what, kind] : kinds) {
        std::printf("%-57s", what);
        for (size_t k = 0; k < byCount.size(); ++k)
            std::printf(" %9.1f", medianOf(k, [&](const CycleRound& c) { return opsPerSecond(c.*kind); }));
        for (size_t k = 1; k < byCount.size(); ++k) {
            std::vector<double> ratios;
            for (size_t r = 0; r < byCount[k].size(); ++r)
                ratios.push_back(opsPerSecond(byCount[k][r].*kind) / opsPerSecond(byCount[0][r].*kind));
            std::printf(" %8.2fx", median(ratios));
        }
        std::printf("\n");
    }
}

int runServer(const Options& o, const fs::path& root) {
    if (const QString why = lf::test::PrivatePostgres::unavailableReason(); !why.isEmpty()) {
        std::printf("bench_tessarel --server: skipped: %s\n", qPrintable(why));
        return 0;
    }
    // The repository list and the data folder of this run only, never the user's own.
    qputenv("XDG_CONFIG_HOME", (root / "config").c_str());
    qputenv("XDG_DATA_HOME", (root / "data").c_str());
    auto t = Clock::now();
    lf::test::PrivatePostgres server(true);
    const auto database = server.makeDatabase("bench_tessarel");
    const double startMs = msSince(t);
    const std::string location = "postgresql:" + database.conninfo;
    auto store = initRepository(location);
    const std::string author = "bench_author";
    addUser(*store, author, passwordOf(author));
    const int mostClients = *std::max_element(o.clients.begin(), o.clients.end());
    for (int c = 0; c < mostClients; ++c)
        addUser(*store, userName(c), passwordOf(userName(c)));
    auto admin = openAdminSession(store, kRepository, "bench");
    auto q = makeFolders(admin, "/Bench/Q", true);
    // Listed without the owner's credentials: a login brings its own.
    lf::platform::WritePrivateProfileString(
        "Repositories", kRepository,
        QString::fromStdString("postgresql:" + server.conninfo(database.name, "", "")),
        lf::platform::profileFilePath("tessarel.ini"));
    const std::string version = server.exec("SHOW server_version");
    // A server that has been running reuses the segments of its write-ahead log; a new one makes
    // each segment the first time, writing it full of zeros and syncing it, which would double what
    // the import writes. Segments switched and then retired by a checkpoint are kept for reuse (as
    // many as the last checkpoints' distance calls for): the server the import meets is a
    // running one.
    server.exec("CREATE TABLE bench_wal(i integer)");
    for (int i = 0; i < 48; ++i)
        server.exec("INSERT INTO bench_wal VALUES (1); SELECT pg_switch_wal()");
    server.exec("DROP TABLE bench_wal");
    server.exec("CHECKPOINT");
    const std::string walSegments = server.exec("SELECT count(*) FROM pg_ls_waldir()");

    const double mib = double(o.files) * o.kib / 1024.0;
    std::printf(
        "bench_tessarel --server: PostgreSQL %s (private, durable: fsync and synchronous commit "
        "on, Unix socket), %u cores\n%d files x %d KiB (%.0f MiB), query over %d objects, %s clients x "
        "%d cycles\nserver started and database made in %.0f ms; %s segments of write-ahead log ready\n\n",
        version.c_str(), std::thread::hardware_concurrency(), o.files, o.kib, mib, o.objects,
        clientCounts(o).c_str(), o.cycles, startMs, walSegments.c_str());

    auto client = TsClient::create();
    auto session = login(client, author);
    const std::string backend =
        server.exec("SELECT pid FROM pg_stat_activity WHERE usename = '" + author + "'", database.name);
    std::vector<Round> rounds;
    for (int r = 0; r < o.rounds; ++r) {
        Transfer transfer(o, root, r);
        const std::string folder = "/Bench/Import" + std::to_string(r);
        makeFolders(admin, folder, true);
        // What the import's commit left to the server's next checkpoint: the chunks written to
        // their tables' files (the commit made them durable in the write-ahead log).
        rounds.push_back(measureRound(
            transfer, client, session, session->folderByPath(folder)->objectId(),
            [&] {
                const auto t0 = Clock::now();
                server.exec("CHECKPOINT");
                return msSince(t0);
            },
            [&] { return processCpuMs(backend); }));
    }
    printRounds(rounds, mib, "import (server, as a user)", "export (server, as a user)",
                "checkpoint after the import and export");

    // A repository of many objects, as a user sees it.
    const int perLeaf = std::max(1, o.objects / 1000);
    t = Clock::now();
    const auto cabinet = admin->folderByPath("/Bench");
    perfControl("fill", true);
    const long long made =
        fillTree(server, database, q->objectId()->text(), cabinet->record(), author, perLeaf);
    perfControl("fill", false);
    const double fillMs = msSince(t);
    std::printf("\nfilled /Bench/Q with %lld objects in %.1f s (INSERT ... SELECT as the owner, then VACUUM "
                "ANALYZE and CHECKPOINT)\n",
                made, fillMs / 1000.0);
    const std::vector<std::string> idName{"r_object_id", "object_name"};
    const std::vector<std::string> id{"r_object_id"};
    const std::string descend =
        "select r_object_id, object_name from ts_sysobject where folder('/Bench/Q',descend)";
    perfControl("query", true);
    const auto first = timeQuery(client, session, descend, idName, 7, 10000);
    const auto whole = timeQuery(client, session, descend, idName, 3);
    const auto sub = timeQuery(client, session,
                               "select r_object_id from ts_document where folder('/Bench/Q/f42',descend) "
                               "and a_content_type = 'ppt8'",
                               id, 7);
    const auto docs = timeQuery(
        client, session, "select r_object_id from ts_document where folder('/Bench/Q',descend)", id, 3);
    perfControl("query", false);
    std::printf("query as a user (rows read with getString; median of 7, of 3 for every row)\n");
    std::printf("%-66s %8s %9s %9s %9s\n", "", "rows", "wall ms", "max ms", "cpu ms");
    auto queryLine = [](const char* what, const QueryTime& qt) {
        std::printf("%-66s %8d %9.1f %9.1f %9.1f\n", what, qt.rows, qt.wallMs, qt.maxMs, qt.cpuMs);
    };
    queryLine("select r_object_id, object_name ... folder('/Bench/Q',descend): first", first);
    queryLine("  ... every row", whole);
    queryLine("ts_document folder('/Bench/Q/f42',descend) and a_content_type='ppt8'", sub);
    queryLine("ts_document folder('/Bench/Q',descend)", docs);

    // Check-out and check-in: each client its own four documents, then all of them the same two;
    // the first clients of a larger count are the clients of a smaller one.
    std::mt19937_64 rng(7);
    std::vector<std::vector<std::string>> own(static_cast<size_t>(mostClients));
    for (int c = 0; c < mostClients; ++c) {
        // Made in the client user's name: its owner.
        auto maker = openAdminSession(store, kRepository, userName(c));
        makeFolders(maker, "/Bench/Clients/c" + std::to_string(c));
        for (int d = 0; d < 4; ++d) {
            auto doc = maker->newObject("ts_document");
            const fs::path file =
                root / "small" / ("c" + std::to_string(c) + "_" + std::to_string(d) + ".docx");
            fs::create_directories(file.parent_path());
            std::ofstream(file, std::ios::binary) << randomBytes(rng, 16 * 1024);
            doc->setObjectName(file.filename().string());
            doc->setFile(file.string());
            doc->link("/Bench/Clients/c" + std::to_string(c));
            doc->save();
            own[static_cast<size_t>(c)].push_back(doc->objectId()->text());
        }
    }
    const std::vector<std::vector<std::string>> shared(static_cast<size_t>(mostClients),
                                                       {own[0][0], own[0][1]});
    // Every round runs each count once, one after the other, so that a machine shared with other
    // work weighs on every count alike; the figures are the rounds' medians.
    std::vector<std::vector<CycleRound>> cycleRounds(o.clients.size());
    bool ok = true;
    for (int r = 0; r < o.rounds; ++r) {
        for (size_t k = 0; k < o.clients.size(); ++k) {
            const int n = o.clients[k];
            const std::string label = std::to_string(n) + "-" + std::to_string(r);
            CycleRound round;
            server.exec("CHECKPOINT");
            round.separate = runCycles(root, own, n, o.cycles, "own-" + label);
            server.exec("CHECKPOINT");
            round.contended = runCycles(root, shared, n, o.cycles, "shared-" + label);
            ok = ok && round.separate.failed == 0 && round.contended.failed == 0;
            cycleRounds[k].push_back(std::move(round));
        }
    }
    printCycleRounds(o, cycleRounds);
    for (const auto& r : rounds)
        ok = ok && r.ops.imported && r.ops.exported;
    return ok ? 0 : 1;
}

#endif

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    bool objectsGiven = false;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--files"))
            o.files = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--kib"))
            o.kib = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--objects"))
            o.objects = std::atoi(argv[i + 1]), objectsGiven = true;
        else if (!std::strcmp(argv[i], "--clients")) {
            // One count, or several separated by commas ("8,32").
            o.clients.clear();
            std::istringstream list(argv[i + 1]);
            for (std::string n; std::getline(list, n, ',');)
                o.clients.push_back(std::max(1, std::atoi(n.c_str())));
            if (o.clients.empty())
                o.clients.push_back(1);
        } else if (!std::strcmp(argv[i], "--cycles"))
            o.cycles = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--rounds"))
            o.rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    QTemporaryDir tmp(QDir::currentPath() + "/bench_tessarel-XXXXXX");
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--keep-cache"))
            o.dropCaches = false;
        if (!std::strcmp(argv[i], "--server"))
            o.server = true;
        if (!std::strcmp(argv[i], "--keep")) {
            tmp.setAutoRemove(false);
            std::printf("keeping %s\n", qPrintable(tmp.path()));
        }
    }
    const fs::path root = tmp.path().toStdString();
    if (!o.server) {
        o.rounds = std::max(o.rounds, 1);
        return runEmbedded(o, root);
    }
#ifdef LF_BENCH_POSTGRES
    if (!objectsGiven)
        o.objects = 1000000;
    if (o.rounds == 0)
        o.rounds = 3;
    return runServer(o, root);
#else
    (void)objectsGiven;
    std::printf("bench_tessarel --server: skipped: built without the private PostgreSQL server of the "
                "tests (LF_BUILD_TESTS=OFF)\n");
    return 0;
#endif
}
