#include "repository/frmBrowser.h"

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/program_settings.h"
#include "repository/connection.h"
#include "repository/frmLogin.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace lf::repository {

namespace {

frmBrowser* g_instance = nullptr;
bool g_open = false; // the browser-open flag

const char* const kTag = "Browse";

// The program's own setting that keeps the last folder chosen through a field's Browse: keyed by the
// field's object name; nothing is kept for a field without one.
QString lastFolderKey(const QLineEdit* box) {
    return box && !box->objectName().isEmpty() ? "Browse/" + box->objectName() : QString();
}

QString lastFolderOf(const QLineEdit* box) {
    const QString key = lastFolderKey(box);
    return key.isEmpty() ? QString() : platform::programSettings()->value(key).toString();
}

void keepLastFolder(const QLineEdit* box, const QString& folder) {
    const QString key = lastFolderKey(box);
    if (!key.isEmpty() && !folder.isEmpty())
        platform::programSettings()->setValue(key, folder);
}

} // namespace

BrowseTarget& browseTarget() {
    static BrowseTarget target;
    return target;
}

void Browse(QLineEdit* targetBox, bool forFile) {
    browseTarget().box = targetBox;
    browseTarget().forFile = forFile;
    const bool wasOpen = frmBrowser::isLoaded();
    frmBrowser& browser = frmBrowser::instance();
    if (wasOpen)
        browser.takeTargetKind();
    // A window of the window that asked, blocking it while open, and centred on it.
    QWidget* owner = targetBox ? targetBox->window() : nullptr;
    if (owner && browser.parentWidget() != owner && !browser.isVisible()) {
        browser.setParent(owner, Qt::Window);
        browser.setWindowModality(Qt::WindowModal);
    }
    browser.show();
    // Centred once it has its shown size.
    if (owner && !wasOpen)
        browser.move(owner->frameGeometry().center() - browser.frameGeometry().center() + browser.pos());
    browser.raise();
    browser.activateWindow();
}

frmBrowser& frmBrowser::instance() {
    if (!g_instance) {
        g_instance = new frmBrowser();
        g_instance->Form_Load();
    }
    return *g_instance;
}

bool frmBrowser::isLoaded() {
    return g_instance != nullptr;
}

void frmBrowser::unloadInstance() {
    if (g_instance)
        g_instance->unload();
}

frmBrowser::frmBrowser() : QWidget(nullptr, Qt::Window) {
    setObjectName("frmBrowser");
    setWindowTitle("Select Location");
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowModality(Qt::WindowModal);

    cmdMyComputer = new QPushButton("&My Computer", this);
    cmdRepository = new QPushButton("&Tessarel Repository", this);
    lblCabinet = new QLabel("Drive/Cabinet:", this);
    cmbCabinet = new QComboBox(this);
    lblFolders = new QLabel("Folders:", this);
    lstFolders = new QListWidget(this);
    lstObjects = new QListWidget(this);
    Label1 = new QLabel("Selected Path:>", this);
    lblCurrPath = new QLabel(this);
    lblCurrPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblCurrPath->setTextFormat(Qt::PlainText);
    cmdSelectPath = new QPushButton("<&Select Path", this);
    cmdTop = new QPushButton("Go to T&op", this); // Alt+T is the repository's
    cmdDrillUp = new QPushButton("&Up One Level", this);
    cmdCancel = new QPushButton("&Cancel", this);

    cmbCabinet->setObjectName("cmbCabinet");
    lstFolders->setObjectName("lstFolders");
    lstObjects->setObjectName("lstObjects");
    lblCurrPath->setObjectName("lblCurrPath");
    cmdSelectPath->setObjectName("cmdSelectPath");

    auto* sources = new QHBoxLayout;
    sources->addWidget(cmdMyComputer);
    sources->addWidget(cmdRepository);
    sources->addStretch();

    auto* lists = new QGridLayout;
    lists->addWidget(lblCabinet, 0, 0);
    lists->addWidget(cmbCabinet, 1, 0, 1, 2);
    lists->addWidget(lblFolders, 2, 0);
    lists->addWidget(lstFolders, 3, 0);
    lists->addWidget(lstObjects, 3, 1);

    auto* current = new QHBoxLayout;
    current->addWidget(cmdSelectPath);
    current->addWidget(Label1);
    current->addWidget(lblCurrPath, 1);

    auto* moves = new QHBoxLayout;
    moves->addWidget(cmdTop);
    moves->addWidget(cmdDrillUp);
    moves->addStretch();
    moves->addWidget(cmdCancel);

    auto* page = new QVBoxLayout(this);
    page->addLayout(sources);
    page->addLayout(lists, 1);
    page->addLayout(current);
    page->addLayout(moves);
    resize(560, 420);

    connect(cmdMyComputer, &QPushButton::clicked, this, &frmBrowser::cmdMyComputer_Click);
    connect(cmdRepository, &QPushButton::clicked, this, &frmBrowser::cmdRepository_Click);
    connect(cmdSelectPath, &QPushButton::clicked, this, &frmBrowser::cmdSelectPath_Click);
    connect(cmdTop, &QPushButton::clicked, this, &frmBrowser::cmdTop_Click);
    connect(cmdDrillUp, &QPushButton::clicked, this, &frmBrowser::cmdDrillUp_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmBrowser::cmdCancel_Click);
    connect(cmbCabinet, &QComboBox::activated, this, [this](int) { cmbCabinet_Click(); });
    connect(lstFolders, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { lstFolders_DblClick(item->text()); });
    connect(lstObjects, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { lstObjects_Click(item->text()); });
    lstFolders->installEventFilter(this);
    lstObjects->installEventFilter(this);
}

