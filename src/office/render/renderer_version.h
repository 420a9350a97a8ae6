#pragma once
// What the PDFs the renderer makes depend on besides the file and the export's settings: the
// installed office (its build, from the version file beside the program, and its main library) and
// our own export steps (the export's settings, the slide names and title set before it, the language
// written into the PDF after it). A laid-out page kept from an earlier run is reused only under the
// same renderer version.
#include <string>

namespace lf::render {

// Raised whenever libreoffice.cpp or pdf_catalog.cpp change what a PDF holds, so that pages laid out
// before the change are laid out again.
constexpr int kPdfExportVersion = 1;

// The installed office's version and kPdfExportVersion, as one text; read once per process.
const std::string& rendererVersion();

} // namespace lf::render
