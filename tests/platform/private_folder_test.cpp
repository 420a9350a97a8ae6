// The program's private temporary folders: a folder whose owner was killed outright goes with the
// next folder of its kind that any run makes, a live owner's folder stays whatever happens around it,
// and an ordinary end removes the folder.
#include "platform/private_folder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using lf::platform::PrivateFolder;
using lf::test::TempDir;

namespace {

// A process of its own that makes a private folder and waits to be killed, as a run of the program
// does that is killed in the middle of printing.
// A child that is not killed by the test is killed when the test ends, however it ends.
class Owner {
public:
    Owner(const std::string& kind, const fs::path& parent) {
        int channel[2];
        if (::pipe(channel) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(channel[0]);
            try {
                PrivateFolder folder(kind, parent);
                const std::string path = folder.path().string();
                [[maybe_unused]] ssize_t n = ::write(channel[1], path.data(), path.size());
                ::close(channel[1]);
                for (;;)
                    ::pause();
            } catch (...) {
            }
            ::_exit(1);
        }
        ::close(channel[1]);
        std::string path;
        char buffer[512];
        ssize_t n;
        while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0)
            path.append(buffer, static_cast<std::size_t>(n));
        ::close(channel[0]);
        folder_ = path;
    }
    ~Owner() { kill(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    const fs::path& folder() const { return folder_; }
    void kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    fs::path folder_;
};

} // namespace

TEST(PrivateFolder, AKilledOwnersFolderGoesWithTheNextOneMadeAndALiveOwnersStays) {
    const TempDir temp;
    Owner killed("lessonforge-print", temp.path());
    Owner live("lessonforge-print", temp.path());
    Owner otherKind("lf-office", temp.path());
    ASSERT_TRUE(fs::is_directory(killed.folder()) && fs::is_directory(live.folder()) &&
                fs::is_directory(otherKind.folder()));
    killed.kill();
    otherKind.kill();
    ASSERT_TRUE(fs::is_directory(killed.folder())) << "kill -9 leaves the folder behind";

    fs::path mine;
    {
        const PrivateFolder next("lessonforge-print", temp.path());
        mine = next.path();
        EXPECT_FALSE(fs::exists(killed.folder())) << "the killed run's folder stayed";
        EXPECT_TRUE(fs::is_directory(live.folder())) << "a live run's folder was taken";
        EXPECT_TRUE(fs::is_directory(otherKind.folder()))
            << "a folder of another kind is not this kind's to remove";
        EXPECT_TRUE(fs::is_directory(mine));
        // Another run cleaning up while this one lives leaves it alone too.
        PrivateFolder::removeAbandoned("lessonforge-print", temp.path());
        EXPECT_TRUE(fs::is_directory(mine));
        EXPECT_TRUE(fs::is_directory(live.folder()));
    }
    EXPECT_FALSE(fs::exists(mine)) << "an ordinary end removes the folder";

    live.kill();
    PrivateFolder::removeAbandoned("lessonforge-print", temp.path());
    PrivateFolder::removeAbandoned("lf-office", temp.path());
    EXPECT_TRUE(lf::test::folderNames(temp.path()).empty());
}