frmBrowser::~frmBrowser() {
    if (g_instance == this)
        g_instance = nullptr;
}

void frmBrowser::Form_Load() {
    g_open = true;
    auto& hooks = browserHooks();
    hooks.isOpen = [] { return g_open && g_instance != nullptr; };
    hooks.setPath = [](const QString& path) {
        if (g_instance)
            g_instance->setPath(path);
    };
    hooks.repositoryStart = [] {
        if (g_instance)
            g_instance->repositoryStart();
    };

    QLineEdit* box = browseTarget().box;
    const QString text = box ? box->text() : QString();
    const bool notConnected = EnsureConnection(text);
    hooks.repositoryMode = platform::isRepositoryPath(text) && !notConnected;

    objectRequired_ = browseTarget().forFile;
    objectSelected_ = false;
    applyTargetKind();

    hooks.pathSeparator = hooks.repositoryMode ? "/" : "\\";
    loadCmbCabinet();

    const QString sep = separator();
    const bool placeholder = text.isEmpty() || text == box->toolTip();
    if (!placeholder && text.contains(sep)) {
        const QString start = text.endsWith(sep) ? text : text.left(text.lastIndexOf(sep) + 1);
        updateFolderList(setPath(start));
    } else if (placeholder && startAtLastFolder(lastFolderOf(box))) {
        return;
    } else {
        clearPath();
        updateFolderList(drillDownPath(cabinet()));
    }
}

bool frmBrowser::startAtLastFolder(const QString& folder) {
    if (folder.isEmpty())
        return false;
    auto& hooks = browserHooks();
    if (platform::isRepositoryPath(folder)) {
        if (!IsConnected())
            return false;
        if (!hooks.repositoryMode) {
            hooks.repositoryMode = true;
            hooks.pathSeparator = "/";
            loadCmbCabinet();
        }
    } else {
        const platform::HostPath host = platform::toHostPath(folder);
        if (!host.ok() || platform::hostKind(host.path) != platform::HostKind::Folder)
            return false;
        if (hooks.repositoryMode) {
            hooks.repositoryMode = false;
            hooks.pathSeparator = "\\";
            loadCmbCabinet();
        }
    }
    updateFolderList(setPath(folder));
    return true;
}

QString frmBrowser::cabinet() const {
    return cmbCabinet->currentData().toString();
}

void frmBrowser::showCabinetOf(const QString& path) {
    QString value;
    if (repositoryMode())
        value = path.startsWith(separator()) ? separator() + path.section(separator(), 1, 1) : QString();
    else if (path.size() >= 2 && path[1] == ':')
        value = path.left(2).toUpper();
    const int index = value.isEmpty() ? -1 : cmbCabinet->findData(value);
    if (index >= 0)
        cmbCabinet->setCurrentIndex(index);
}

void frmBrowser::takeTargetKind() {
    objectRequired_ = browseTarget().forFile;
    if (!objectRequired_ && objectSelected_) {
        setPath(removeObjectFromPath(currentPath()));
        objectSelected_ = false;
    }
    applyTargetKind();
}

