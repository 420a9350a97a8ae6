#include "workfiles/zip_packer.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

namespace lf::workfiles {

namespace {

namespace fs = std::filesystem;

// WinZip's "normal" compression, the level Info-ZIP uses too.
constexpr zip_uint32_t kDeflateLevel = 6;

struct ArchiveCloser {
    void operator()(zip_t* za) const {
        if (za)
            zip_discard(za);
    }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

QString zipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

QString archiveErrorText(zip_t* za) {
    return QString::fromUtf8(zip_error_strerror(zip_get_error(za)));
}

PackResult failure(const QString& file, const QString& reason) {
    PackResult r;
    r.failedFile = file;
    r.reason = reason;
    return r;
}

// Whether the file can be opened for reading now; the reason when it cannot.
bool readable(const QString& hostPath, QString* reason) {
    std::FILE* f = std::fopen(QFile::encodeName(hostPath).constData(), "rb");
    if (!f) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    std::fclose(f);
    if (!QFileInfo(hostPath).isFile()) {
        *reason = "Not a plain file";
        return false;
    }
    return true;
}

// A hidden name beside the archive: a directory listing of the packed folder never shows it, so a
// leftover of an interrupted pack is never packed itself.
QString temporaryPathFor(const QString& archivePath) {
    const QFileInfo info(archivePath);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = info.absolutePath() + "/." + info.fileName() + ".pack-" +
                                  QString::number(QRandomGenerator::global()->generate64(), 16);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
    return QString();
}

} // namespace

PackResult packFiles(const QString& archivePath, const std::vector<PackInput>& inputs) {
    // The last input of each name wins; the order of first appearance is kept.
    std::vector<PackInput> wanted;
    std::map<QString, size_t> slotOfName; // upper-cased name -> index in wanted
    for (const auto& in : inputs) {
        if (in.entryName.isEmpty() || in.entryName.contains('/') || in.entryName.contains('\\'))
            return failure(in.hostPath, "Not a name without folders: \"" + in.entryName + "\"");
        const QString key = in.entryName.toUpper();
        if (auto it = slotOfName.find(key); it != slotOfName.end())
            wanted[it->second] = in;
        else {
            slotOfName.emplace(key, wanted.size());
            wanted.push_back(in);
        }
    }
    for (const auto& in : wanted) {
        QString reason;
        if (!readable(in.hostPath, &reason))
            return failure(in.hostPath, reason);
    }

    Archive old;
    const bool oldExists = QFileInfo::exists(archivePath);
    if (oldExists) {
        int code = 0;
        old.reset(zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &code));
        if (!old)
            return failure(archivePath, zipErrorText(code));
    }

    const QString tempPath = temporaryPathFor(archivePath);
    if (tempPath.isEmpty())
        return failure(archivePath, "No temporary file name is free");
    int code = 0;
    Archive out(zip_open(QFile::encodeName(tempPath).constData(), ZIP_CREATE | ZIP_EXCL, &code));
    if (!out)
        return failure(archivePath, zipErrorText(code));

    auto removeTemp = [&] {
        std::error_code ec;
        fs::remove(fs::path(QFile::encodeName(tempPath).toStdString()), ec);
    };

    PackResult result;
    // Entries of the old archive that no input replaces are copied as they are, still compressed.
    if (old) {
        const zip_int64_t n = zip_get_num_entries(old.get(), 0);
        for (zip_int64_t i = 0; i < n; ++i) {
            const char* rawName = zip_get_name(old.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
            if (!rawName)
                return failure(archivePath, archiveErrorText(old.get()));
            const QString name = QString::fromUtf8(rawName);
            if (slotOfName.count(name.toUpper()))
                continue;
            zip_source_t* src =
                zip_source_zip(out.get(), old.get(), static_cast<zip_uint64_t>(i), ZIP_FL_COMPRESSED, 0, -1);
            if (!src)
                return failure(archivePath, archiveErrorText(out.get()));
            const zip_int64_t index = zip_file_add(out.get(), rawName, src, ZIP_FL_ENC_GUESS);
            if (index < 0) {
                zip_source_free(src);
                return failure(archivePath, archiveErrorText(out.get()));
            }
            zip_stat_t st;
            zip_stat_init(&st);
            if (zip_stat_index(old.get(), static_cast<zip_uint64_t>(i), 0, &st) == 0 &&
                (st.valid & ZIP_STAT_MTIME))
                zip_file_set_mtime(out.get(), static_cast<zip_uint64_t>(index), st.mtime, 0);
            ++result.entriesWritten;
        }
    }

    for (const auto& in : wanted) {
        zip_source_t* src = zip_source_file(out.get(), QFile::encodeName(in.hostPath).constData(), 0, -1);
        if (!src)
            return failure(in.hostPath, archiveErrorText(out.get()));
        const QByteArray name = in.entryName.toUtf8();
        const zip_int64_t index = zip_file_add(out.get(), name.constData(), src, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(src);
            return failure(in.hostPath, archiveErrorText(out.get()));
        }
        // The better of deflate and store: deflated unless that would make the entry larger.
        zip_set_file_compression(out.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFAULT, kDeflateLevel);
        ++result.entriesWritten;
    }

    if (result.entriesWritten == 0) {
        // An archive with no entries is not written at all; the old one (if any) stays.
        out.reset();
        removeTemp();
        return failure(archivePath, "No files to add");
    }

    // Every input is read here; a file that fails now (or a full disk) leaves the old archive alone.
    if (zip_close(out.get()) != 0) {
        const QString reason = archiveErrorText(out.get());
        out.reset();
        removeTemp();
        return failure(archivePath, reason);
    }
    out.release(); // zip_close freed it
    old.reset();

    std::error_code ec;
    fs::rename(fs::path(QFile::encodeName(tempPath).toStdString()),
               fs::path(QFile::encodeName(archivePath).toStdString()), ec);
    if (ec) {
        removeTemp();
        return failure(archivePath, QString::fromStdString(ec.message()));
    }
    result.ok = true;
    return result;
}

} // namespace lf::workfiles
