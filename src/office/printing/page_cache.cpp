#include "office/printing/page_cache.h"

#include "platform/replace_file.h"
#include "platform/whole_file.h"

#include <QCryptographicHash>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace lf::printing {

namespace fs = std::filesystem;

namespace {

// "LFPC1 <SHA-256 of the payload, 64 hex digits> <payload size, 20 digits>\n": of fixed length, so
// that a writer leaves room for it and fills it in once the payload is written.
constexpr std::string_view kMagic = "LFPC1 ";
constexpr std::size_t kHashDigits = 64;
constexpr std::size_t kSizeDigits = 20;
constexpr std::size_t kHeaderSize = kMagic.size() + kHashDigits + 1 + kSizeDigits + 1;
constexpr std::string_view kEntryExtension = ".lfc";
constexpr std::size_t kChunk = 1 << 20;
// A temporary older than this was left by a writer that was killed.
constexpr std::chrono::hours kAbandonedAfter{1};

std::string header(const std::string& hash, std::uint64_t size) {
    char digits[kSizeDigits + 1];
    std::snprintf(digits, sizeof digits, "%020llu", static_cast<unsigned long long>(size));
    return std::string(kMagic) + hash + " " + digits + "\n";
}

struct Header {
    std::string hash;
    std::uint64_t size = 0;
};

std::optional<Header> parseHeader(const std::string& text) {
    if (text.size() != kHeaderSize || !text.starts_with(kMagic) || text[kMagic.size() + kHashDigits] != ' ' ||
        text.back() != '\n')
        return std::nullopt;
    Header h;
    h.hash = text.substr(kMagic.size(), kHashDigits);
    const char* digits = text.data() + kMagic.size() + kHashDigits + 1;
    const auto [end, error] = std::from_chars(digits, digits + kSizeDigits, h.size);
    if (error != std::errc() || end != digits + kSizeDigits)
        return std::nullopt;
    return h;
}

std::string hex(const QCryptographicHash& hash) {
    return hash.result().toHex().toStdString();
}

} // namespace

std::string fileSha256(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(kChunk);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        hash.addData(QByteArrayView(buffer.data(), in.gcount()));
    }
    return in.bad() ? std::string() : hex(hash);
}

std::string cacheKey(std::initializer_list<std::string_view> parts) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (std::string_view part : parts) {
        const std::string length = std::to_string(part.size()) + ":";
        hash.addData(QByteArrayView(length.data(), static_cast<qsizetype>(length.size())));
        hash.addData(QByteArrayView(part.data(), static_cast<qsizetype>(part.size())));
    }
    return hex(hash);
}

PageCache::PageCache(fs::path folder, std::uint64_t limit) : folder_(std::move(folder)), limit_(limit) {
    if (folder_.empty()) {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (!base.isEmpty())
            folder_ = fs::path(base.toStdString()) / "lessonforge" / "print-cache";
    }
}

fs::path PageCache::entryOf(const std::string& key) const {
    return folder_ / (key + std::string(kEntryExtension));
}

std::optional<std::string> PageCache::fetch(const std::string& key, const fs::path& target) {
    if (folder_.empty() || key.empty())
        return std::nullopt;
    const fs::path entry = entryOf(key);
    std::ifstream in(entry, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::error_code error;
    auto damaged = [&] {
        in.close();
        fs::remove(entry, error);
        return std::nullopt;
    };
    std::string head(kHeaderSize, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    const std::optional<Header> h = parseHeader(head.substr(0, static_cast<std::size_t>(in.gcount())));
    if (!h || fs::file_size(entry, error) != kHeaderSize + h->size)
        return damaged();

    platform::WholeFileWriter out(target);
    if (!out.why().empty())
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(kChunk);
    std::uint64_t left = h->size;
    while (left > 0) {
        in.read(buffer.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size())));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0)
            return damaged();
        hash.addData(QByteArrayView(buffer.data(), static_cast<qsizetype>(got)));
        if (!out.write(std::string_view(buffer.data(), got)))
            return std::nullopt; // the target's disk, not the entry
        left -= got;
    }
    if (hex(hash) != h->hash)
        return damaged();
    if (!out.commit().empty())
        return std::nullopt;
    fs::last_write_time(entry, fs::file_time_type::clock::now(), error); // the entry was used
    return h->hash;
}

std::string PageCache::store(const std::string& key, const fs::path& file) {
    if (folder_.empty() || key.empty())
        return fileSha256(file);
    std::error_code error;
    fs::create_directories(folder_, error);
    platform::ReplaceOptions options;
    options.removeLeftovers = false; // evict() takes the leftovers of the whole folder
    platform::FileReplacement entry(entryOf(key), options);
    if (!entry.ok())
        return fileSha256(file);

    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    bool writing = entry.write(header(std::string(kHashDigits, '0'), 0));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::uint64_t size = 0;
    std::vector<char> buffer(kChunk);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        hash.addData(QByteArrayView(buffer.data(), static_cast<qsizetype>(got)));
        size += got;
        writing = writing && entry.write(std::string_view(buffer.data(), got));
    }
    if (in.bad())
        return {};
    const std::string sum = hex(hash);
    const std::string head = header(sum, size);
    writing =
        writing && ::pwrite(entry.fd(), head.data(), head.size(), 0) == static_cast<ssize_t>(head.size());
    if (writing && entry.commit())
        evict();
    return sum;
}

void PageCache::evict() {
    struct Entry {
        fs::path path;
        fs::file_time_type used;
        std::uint64_t size;
    };
    std::vector<Entry> entries;
    std::uint64_t total = 0;
    std::error_code error;
    const auto now = fs::file_time_type::clock::now();
    for (const fs::directory_entry& e : fs::directory_iterator(folder_, error)) {
        std::error_code one;
        const fs::file_time_type used = e.last_write_time(one);
        const std::uint64_t size = one ? 0 : e.file_size(one);
        if (one)
            continue;
        const std::string name = e.path().filename().string();
        if (name.starts_with(".")) {
            if (now - used > kAbandonedAfter)
                fs::remove(e.path(), one);
            continue;
        }
        if (!name.ends_with(kEntryExtension))
            continue;
        entries.push_back({e.path(), used, size});
        total += size;
    }
    if (total <= limit_)
        return;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.used < b.used; });
    for (const Entry& e : entries) {
        if (total <= limit_)
            break;
        std::error_code one;
        if (fs::remove(e.path, one))
            total -= e.size;
    }
}

} // namespace lf::printing
