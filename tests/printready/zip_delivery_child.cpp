// The zip operation as a process of its own, so that a test can kill it in the middle of a delivery:
//     zip_delivery_child SOURCE DESTINATION WORKING
// answers Yes to "Overwrite file?" and records the fixed pause instead of sleeping it.
#include "platform/doubles.h"
#include "platform/oplog.h"
#include "printready/modZipIt.h"
#include "workfiles/working_files.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: zip_delivery_child SOURCE DESTINATION WORKING\n");
        return 2;
    }
    const QString working = QString::fromLocal8Bit(argv[3]);
    lf::platform::ScriptedMessageBoxes boxes;
    boxes.answers = {lf::platform::MessageAnswer::Yes};
    lf::platform::RecordingSleeper sleeper;
    lf::oplog::RecordingLogSink log;
    lf::printready::RunZipPackaging(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), working,
                                    true, "Course.zip");
    std::puts(qPrintable(log.lines.join("\n")));
    return log.lines.isEmpty() || log.lines.last() != "Zip - Zipping operations complete";
}
