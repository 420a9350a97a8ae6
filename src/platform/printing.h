#pragma once
// Printing through CUPS: whether a destination exists, the print file of a destination (what that
// printer would have been sent, so it can be sent to it later unchanged with `lp -o raw`), and a
// job on a destination. The server is the one libcups finds (CUPS_SERVER, client.conf, the local
// socket); a test points CUPS_SERVER at a private server of its own.
#include <QString>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace lf::platform {

class PrintingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when the server knows a destination of this name (as the printer lists show it).
bool printerExists(const QString& destination);

// Passes the PDF through the destination's filter chain (its PPD or driver) and writes the result to
// printFile (replaced atomically, and only whole: every byte written and the file ending as its format
// ends; nothing is left on failure). Throws PrintingError naming the destination when it is unknown,
// with the filter's own message when the chain fails, and naming the print file when it cannot be
// written whole (a full disk).
void writePrintFile(const QString& destination, const QString& pdfFile, const QString& printFile);

// Where print files made before are kept, by a key that stands for the PDF's bytes and for everything
// of the destination the filter chain's output depends on: its name, its PPD as the server hands it
// out (with the defaults set on the queue), the job options it gets (its instance's among them) and
// the filters' version.
struct PrintFileStore {
    std::string pdfHash; // the SHA-256 of the PDF's bytes
    // Writes the print file kept under the key to the path; true when there was one.
    std::function<bool(const std::string& key, const std::filesystem::path& printFile)> fetch;
    // Keeps a copy of the print file under the key.
    std::function<void(const std::string& key, const std::filesystem::path& printFile)> store;
};

// As above, taking the print file from the store when it holds one for the same PDF and settings
// (true then: the filters did not run), and keeping the new one there otherwise.
bool writePrintFile(const QString& destination, const QString& pdfFile, const QString& printFile,
                    const PrintFileStore& store);

// Submits the file as a job on the destination, titled `title`; returns the job id. Does not wait for
// the job. Throws PrintingError when the destination is unknown or refuses the job.
int submitPrintJob(const QString& destination, const QString& file, const QString& title);

} // namespace lf::platform