void frmBrowser::applyTargetKind() {
    lstObjects->setVisible(objectRequired_);
    Label1->setText(objectRequired_ ? "Selected Object:>" : "Selected Path:>");
    cmdSelectPath->setText(objectRequired_ ? "<&Select Object" : "<&Select Path");
}

void frmBrowser::unload() {
    g_open = false;
    hide();
    g_instance = nullptr;
    deleteLater();
}

QString frmBrowser::separator() const {
    return browserHooks().pathSeparator;
}

bool frmBrowser::repositoryMode() const {
    return browserHooks().repositoryMode;
}

QString frmBrowser::setPath(const QString& path) {
    lblCurrPath->setText(path);
    showCabinetOf(path);
    return path;
}

void frmBrowser::clearPath() {
    lblCurrPath->clear();
}

QString frmBrowser::updatePath(const QString& path) {
    setPath(path);
    return currentPath();
}

QString frmBrowser::currentPath() const {
    return lblCurrPath->text();
}

QString frmBrowser::drillDownPath(const QString& folderName) {
    return updatePath(currentPath() + folderName + separator());
}

QString frmBrowser::drillUpPath() {
    const QString path = currentPath();
    if (path.isEmpty())
        return path;
    const qsizetype cut = path.lastIndexOf(separator(), path.size() - 2);
    if (cut < 0)
        return path;
    objectSelected_ = false;
    return updatePath(path.left(cut + 1));
}

QString frmBrowser::addObjectToPath(const QString& path, const QString& objectName) {
    const QString folder = objectSelected_ ? removeObjectFromPath(path) : path;
    return folder + objectName;
}

QString frmBrowser::getPathEnd(const QString& path) const {
    return path.mid(path.lastIndexOf(separator()) + 1);
}

QString frmBrowser::removeObjectFromPath(const QString& path) const {
    return path.left(path.lastIndexOf(separator()) + 1);
}

void frmBrowser::loadCmbCabinet() {
    cmbCabinet->clear();
    if (repositoryMode()) {
        try {
            auto session = TakeSession();
            auto query = clientObject().newQuery();
            query->setTQL("select object_name from ts_cabinet where is_private = false");
            auto rows = query->execute(session, 0);
            while (rows && rows->next()) {
                const QString name = fromLib(rows->getString("object_name"));
                cmbCabinet->addItem(separator() + name, separator() + name);
                if (name == "Edvara")
                    cmbCabinet->setCurrentIndex(cmbCabinet->count() - 1);
            }
            if (rows)
                rows->close();
            HandBackSession();
        } catch (const std::exception& e) {
            oplog::LogOperation(
                kTag, "Serious error " + platform::withLocalPaths(QString::fromStdString(e.what())), false);
        }
        return;
    }
    for (const QString& known : platform::knownDrives()) {
        const QString drive = known.left(2).toUpper();
        cmbCabinet->addItem(platform::driveCaption(drive), drive);
        if (drive == "C:")
            cmbCabinet->setCurrentIndex(cmbCabinet->count() - 1);
    }
}

void frmBrowser::updateFolderList(const QString& path) {
    lstFolders->clear();
    lstObjects->clear();
    try {
        if (repositoryMode())
            listRepositoryFolder(path);
        else
            listLocalFolder(path);
    } catch (const std::exception& e) {
        oplog::LogOperation(
            kTag, "Serious error " + platform::withLocalPaths(QString::fromStdString(e.what())), false);
    }
}

void frmBrowser::listRepositoryFolder(const QString& path) {
    auto session = TakeSession();
    QString folderPath = path;
    if (folderPath.endsWith(separator()))
        folderPath.chop(1);
    if (folderPath.isEmpty()) {
        HandBackSession();
        return;
    }
    auto folder = session->folderByPath(toLib(folderPath));
    if (!folder) {
        HandBackSession();
        platform::messageBox("Bad path", "There was a problem with the path name",
                             platform::MessageIcon::Critical);
        // Open the top of the path's cabinet instead, or of the cabinet the box shows when the path
        // names no cabinet either.
        if (listingBadPath_)
            return;
        listingBadPath_ = true;
        const QString cabinet = separator() + folderPath.section(separator(), 1, 1) + separator();
        const bool cabinetExists = session->folderByPath(toLib(cabinet.chopped(1))) != nullptr;
        const QString top = cabinetExists ? cabinet : this->cabinet() + separator();
        updateFolderList(updatePath(top));
        listingBadPath_ = false;
        return;
    }
    auto rows = folder->contents("object_name,r_object_type,r_object_id");
    while (rows && rows->next()) {
        const QString name = fromLib(rows->getString("object_name"));
        if (rows->getString("r_object_type") == "ts_folder")
            lstFolders->addItem(name);
        else
            lstObjects->addItem(name);
    }
    if (rows)
        rows->close();
    HandBackSession();
}

