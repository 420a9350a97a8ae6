// bench_packer: packs the same folder with our packer (the one behind RunWinZip) and with Info-ZIP
// zip, side by side in one run, and prints the times, the archive sizes and their ratios.
//   bench_packer [rounds]
// The folder: every deck and document of the corpus, plus generated slide text and print files.
#include "workfiles/zip_packer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& file, size_t bytes, int seed) {
    std::ofstream out(file, std::ios::binary);
    std::string line;
    size_t written = 0;
    for (int i = 0; written < bytes; ++i) {
        line = "Module " + std::to_string(seed) + " slide " + std::to_string(i) +
               ": storage tiers, replication and the life of a snapshot.\n";
        out << line;
        written += line.size();
    }
}

void writeRandom(const fs::path& file, size_t bytes) {
    std::ofstream out(file, std::ios::binary);
    std::vector<char> buf(bytes);
    for (auto& c : buf)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path corpus = fs::path(LF_CORPUS_DIR);
    QTemporaryDir temp;
    const fs::path folder = fs::path(temp.path().toStdString()) / "course";
    fs::create_directories(folder);
    std::uint64_t inputBytes = 0;
    int files = 0;
    for (const char* sub : {"pptx", "docx"}) {
        for (const auto& e : fs::directory_iterator(corpus / sub)) {
            if (!e.is_regular_file())
                continue;
            fs::copy_file(e.path(), folder / e.path().filename());
            inputBytes += e.file_size();
            ++files;
        }
    }
    for (int i = 0; i < 8; ++i) {
        writeText(folder / ("Module " + std::to_string(i) + ".prn"), 2 * 1024 * 1024, i);
        inputBytes += fs::file_size(folder / ("Module " + std::to_string(i) + ".prn"));
        ++files;
    }
    writeRandom(folder / "Video.bin", 8 * 1024 * 1024);
    inputBytes += 8 * 1024 * 1024;
    ++files;

    std::vector<lf::workfiles::PackInput> inputs;
    QStringList paths;
    for (const auto& e : fs::directory_iterator(folder)) {
        const QString p = QString::fromStdString(e.path().string());
        inputs.push_back({p, QString::fromStdString(e.path().filename().string())});
        paths.append(p);
    }

    const fs::path ours = fs::path(temp.path().toStdString()) / "ours.zip";
    const fs::path infozip = fs::path(temp.path().toStdString()) / "infozip.zip";
    std::vector<double> ourTimes, zipTimes;
    for (int r = 0; r < rounds; ++r) {
        fs::remove(ours);
        fs::remove(infozip);
        QElapsedTimer t;
        t.start();
        const auto result = lf::workfiles::packFiles(QString::fromStdString(ours.string()), inputs);
        ourTimes.push_back(t.nsecsElapsed() / 1e6);
        if (!result.ok) {
            std::fprintf(stderr, "packer failed: %s\n", qPrintable(result.reason));
            return 1;
        }
        QProcess zip;
        QStringList args{"-q", "-j", "-X", QString::fromStdString(infozip.string())};
        args += paths;
        t.restart();
        zip.start("zip", args);
        zip.waitForFinished(-1);
        zipTimes.push_back(t.nsecsElapsed() / 1e6);
        if (zip.exitCode() != 0) {
            std::fprintf(stderr, "zip failed: %s\n", zip.readAllStandardError().constData());
            return 1;
        }
    }
    const double ourMs = median(ourTimes), zipMs = median(zipTimes);
    const auto ourSize = fs::file_size(ours), zipSize = fs::file_size(infozip);
    std::printf("input: %d files, %.1f MiB; %d rounds, median times\n", files, inputBytes / 1048576.0,
                rounds);
    std::printf("our packer : %8.1f ms  %10llu bytes\n", ourMs, static_cast<unsigned long long>(ourSize));
    std::printf("Info-ZIP   : %8.1f ms  %10llu bytes\n", zipMs, static_cast<unsigned long long>(zipSize));
    std::printf("time ratio (ours / Info-ZIP): %.2f\n", ourMs / zipMs);
    std::printf("size ratio (ours / Info-ZIP): %.3f\n",
                static_cast<double>(ourSize) / static_cast<double>(zipSize));
    return 0;
}
