#include "deck_builder.h"

#include <zip.h>

#include <stdexcept>

namespace lf::test {

namespace {

template <class F> void forEachEntry(const std::filesystem::path& file, zip_flags_t flags, F&& f) {
    int error = 0;
    zip_t* zip = zip_open(file.c_str(), ZIP_RDONLY, &error);
    if (!zip) {
        throw std::runtime_error("cannot open " + file.string() + " as a zip");
    }
    zip_int64_t n = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
        zip_file_t* entry = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), flags);
        std::string bytes;
        std::uint64_t size = (flags & ZIP_FL_COMPRESSED) ? st.comp_size : st.size;
        bytes.resize(size);
        if (entry) {
            zip_fread(entry, bytes.data(), size);
            zip_fclose(entry);
        }
        f(std::string(st.name), static_cast<int>(st.comp_method), std::move(bytes));
    }
    zip_close(zip);
}

} // namespace

std::map<std::string, std::string> readZip(const std::filesystem::path& file) {
    std::map<std::string, std::string> out;
    forEachEntry(file, 0, [&](std::string name, int, std::string bytes) { out[name] = std::move(bytes); });
    return out;
}

std::map<std::string, std::pair<int, std::string>> readZipRaw(const std::filesystem::path& file) {
    std::map<std::string, std::pair<int, std::string>> out;
    forEachEntry(file, ZIP_FL_COMPRESSED, [&](std::string name, int method, std::string bytes) {
        out[name] = {method, std::move(bytes)};
    });
    return out;
}

} // namespace lf::test
