#pragma once
// Print files and PDFs put in place only whole. A program that writes one may fail without saying so
// (a filter chain that exits 0 after its output met a full disk, an office that runs out of memory in
// the middle of a PDF), so the writer checks for itself: every byte it was given reached the file
// (each write checked, the file's size the count written, the bytes flushed to the disk), and the
// file ends as a whole file of its format ends. Anything less removes the temporary; the old file,
// if any, stays as it was.
//
// The ends checked, by what the file starts with:
//   PDF ("%PDF-")                      "%%EOF" in its last kilobyte
//   PJL (the UEL escape ESC%-12345X)   the UEL again at its end; PCL XL inside it ends with EndSession
//   PostScript ("%!")                  "%%EOF" at its end (a trailing ^D or blanks aside)
//   PCL XL alone (") HP-PCL XL")       the EndSession operator
//   PCL, ESC/P (their reset, ESC E or ESC @)   that reset again at its end
// A format without an end of its own (raster streams) is checked by its size alone.
#include "platform/replace_file.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lf::platform {

// Empty when bytes beginning with `head` and ending with `tail` end as a whole file of their format
// ends; otherwise what is missing ("the PostScript has no %%EOF at its end").
std::string missingEnd(std::string_view head, std::string_view tail);

class WholeFileWriter {
public:
    // Starts replacing target (through a FileReplacement, flushed to the disk before the rename).
    explicit WholeFileWriter(const std::filesystem::path& target);

    // Appends bytes; false when they could not be written (why(): the system's reason).
    bool write(std::string_view bytes);
    // Puts the file in place when it is whole: empty, or why it was not (the temporary is then gone).
    std::string commit();
    // Why the last step failed.
    const std::string& why() const { return why_; }
    std::uint64_t size() const { return written_; }

private:
    std::string fail(const std::string& reason);

    FileReplacement replacement_;
    std::uint64_t written_ = 0;
    std::string head_; // the first bytes, up to kept
    std::string tail_; // the last bytes, up to kept
    std::string why_;
};

// Copies a print file or PDF over target through a WholeFileWriter: empty, or why it was not put in
// place (the source unreadable, a write that failed, a file that does not end as its format ends).
std::string copyWholeFile(const std::filesystem::path& from, const std::filesystem::path& target);

} // namespace lf::platform
