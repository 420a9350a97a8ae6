#include "platform/whole_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lf::platform {

namespace {

// How much of the start and of the end of a file the checks look at.
constexpr std::size_t kKept = 4096;
// The last part of a PDF that must hold its %%EOF (readers look that far back as well).
constexpr std::size_t kPdfEndWindow = 1024;
// The Universal Exit Language escape that starts and ends a PJL job.
constexpr std::string_view kUel = "\x1b%-12345X";
// A PCL XL stream header, after its binding character ("(" or ")").
constexpr std::string_view kPclXlHeader = " HP-PCL XL";
constexpr char kPclXlEndSession = 0x42;
constexpr std::string_view kBlanks = " \t\r\n";

std::string_view withoutTrailing(std::string_view bytes, std::string_view trailing) {
    while (!bytes.empty() && trailing.find(bytes.back()) != std::string_view::npos)
        bytes.remove_suffix(1);
    return bytes;
}

bool startsPclXl(std::string_view bytes) {
    return bytes.size() > kPclXlHeader.size() && (bytes[0] == '(' || bytes[0] == ')') &&
           bytes.substr(1).starts_with(kPclXlHeader);
}

std::string systemReason(int error) {
    return std::strerror(error);
}

} // namespace

std::string missingEnd(std::string_view head, std::string_view tail) {
    if (head.empty())
        return "it is empty";
    const std::string_view end = withoutTrailing(tail, kBlanks);
    if (head.starts_with("%PDF-")) {
        const std::string_view last = tail.substr(tail.size() - std::min(tail.size(), kPdfEndWindow));
        return last.find("%%EOF") != std::string_view::npos ? "" : "the PDF has no %%EOF at its end";
    }
    if (head.starts_with(kUel)) {
        // The closing UEL is another one than the opening one.
        if (!end.ends_with(kUel) || end.size() <= kUel.size())
            return "the PJL job does not end with its UEL escape";
        const std::string endOfPclXl = std::string(1, kPclXlEndSession) + std::string(kUel);
        if (head.find(kPclXlHeader) != std::string_view::npos &&
            tail.find(endOfPclXl) == std::string_view::npos)
            return "the PCL XL stream has no EndSession at its end";
        return "";
    }
    if (head.starts_with("%!") || head.starts_with("\x04%!"))
        return withoutTrailing(tail, "\x04 \t\r\n").ends_with("%%EOF")
                   ? ""
                   : "the PostScript has no %%EOF at its end";
    if (startsPclXl(head))
        return end.ends_with(kPclXlEndSession) ? "" : "the PCL XL stream has no EndSession at its end";
    for (const std::string_view reset : {std::string_view("\x1b"
                                                          "E"),
                                         std::string_view("\x1b@")}) {
        if (head.starts_with(reset))
            return end.size() > reset.size() && end.ends_with(reset)
                       ? ""
                       : "the printer's reset is missing at its end";
    }
    return "";
}

namespace {

ReplaceOptions flushed() {
    ReplaceOptions options;
    options.durability = Durability::FileAndFolder;
    return options;
}

} // namespace

WholeFileWriter::WholeFileWriter(const std::filesystem::path& target) : replacement_(target, flushed()) {
    if (!replacement_.ok())
        why_ = systemReason(replacement_.error());
}

std::string WholeFileWriter::fail(const std::string& reason) {
    why_ = reason;
    return why_;
}

bool WholeFileWriter::write(std::string_view bytes) {
    if (!replacement_.write(bytes)) {
        fail(systemReason(replacement_.error()));
        return false;
    }
    written_ += bytes.size();
    if (head_.size() < kKept)
        head_.append(bytes.substr(0, kKept - head_.size()));
    tail_.append(bytes.substr(bytes.size() - std::min(bytes.size(), kKept)));
    if (tail_.size() > kKept)
        tail_.erase(0, tail_.size() - kKept);
    return true;
}

std::string WholeFileWriter::commit() {
    if (!replacement_.ok())
        return fail(systemReason(replacement_.error()));
    struct stat st {};
    if (::fstat(replacement_.fd(), &st) != 0)
        return fail(systemReason(errno));
    if (static_cast<std::uint64_t>(st.st_size) != written_)
        return fail("only " + std::to_string(st.st_size) + " of its " + std::to_string(written_) +
                    " bytes reached the file");
    const std::string missing = missingEnd(head_, tail_);
    if (!missing.empty())
        return fail("it was cut short after " + std::to_string(written_) + " bytes: " + missing);
    if (!replacement_.commit())
        return fail(systemReason(replacement_.error()));
    return {};
}

std::string copyWholeFile(const std::filesystem::path& from, const std::filesystem::path& target) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return "cannot read " + from.string() + ": " + systemReason(errno);
    WholeFileWriter out(target);
    std::vector<char> buffer(std::size_t(1) << 20);
    std::string why;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = "cannot read " + from.string() + ": " + systemReason(errno);
            break;
        }
        if (n == 0) {
            why = out.commit();
            break;
        }
        if (!out.write(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            why = out.why();
            break;
        }
    }
    ::close(in);
    return why;
}

} // namespace lf::platform
