#include "small_disk.h"

#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace lf::test {

namespace fs = std::filesystem;

namespace {

// Runs a program to its end; empty when it succeeded, else what it said.
QString runProgram(const QString& program, const QStringList& arguments) {
    const QString path = QStandardPaths::findExecutable(program, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    if (path.isEmpty())
        return program + " is not installed";
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return program + " failed: " + QString::fromLocal8Bit(process.readAll()).trimmed();
    return {};
}

} // namespace

SmallDisk::SmallDisk(const fs::path& mountPoint, int kilobytes) : mountPoint_(mountPoint) {
    fs::create_directories(mountPoint_);
    const std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0755";
    if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
        mounted_ = true;
        return;
    }
    const QString tmpfs = QString("a tmpfs cannot be mounted (%1)").arg(std::strerror(errno));
    image_ = mountPoint_.parent_path() / (mountPoint_.filename().string() + ".img");
    const QString image = QString::fromStdString(image_.string());
    QString loop = runProgram("mkfs.ext2", {"-q", "-F", "-m", "0", image, QString::number(kilobytes)});
    if (loop.isEmpty())
        loop = runProgram("mount", {"-o", "loop", image, QString::fromStdString(mountPoint_.string())});
    if (loop.isEmpty()) {
        mounted_ = true;
        return;
    }
    std::error_code ignored;
    fs::remove(image_, ignored);
    reason_ = tmpfs + ", and no loop file system either: " + loop;
}

SmallDisk::~SmallDisk() {
    if (mounted_ && ::umount2(mountPoint_.c_str(), MNT_DETACH) != 0)
        runProgram("umount", {"-l", QString::fromStdString(mountPoint_.string())});
    std::error_code ignored;
    if (!image_.empty())
        fs::remove(image_, ignored);
}

std::uintmax_t SmallDisk::freeBytes() const {
    std::error_code error;
    return fs::space(mountPoint_, error).available;
}

} // namespace lf::test
