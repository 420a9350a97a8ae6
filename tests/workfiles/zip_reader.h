#pragma once
// Reads a zip archive back with libzip and checks it with Info-ZIP's unzip -t.
#include <QProcess>
#include <QString>

#include <zip.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace lf::test {

struct ZipEntry {
    std::string data;
    int compression = -1;
    std::uint64_t size = 0;
};

// name -> entry; empty when the archive cannot be opened. With readData false only sizes are read.
inline std::map<std::string, ZipEntry> readZip(const std::filesystem::path& archive, bool readData = true) {
    std::map<std::string, ZipEntry> entries;
    int err = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!za)
        return entries;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
        ZipEntry e;
        e.compression = st.comp_method;
        e.size = st.size;
        if (readData) {
            zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
            if (f) {
                e.data.resize(st.size);
                const zip_int64_t got = zip_fread(f, e.data.data(), st.size);
                e.data.resize(got < 0 ? 0 : static_cast<size_t>(got));
                zip_fclose(f);
            }
        }
        entries[st.name] = std::move(e);
    }
    zip_discard(za);
    return entries;
}

// The entry names as the archive holds them, byte for byte (readZip's names are converted to UTF-8
// when they are not flagged so).
inline std::vector<std::string> rawEntryNames(const std::filesystem::path& archive) {
    std::vector<std::string> names;
    int err = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!za)
        return names;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i)
        if (const char* name = zip_get_name(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW))
            names.emplace_back(name);
    zip_discard(za);
    return names;
}

// unzip -t's exit code (0: every entry tests good).
inline int unzipTest(const std::filesystem::path& archive, QString* output = nullptr, int timeoutMs = 60000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("unzip", {"-t", QString::fromStdString(archive.string())});
    if (!p.waitForFinished(timeoutMs))
        return -1;
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitCode();
}

} // namespace lf::test
