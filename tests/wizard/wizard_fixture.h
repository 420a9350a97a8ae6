#pragma once
// What the wizard tests share: a recording of the wizard's dispatch (our own calls, not a stand-in for
// any engine), a recording repository seam, and a fixture that starts every test from a fresh
// settings file, drive C: and errors list.
#include "platform/doubles.h"
#include "platform/folders.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/program_settings.h"
#include "test_support.h"
#include "wizard/frmError.h"
#include "wizard/frmWizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << "{";
    for (qsizetype i = 0; i < list.size(); ++i)
        *os << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *os << "}";
}

namespace lf::wizard::test {

struct Call {
    QString operation;
    QStringList arguments; // every argument as text; flags as "true" / "false"
};

inline QString flag(bool value) {
    return value ? "true" : "false";
}

// The five operations, each appending its name and arguments to calls.
class RecordingOperations {
public:
    Operations operations(std::uint16_t available = 31) {
        Operations ops;
        if (available & GrayscaleBit)
            ops.RunGrayscaleResize = [this](lf::courserun::CourseRun& run, const QString& s, bool c) {
                record("RunGrayscaleResize", {s, run.workingDirectory(), flag(c)});
            };
        if (available & IndexBit)
            ops.CollectIndex = [this](lf::courserun::CourseRun& run, const QString& t, const QString& n,
                                      const QString& s, const QString& d, const QString& c, bool clean,
                                      const QString& language) {
                record("CollectIndex", {t, n, s, d, c, run.workingDirectory(), language, flag(clean)});
            };
        if (available & TOCBit)
            ops.CollectTOC = [this](lf::courserun::CourseRun& run, const QString& t, const QString& n,
                                    const QString& s, const QString& d, const QString& c, bool clean,
                                    lf::indexing::TOCTitleSource titles) {
                record("CollectTOC",
                       {t, n, s, d, c, run.workingDirectory(), flag(clean),
                        titles == lf::indexing::TOCTitleSource::Rule ? "rule" : "rule then placeholder"});
            };
        if (available & PrintReadyBit)
            ops.RunPrintReady = [this](lf::courserun::CourseRun& run, const QString& s, const QString& d,
                                       bool pdf, bool clean, bool zip, const QString& z, const QString& p1,
                                       const QString& p2, const QString& p3,
                                       const lf::printready::PrintSwitches& switches,
                                       std::unique_ptr<lf::render::LibreOffice> warm) {
                tookWarmRenderer = warm != nullptr;
                record("RunPrintReady", {s, d, flag(pdf), run.workingDirectory(), flag(clean), flag(zip), z,
                                         p1, p2, p3, flag(switches.useBackgroundPrinting),
                                         flag(switches.publishPDFs), flag(switches.archivePDFs)});
            };
        if (available & ZipBit)
            ops.RunZipPackaging = [this](lf::courserun::CourseRun& run, const QString& s, const QString& d,
                                         bool clean, const QString& z) {
                record("RunZipPackaging", {s, d, run.workingDirectory(), flag(clean), z});
            };
        return ops;
    }
    QStringList names() const {
        QStringList list;
        for (const Call& c : calls)
            list.append(c.operation);
        return list;
    }

    std::vector<Call> calls;
    std::function<void(const QString&)> onCall; // runs inside each call, after recording it
    bool tookWarmRenderer = false;              // the print-ready run was handed a started LibreOffice

private:
    void record(const QString& name, QStringList arguments) {
        calls.push_back({name, std::move(arguments)});
        if (onCall)
            onCall(name);
    }
};

// The repository seam as the wizard sees it: a repository path fails the check unless connected.
class RecordingRepository : public RepositorySeam {
public:
    bool EnsureConnection(const QString& path) override {
        checkedPaths.append(path);
        if (platform::isRepositoryPath(path) && !connected) {
            showNotConnected();
            return true;
        }
        return false;
    }
    bool IsConnected() override { return connected; }
    void Browse(QLineEdit* target, bool forFile) override { browsed.push_back({target, forFile}); }
    void unloadWindows() override { events->append("unloadWindows"); }
    void releaseSession() override { events->append("releaseSession"); }

    bool connected = false;
    QStringList checkedPaths;
    std::vector<std::pair<QLineEdit*, bool>> browsed;
    std::shared_ptr<QStringList> events = std::make_shared<QStringList>();
};

class WizardTest : public testing::Test {
protected:
    void SetUp() override {
        QFile::remove(platform::configFolder() + "/Syllabo.ini");
        QFile::remove(platform::configFolder() + "/drives.ini");
        QDir(platform::dataFolder() + "/drive_c").removeRecursively();
        platform::programSettings()->clear(); // the window's memory of an earlier test
        frmError::instance().unload();
    }
    void TearDown() override {
        wizard.reset();
        QFile::remove(platform::configFolder() + "/drives.ini");
    }

    // What the window starts LibreOffice ahead of a print-ready run with; none by default.
    std::function<std::unique_ptr<render::LibreOffice>(const platform::StopRequest*)> startRenderer;

    frmWizard& start(std::uint16_t available = 31) {
        WizardParts parts;
        parts.operations = recorder.operations(available);
        if (adjustOperations)
            adjustOperations(parts.operations);
        parts.repository = repository;
        auto events = repository->events;
        parts.quitDocumentWriter = [events] { events->append("quitDocumentWriter"); };
        parts.startRenderer = startRenderer;
        wizard = std::make_unique<frmWizard>(std::move(parts));
        wizard->show();
        return *wizard;
    }
    // The operation log as the window shows it once the lines logged so far are in: a busy log takes
    // its lines in batches.
    QListWidget* shownLog() {
        wizard->showPendingLogLines();
        return wizard->lstOperations;
    }
    // Clicks Next (or Back) the way the user does: a disabled button does nothing.
    void next() { wizard->cmdNext->click(); }
    void back() { wizard->cmdBack->click(); }
    // Page 2 with the given operation boxes checked, then Next to page 3.
    void choose(std::initializer_list<QCheckBox*> boxes) {
        for (QCheckBox* box : boxes)
            box->click();
    }
    // The names of the controls that are visible and enabled, in creation order.
    QStringList shownControls() const {
        QStringList names;
        for (QWidget* c : wizard->controls())
            if (c->isVisibleTo(wizard.get()) && c->isEnabled())
                names.append(c->objectName());
        return names;
    }
    QString settingsText() const {
        QFile file(platform::configFolder() + "/Syllabo.ini");
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }
    void mapDrive(const QString& letter, const QString& folder) {
        QFile file(platform::configFolder() + "/drives.ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("[Drives]\n" + letter + "=" + folder + "\n").toUtf8());
    }

    platform::ScriptedMessageBoxes boxes;
    platform::FixedPrinterCatalog printers{{"PDF Writer", "Office Laser"}};
    RecordingOperations recorder;
    // Replaces recorded operations with ones of the test's own before the wizard starts.
    std::function<void(Operations&)> adjustOperations;
    std::shared_ptr<RecordingRepository> repository = std::make_shared<RecordingRepository>();
    std::unique_ptr<frmWizard> wizard;
};

} // namespace lf::wizard::test
