#include "workfiles/zip_packer.h"

#include "platform/paths.h"
#include "platform/replace_file.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <system_error>
#include <unistd.h>

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
    std::FILE* f = std::fopen(platform::encodeHostName(hostPath).constData(), "rb");
    if (!f) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    std::fclose(f);
    if (platform::hostKind(hostPath) != platform::HostKind::File) {
        *reason = "Not a plain file";
        return false;
    }
    return true;
}

// Where libzip writes the new archive: a replacement of the archive (a hidden temporary beside it,
// so a directory listing of the packed folder never shows it and a leftover of an interrupted pack is
// never packed itself). libzip makes it when it starts writing, on zip_close, and flushes it there;
// the caller renames it into place. To libzip it is an empty archive to begin with.
class ArchiveOutput {
public:
    explicit ArchiveOutput(std::filesystem::path archive) : archive_(std::move(archive)) {
        zip_error_init(&error_);
    }
    ~ArchiveOutput() {
        closeStream();
        zip_error_fini(&error_);
    }
    ArchiveOutput(const ArchiveOutput&) = delete;
    ArchiveOutput& operator=(const ArchiveOutput&) = delete;

    zip_source_t* source(zip_error_t* error) {
        return zip_source_function_create(&ArchiveOutput::call, this, error);
    }
    // Puts the written archive in place; "" or why it failed.
    QString commit() {
        if (!replacement_ || !replacement_->commit())
            return QString::fromStdString(
                std::generic_category().message(replacement_ ? replacement_->error() : EINVAL));
        return {};
    }

private:
    static zip_int64_t call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        return static_cast<ArchiveOutput*>(self)->handle(data, length, command);
    }

    zip_int64_t failed(int zipError) {
        zip_error_set(&error_, zipError, errno);
        return -1;
    }

    void closeStream() {
        if (stream_)
            std::fclose(stream_);
        stream_ = nullptr;
    }

    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(
                ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
                ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
                ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE,
                ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
        case ZIP_SOURCE_STAT: {
            auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
            if (!st)
                return -1;
            zip_stat_init(st);
            st->size = 0;
            st->valid |= ZIP_STAT_SIZE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t at = zip_source_seek_compute_offset(0, 0, data, length, &error_);
            return at < 0 ? -1 : 0;
        }
        case ZIP_SOURCE_OPEN:
        case ZIP_SOURCE_READ:
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_TELL:
        case ZIP_SOURCE_FREE:
        case ZIP_SOURCE_REMOVE:
            return 0;
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error_, data, length);
        case ZIP_SOURCE_BEGIN_WRITE: {
            replacement_.emplace(archive_);
            if (!replacement_->ok()) {
                errno = replacement_->error();
                return failed(ZIP_ER_TMPOPEN);
            }
            // The replacement keeps its own descriptor (and its lock) until the rename.
            const int fd = ::dup(replacement_->fd());
            stream_ = fd < 0 ? nullptr : ::fdopen(fd, "r+b");
            if (!stream_) {
                const int reason = errno;
                if (fd >= 0)
                    ::close(fd);
                errno = reason;
                return failed(ZIP_ER_TMPOPEN);
            }
            return 0;
        }
        case ZIP_SOURCE_WRITE:
            if (std::fwrite(data, 1, length, stream_) != length)
                return failed(ZIP_ER_WRITE);
            return static_cast<zip_int64_t>(length);
        case ZIP_SOURCE_SEEK_WRITE: {
            auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &error_);
            if (!args)
                return -1;
            if (::fseeko(stream_, static_cast<off_t>(args->offset), args->whence) != 0)
                return failed(ZIP_ER_SEEK);
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE: {
            const off_t at = ::ftello(stream_);
            if (at < 0)
                return failed(ZIP_ER_TELL);
            return at;
        }
        case ZIP_SOURCE_COMMIT_WRITE: {
            const int closed = std::fclose(stream_);
            stream_ = nullptr;
            return closed == 0 ? 0 : failed(ZIP_ER_WRITE);
        }
        case ZIP_SOURCE_ROLLBACK_WRITE:
            closeStream();
            replacement_.reset();
            return 0;
        default:
            zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    std::filesystem::path archive_;
    zip_error_t error_;
    std::optional<platform::FileReplacement> replacement_;
    std::FILE* stream_ = nullptr;
};

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
    const bool oldExists = platform::hostKind(archivePath) != platform::HostKind::Missing;
    if (oldExists) {
        int code = 0;
        old.reset(zip_open(platform::encodeHostName(archivePath).constData(), ZIP_RDONLY, &code));
        if (!old)
            return failure(archivePath, zipErrorText(code));
    }

    ArchiveOutput output(platform::hostFsPath(archivePath));
    zip_error_t openError;
    zip_error_init(&openError);
    zip_source_t* target = output.source(&openError);
    Archive out(target ? zip_open_from_source(target, ZIP_TRUNCATE, &openError) : nullptr);
    if (!out) {
        const QString reason = QString::fromUtf8(zip_error_strerror(&openError));
        if (target)
            zip_source_free(target);
        zip_error_fini(&openError);
        return failure(archivePath, reason);
    }
    zip_error_fini(&openError);

    PackResult result;
    // Entries of the old archive that no input replaces are copied as they are, still compressed.
    if (old) {
        const zip_int64_t n = zip_get_num_entries(old.get(), 0);
        for (zip_int64_t i = 0; i < n; ++i) {
            // The name as the archive holds it: one that is not UTF-8 is kept byte for byte.
            const char* rawName = zip_get_name(old.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (!rawName)
                return failure(archivePath, archiveErrorText(old.get()));
            const QString name = platform::decodeHostName(QByteArray(rawName));
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
        zip_source_t* src =
            zip_source_file(out.get(), platform::encodeHostName(in.hostPath).constData(), 0, -1);
        if (!src)
            return failure(in.hostPath, archiveErrorText(out.get()));
        // A name that is not UTF-8 is written as the bytes it has on the host, without the UTF-8 flag
        // (the way zips from before that flag hold names in a Windows code page); any other name is
        // UTF-8 and flagged so.
        const QByteArray name = platform::encodeHostName(in.entryName);
        const zip_int64_t index =
            zip_file_add(out.get(), name.constData(), src,
                         platform::holdsUndecodedBytes(in.entryName) ? ZIP_FL_ENC_CP437 : ZIP_FL_ENC_UTF_8);
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
        return failure(archivePath, "No files to add");
    }

    // Every input is read here; a file that fails now (or a full disk) leaves the old archive alone.
    if (zip_close(out.get()) != 0)
        return failure(archivePath, archiveErrorText(out.get()));
    out.release(); // zip_close freed it
    old.reset();

    if (const QString reason = output.commit(); !reason.isEmpty())
        return failure(archivePath, reason);
    result.ok = true;
    return result;
}

} // namespace lf::workfiles
