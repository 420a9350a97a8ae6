#include "office/render/renderer_version.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace lf::render {

namespace fs = std::filesystem;

namespace {

// A file as its size and time of change: an office upgrade replaces its main library.
std::string stamp(const fs::path& file) {
    std::error_code error;
    const auto size = fs::file_size(file, error);
    if (error)
        return file.filename().string() + " missing";
    const auto changed = fs::last_write_time(file, error).time_since_epoch().count();
    return file.filename().string() + " " + std::to_string(size) + " " + std::to_string(changed);
}

std::string readVersion() {
    const fs::path program(LF_LO_PROGRAM_DIR);
    std::ifstream in(program / "versionrc", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return "export " + std::to_string(kPdfExportVersion) + "\n" + text + "\n" +
           stamp(program / "libmergedlo.so") + "\n" + stamp(program / "soffice.bin");
}

} // namespace

const std::string& rendererVersion() {
    static const std::string version = readVersion();
    return version;
}

} // namespace lf::render
