// libFuzzer target for the package reader: any bytes must be refused with a PackageError or read
// fully (parts, XML, content types, relationships) and saved again, without a crash or a leak.
#include "office/opc/package.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::filesystem::path scratchFile() {
    static const std::filesystem::path file = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::filesystem::path dir = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") /
                                    ("lf-package-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir / "out.pptx";
    }();
    return file;
}

bool isXmlName(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string ext = name.substr(dot);
    return ext == ".xml" || ext == ".rels";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lf::opc::Limits limits;
    limits.maxPartSize = 8u << 20;
    limits.maxTotalSize = 32u << 20;
    limits.maxEntries = 2000;
    try {
        auto package = lf::opc::Package::openBuffer(std::string(reinterpret_cast<const char*>(data), size),
                                                    "fuzz.pptx", limits);
        const auto names = package->partNames();
        for (const std::string& name : names) {
            (void)package->contentType(name);
            try {
                if (isXmlName(name))
                    (void)package->xmlPart(name).document_element().name();
                else
                    (void)package->readPart(name);
                for (const auto& rel : package->relationships(name))
                    (void)lf::opc::Package::resolveTarget(name, rel.target);
            } catch (const lf::opc::PackageError&) {
                // a damaged part: the rest of the package is still read
            }
        }
        (void)package->relatedPart(
            "/", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument");
        if (!names.empty() && names.size() < 200) {
            package->writePart(package->nextPartName("/lf/fuzz%d.bin"), "x", "application/x-lf");
            package->saveAs(scratchFile());
            auto again = lf::opc::Package::open(scratchFile(), limits);
            (void)again->partNames();
        }
    } catch (const lf::opc::PackageError&) {
        // refused: what the reader must do with bad input
    }
    return 0;
}
