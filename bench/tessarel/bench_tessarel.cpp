// bench_tessarel: import and export of many files against copying the same bytes, and a
// descending folder query over a large repository.
//   bench_tessarel [--files N] [--kib K] [--objects M] [--keep-cache] [--keep]
//   (defaults 2000, 200, 100000)
// Every phase writes its own new files; what a phase wrote is synced and its page cache let go
// before the next phase starts (--keep-cache leaves it), so that each phase meets the same memory.
// The sources stay cached throughout. The content the import stored is kept cached for the export.
#include "tessarel/admin.h"
#include "tessarel/repository_store.h"
#include "tessarel/tessarel.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>
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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// With LF_PERF_CTL naming perf's control fifo (perf record --control=fifo:CTL -D -1) and
// LF_PERF_PHASE one of import/export/query, only that phase is recorded.
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int files = 2000, kib = 200, objects = 100000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--files"))
            files = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--kib"))
            kib = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--objects"))
            objects = std::atoi(argv[i + 1]);
    }
    QTemporaryDir tmp(QDir::currentPath() + "/bench_tessarel-XXXXXX");
    bool dropCaches = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--keep-cache"))
            dropCaches = false;
        if (!std::strcmp(argv[i], "--keep")) {
            tmp.setAutoRemove(false);
            std::printf("keeping %s\n", qPrintable(tmp.path()));
        }
    }
    const fs::path root = tmp.path().toStdString();
    const fs::path src = root / "src";
    fs::create_directories(src);
    std::mt19937_64 rng(42);
    std::string bytes(static_cast<size_t>(kib) * 1024, '\0');
    for (int i = 0; i < files; ++i) {
        for (size_t k = 0; k + 8 <= bytes.size(); k += 8) {
            const auto v = rng();
            std::memcpy(&bytes[k], &v, 8);
        }
        std::ofstream(src / ("file" + std::to_string(i) + ".pptx"), std::ios::binary) << bytes;
    }
    syncAll(root);
    const double mib = double(files) * kib / 1024.0;
    std::printf("bench_tessarel: %d files x %d KiB (%.0f MiB), query over %d objects\n\n", files, kib, mib,
                objects);

    // Copying the same bytes, with and without making them durable, and the floor of a durable
    // import: reading, hashing and writing them, then one sync.
    auto copyAll = [&](const fs::path& to, bool sync, bool hash) {
        fs::create_directories(to);
        std::vector<char> buf(1 << 20);
        std::string digest;
        const auto t0 = Clock::now();
        for (int i = 0; i < files; ++i) {
            const std::string name = "file" + std::to_string(i) + ".pptx";
            if (hash)
                hashCopyFile(src / name, to / name, buf, digest);
            else
                copyFile(src / name, to / name);
        }
        if (sync)
            syncAll(root);
        const double ms = msSince(t0);
        syncAll(root);
        if (dropCaches)
            dropCache(to);
        return ms;
    };
    const double copyMs = copyAll(root / "copy", false, false);
    const double copySyncMs = copyAll(root / "copy2", true, false);
    const double floorMs = copyAll(root / "copy3", true, true);

    auto store = initRepository("sqlite:" + (root / "repo").string());
    auto session = openAdminSession(store, "bench", "bench");
    auto folder = makeFolders(session, "/Bench/Import", true);
    TsClient client;

    auto imp = client.newImportOperation();
    imp->setSession(session);
    imp->setDestinationFolder(folder->objectId());
    for (int i = 0; i < files; ++i)
        imp->add(client.fileObject((src / ("file" + std::to_string(i) + ".pptx")).string()));
    syncAll(root);
    auto t = Clock::now();
    perfControl("import", true);
    const bool imported = imp->execute();
    perfControl("import", false);
    const double importMs = msSince(t);

    auto exp = client.newExportOperation();
    exp->setDestinationDirectory((root / "export").string());
    for (int i = 0; i < imp->importedObjects()->count(); ++i)
        exp->add(imp->importedObjects()->item(i));
    syncAll(root);
    t = Clock::now();
    perfControl("export", true);
    const bool exported = exp->execute();
    perfControl("export", false);
    const double exportMs = msSince(t);
    syncAll(root);
    if (dropCaches)
        dropCache(root / "export");

    // The copy once more, after the operations: how far the machine drifted during the run.
    const double copyAgainMs = copyAll(root / "copy4", false, false);

    std::printf("%-36s %8s %8s %9s %12s\n", "", "ms", "MiB/s", "vs copy", "vs copy+sync");
    auto line = [&](const char* what, double ms) {
        std::printf("%-36s %8.0f %8.0f %8.2fx %11.2fx\n", what, ms, mib / (ms / 1000.0), ms / copyMs,
                    ms / copySyncMs);
    };
    line("copy (read + write)", copyMs);
    line("copy + one sync", copySyncMs);
    line("hash + copy + one sync (floor)", floorMs);
    line(imported ? "import (hash, store, sync, commit)" : "import FAILED", importMs);
    line(exported ? "export" : "export FAILED", exportMs);
    line("copy again, after the operations", copyAgainMs);

    // A repository of many objects: 100 folders of 10 subfolders of documents each.
    const int perLeaf = std::max(1, objects / 1000);
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
    auto timeQuery = [&](const std::string& tql, int& rowsOut, double& cpuOut) {
        std::vector<double> runs, cpus;
        for (int r = 0; r < 7; ++r) {
            auto query = client.newQuery();
            query->setTQL(tql);
            const auto t0 = Clock::now();
            const double c0 = cpuMs();
            auto rows = query->execute(session, 0);
            int n = 0;
            size_t chars = 0;
            while (rows->next()) {
                chars += rows->getString("r_object_id").size();
                ++n;
            }
            rows->close();
            runs.push_back(msSince(t0));
            cpus.push_back(cpuMs() - c0);
            rowsOut = n + static_cast<int>(chars % 1);
        }
        cpuOut = median(cpus);
        return median(runs);
    };
    const int total = 100 * 10 * perLeaf;
    int rowsSub = 0, rowsAll = 0, rowsId = 0;
    double cpuSub = 0, cpuAll = 0, cpuId = 0;
    perfControl("query", true);
    const double subMs = timeQuery("select r_object_id from ts_document where folder('/Bench/Q/f42',descend) "
                                   "and a_content_type = 'ppt8'",
                                   rowsSub, cpuSub);
    const std::string qid = session->folderByPath("/Bench/Q")->objectId()->text();
    const double allMs =
        timeQuery("select r_object_id from ts_document where folder('/Bench/Q',descend)", rowsAll, cpuAll);
    const double idMs =
        timeQuery("select r_object_id from ts_document where folder(ID('" + qid +
                      "'),descend) and (a_content_type = 'ppt8' or a_content_type = 'msw6' or "
                      "a_content_type = 'msw8')",
                  rowsId, cpuId);
    perfControl("query", false);
    std::printf("\nquery over %d documents (median of 7, rows read with getString)\n", total);
    std::printf("%-58s %8s %9s %9s\n", "", "rows", "wall ms", "cpu ms");
    std::printf("%-58s %8d %9.1f %9.1f\n", "folder('/Bench/Q/f42',descend) and a_content_type='ppt8'",
                rowsSub, subMs, cpuSub);
    std::printf("%-58s %8d %9.1f %9.1f\n", "folder('/Bench/Q',descend)", rowsAll, allMs, cpuAll);
    std::printf("%-58s %8d %9.1f %9.1f\n", "folder(ID(...),descend) and (three content types)", rowsId, idMs,
                cpuId);
    return imported && exported ? 0 : 1;
}
