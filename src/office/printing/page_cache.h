#pragma once
// The laid-out pages and print files of earlier runs, kept in the user's cache folder so that a run
// after a small change lays out and filters only what changed. An entry is one file, named by its key
// (a hash of everything its bytes depend on): a header holding the SHA-256 and size of its payload,
// then the payload (the PDF the renderer made, or a print file). Entries are written to a temporary
// beside them and renamed into place, so two runs sharing the folder never see half an entry; an
// entry is checked against its header whenever it is read, and one that does not match (cut short,
// damaged) is removed and counts as absent. Each use touches the entry; after a write the least
// recently used entries go until the folder is within its bound. A cache that cannot be written (no
// folder, a full disk) only makes every lookup a miss: it never fails a print.
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace lf::printing {

// The default bound of the folder: a 30-deck course's PDFs and PostScript print files several times.
constexpr std::uint64_t defaultPageCacheLimit = std::uint64_t(2) << 30;

// The SHA-256 of the file's bytes, in hex; empty when it cannot be read.
std::string fileSha256(const std::filesystem::path& file);

// A key made of the parts (each one taken whole: no two lists of parts give one key), in hex.
std::string cacheKey(std::initializer_list<std::string_view> parts);

class PageCache {
public:
    // `folder` empty: "lessonforge/print-cache" in the user's cache folder ($XDG_CACHE_HOME, else
    // ~/.cache). Makes nothing yet.
    PageCache(std::filesystem::path folder, std::uint64_t limit);

    const std::filesystem::path& folder() const { return folder_; }

    // Writes the payload of the entry to `target` (put in place only whole, as platform/whole_file.h
    // does) when there is an intact entry of that key: the payload's SHA-256; otherwise nothing.
    std::optional<std::string> fetch(const std::string& key, const std::filesystem::path& target);

    // Keeps a copy of `file` as the entry of that key, then evicts down to the bound. Returns the
    // SHA-256 of the file's bytes (empty when the file cannot be read), whether or not it was kept.
    std::string store(const std::string& key, const std::filesystem::path& file);

private:
    std::filesystem::path entryOf(const std::string& key) const;
    void evict();

    std::filesystem::path folder_;
    std::uint64_t limit_;
};

} // namespace lf::printing