void frmBrowser::listLocalFolder(const QString& path) {
    // A drive that is not ready gives an error and no names; the listing goes on with the next step.
    QString skipped;
    lstFolders->addItems(platform::Dir(path, platform::EntryKind::Folders, &skipped));
    lstObjects->addItems(platform::Dir(path + "*.*", platform::EntryKind::Files, &skipped));
}

void frmBrowser::repositoryStart() {
    loadCmbCabinet();
    updateFolderList(drillDownPath(cabinet()));
}

void frmBrowser::cmdTop_Click() {
    updateFolderList(updatePath(cabinet() + separator()));
}

void frmBrowser::cmbCabinet_Click() {
    cmdTop_Click();
}

void frmBrowser::cmdMyComputer_Click() {
    auto& hooks = browserHooks();
    hooks.repositoryMode = false;
    hooks.pathSeparator = "\\";
    objectSelected_ = false;
    loadCmbCabinet();
    cmdTop_Click();
}

void frmBrowser::cmdRepository_Click() {
    auto& hooks = browserHooks();
    hooks.pathSeparator = "/";
    objectSelected_ = false;
    clearPath();
    if (!IsConnected()) {
        lstFolders->clear();
        lstObjects->clear();
        loginPresenter().showModal(frmLogin::instance());
        // A successful login has switched the browser and listed the cabinet; otherwise the local
        // disks stay in use.
        if (!IsConnected())
            cmdMyComputer_Click();
        return;
    }
    hooks.repositoryMode = true;
    lstFolders->clear();
    lstObjects->clear();
    loadCmbCabinet();
    cmdTop_Click();
}

void frmBrowser::lstFolders_DblClick(const QString& name) {
    platform::showHourglass();
    if (objectSelected_) {
        setPath(removeObjectFromPath(currentPath()));
        objectSelected_ = false;
    }
    updateFolderList(drillDownPath(name));
    platform::showDefaultPointer();
}

void frmBrowser::lstObjects_Click(const QString& name) {
    setPath(addObjectToPath(currentPath(), name));
    objectSelected_ = true;
}

void frmBrowser::cmdDrillUp_Click() {
    if (objectSelected_) {
        setPath(removeObjectFromPath(currentPath()));
        objectSelected_ = false;
    }
    if (currentPath().size() >= 2)
        updateFolderList(drillUpPath());
}

void frmBrowser::cmdSelectPath_Click() {
    if (objectRequired_ && !objectSelected_) {
        platform::messageBox("Object Not Selected", "Please select an object/file",
                             platform::MessageIcon::Exclamation);
        return;
    }
    if (QLineEdit* box = browseTarget().box) {
        keepLastFolder(box, objectSelected_ ? removeObjectFromPath(currentPath()) : currentPath());
        box->setText(currentPath());
    }
    objectSelected_ = false;
    unload();
}

void frmBrowser::cmdCancel_Click() {
    unload();
}

void frmBrowser::closeEvent(QCloseEvent* event) {
    event->accept();
    unload();
}

void frmBrowser::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        cmdCancel_Click();
    else
        QWidget::keyPressEvent(event);
}

bool frmBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        cmdCancel_Click();
        return true;
    }
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (watched == lstFolders && enter) {
        if (QListWidgetItem* item = lstFolders->currentItem())
            lstFolders_DblClick(item->text());
        return true;
    }
    if (watched == lstObjects) {
        const bool move = key->key() == Qt::Key_Up || key->key() == Qt::Key_Down ||
                          key->key() == Qt::Key_Home || key->key() == Qt::Key_End ||
                          key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown;
        if (move) {
            // The list moves first; the entry it lands on is picked as a click would pick it.
            lstObjects->removeEventFilter(this);
            QCoreApplication::sendEvent(lstObjects, key);
            lstObjects->installEventFilter(this);
            if (QListWidgetItem* item = lstObjects->currentItem())
                lstObjects_Click(item->text());
            return true;
        }
        if (enter) {
            if (QListWidgetItem* item = lstObjects->currentItem())
                lstObjects_Click(item->text());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lf::repository
