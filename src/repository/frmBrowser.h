#pragma once
// The location browser: picks a folder, or a file, on the local disks or in the repository and writes
// the chosen path into the text box that asked for it. It is a window of the window that asked,
// modal to it and centred on it. It remembers, in the program's own settings, the folder last chosen
// through each field, and starts there when the field holds only its hint.
//
// The drive box shows each drive with what it stands for ("C:  (/home/me/...)"); its item data is the
// drive or cabinet itself ("C:", "/Edvara"), which is what paths are built from. It always shows the
// drive or cabinet of the path listed.
//
// The current location is a path text (lblCurrPath's caption) built by text operations: a folder path
// always ends with the separator ("C:\Courses\", "/Edvara/Courses/"); a path to a file or document is
// a folder path followed by the object's name. The mode and the separator are the program-wide values
// in browserHooks(), which a login also sets.
//
// Library lf_repository.
#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace lf::repository {

// What a Browse button sets before it shows the browser: the box that receives the chosen path, and
// whether a file or document (true) or a folder (false) is to be chosen.
struct BrowseTarget {
    QPointer<QLineEdit> box;
    bool forFile = false;
};
BrowseTarget& browseTarget();

// A Browse button: sets the target, loads the browser when it is not loaded and shows it, a window of
// the target's window, modal to it and centred on it. A browser already open keeps its place and
// writes into the new target.
void Browse(QLineEdit* targetBox, bool forFile);

class frmBrowser : public QWidget {
    Q_OBJECT
public:
    static frmBrowser& instance(); // loads the window when needed
    static bool isLoaded();
    static void unloadInstance();

    // The path model.
    QString setPath(const QString& path);
    void clearPath();
    QString updatePath(const QString& path);
    QString drillDownPath(const QString& folderName);
    QString drillUpPath();
    QString addObjectToPath(const QString& path, const QString& objectName);
    QString getPathEnd(const QString& path) const;
    QString removeObjectFromPath(const QString& path) const;
    QString currentPath() const;

    void loadCmbCabinet();
    // The drive or cabinet the drive box has chosen ("C:", "/Edvara").
    QString cabinet() const;
    void updateFolderList(const QString& path);
    void repositoryStart();

    // A Browse request while the browser is open: the browser stays where it is and now selects what
    // the new target wants (a folder, or a file or document).
    void takeTargetKind();

    bool objectRequired() const { return objectRequired_; }
    bool objectSelected() const { return objectSelected_; }

    // The handlers of the buttons and lists.
    void cmdTop_Click();
    void cmbCabinet_Click();
    void cmdMyComputer_Click();
    void cmdRepository_Click();
    void lstFolders_DblClick(const QString& name);
    void lstObjects_Click(const QString& name);
    void cmdDrillUp_Click();
    void cmdSelectPath_Click();
    void cmdCancel_Click();

    QComboBox* cmbCabinet;
    QListWidget* lstFolders;
    QListWidget* lstObjects;
    QLabel* lblCurrPath;
    QLabel* Label1;
    QLabel* lblCabinet;
    QLabel* lblFolders;
    QPushButton* cmdMyComputer;
    QPushButton* cmdRepository;
    QPushButton* cmdSelectPath;
    QPushButton* cmdTop;
    QPushButton* cmdDrillUp;
    QPushButton* cmdCancel;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    frmBrowser();
    ~frmBrowser() override;
    void Form_Load();
    void unload();
    void applyTargetKind();
    QString separator() const;
    bool repositoryMode() const;
    void listRepositoryFolder(const QString& path);
    void listLocalFolder(const QString& path);
    // Lists a remembered folder when it can still be listed; false leaves the browser as it was.
    bool startAtLastFolder(const QString& folder);
    void showCabinetOf(const QString& path);

    bool objectRequired_ = false;
    bool objectSelected_ = false;
    bool listingBadPath_ = false;
};

} // namespace lf::repository
