#pragma once
// The program's private temporary folders (the print engine's rendered PDFs, the office instances'
// profiles, the copies a course check reads): made in the temporary folder as "<kind>-XXXXXX", owned
// by one object, and gone on every way out. An ordinary way out removes the folder; a program killed
// outright (kill -9, a crash, the machine's memory killer) cannot, so the next folder of the same
// kind made by any run removes the folders whose owner is gone.
//
// Whether an owner is gone is told by a lock, not by a process id that the system may have handed to
// another process since: the owner holds an exclusive flock on the file ".owner" inside its folder
// for its whole life, and the kernel lets it go with the process, however that ends. A folder whose
// lock can be taken at once has no owner any more.
#include <filesystem>
#include <string>

namespace lf::platform {

class PrivateFolder {
public:
    // Removes the abandoned folders of this kind, then makes and locks a new one, in `parent` (the
    // temporary folder when empty). Throws std::system_error when the folder cannot be made.
    explicit PrivateFolder(const std::string& kind, const std::filesystem::path& parent = {});
    ~PrivateFolder(); // removes the folder and everything in it
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Removes the folders "<kind>-??????" in `parent` that belong to this user and whose owner is
    // gone: their lock is free, or they never got one and are a day old.
    static void removeAbandoned(const std::string& kind, const std::filesystem::path& parent);

private:
    std::filesystem::path path_;
    int lock_ = -1;
};

} // namespace lf::platform
