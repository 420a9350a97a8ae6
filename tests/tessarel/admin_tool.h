#pragma once
// Runs the administration tool, tessarel-admin, as a user would from a shell.
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lf::tessarel::test {

inline QStringList args(const std::vector<std::string>& list) {
    QStringList out;
    for (const auto& s : list)
        out << QString::fromStdString(s);
    return out;
}

struct AdminRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The tool's run with those arguments and input, given at most timeoutMs to finish; a run that
// crashed or did not finish has exit code -1.
inline AdminRun runAdmin(const QStringList& a, const std::string& input = "", int timeoutMs = 60000) {
    QProcess p;
    p.start(TESSAREL_ADMIN, a);
    EXPECT_TRUE(p.waitForStarted(10000));
    if (!input.empty())
        p.write(input.c_str());
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(timeoutMs);
    EXPECT_TRUE(finished) << "tessarel-admin " << a.join(' ').toStdString();
    const bool exited = finished && p.exitStatus() == QProcess::NormalExit;
    return {exited ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

} // namespace lf::tessarel::test
