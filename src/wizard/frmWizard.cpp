#include "wizard/frmWizard.h"

#include "platform/dialogs.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/printers.h"
#include "platform/program_settings.h"
#include "wizard/frmError.h"
#include "wizard/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#ifdef LF_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

#include <algorithm>
#include <exception>
#include <tuple>
#include <utility>

namespace lf::wizard {
namespace {

const char* const kTagProperty = "Tag";
const char* const kNotAvailable = "This operation is not available yet";

const int kWidth = 680;
const int kHeight = 480;

// The keys of the window's memory in the program's own settings.
const char* const kWindowSize = "Window/Size";
const char* const kWindowPosition = "Window/Position";
const char* const kLastOperations = "Window/LastOperations";

// The dynamic property holding the text a field starts with, which counts as empty when it is required.
const char* const kPlaceholderProperty = "Placeholder";

// The picture down the left side of the wizard: a few course slides over a deep-blue ground.
class WizardPicture : public QWidget {
public:
    explicit WizardPicture(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient ground(0, 0, 0, height());
        ground.setColorAt(0, QColor(18, 52, 110));
        ground.setColorAt(1, QColor(12, 122, 128));
        p.fillRect(rect(), ground);

        // A stack of three slides, each a little further down and to the right.
        for (int i = 0; i < 3; ++i) {
            const QRectF slide(22 + i * 16, 70 + i * 44, 110, 78);
            p.setPen(QPen(QColor(255, 255, 255, 90), 1));
            p.setBrush(QColor(250, 250, 245, 200 + i * 20));
            p.drawRoundedRect(slide, 5, 5);
            p.setBrush(QColor(18, 52, 110, 190));
            p.setPen(Qt::NoPen);
            p.drawRect(QRectF(slide.left() + 10, slide.top() + 10, 70, 8));
            p.setBrush(QColor(120, 130, 140, 160));
            for (int line = 0; line < 4; ++line)
                p.drawRect(QRectF(slide.left() + 14, slide.top() + 28 + line * 10, 80 - line * 12, 4));
        }
        // A bound booklet below: the course documents the wizard makes.
        QPainterPath booklet;
        booklet.addRoundedRect(QRectF(40, 270, 90, 110), 4, 4);
        p.setBrush(QColor(240, 196, 80));
        p.drawPath(booklet);
        p.setBrush(QColor(200, 150, 40));
        p.drawRect(QRectF(40, 270, 10, 110));
        p.setBrush(QColor(255, 255, 255, 180));
        for (int line = 0; line < 5; ++line)
            p.drawRect(QRectF(60, 290 + line * 14, 58, 5));

        QFont font = p.font();
        font.setPointSize(15);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(255, 255, 255, 230));
        p.drawText(QRectF(0, height() - 70, width(), 30), Qt::AlignCenter, "Lessonforge");
        font.setPointSize(8);
        font.setBold(false);
        p.setFont(font);
        p.setPen(QColor(255, 255, 255, 170));
        p.drawText(QRectF(0, height() - 42, width(), 20), Qt::AlignCenter, "course builder");
    }
};

// Leading digits of a tag as a number (0 when it starts with none), as the tags are compared.
int tagNumber(const QString& tag) {
    int value = 0;
    for (const QChar c : tag) {
        if (!c.isDigit())
            break;
        value = value * 10 + c.digitValue();
        if (value > 1000000)
            break;
    }
    return value;
}

bool checked(const QCheckBox* box) {
    return box->isChecked();
}

// How a failure is marked, in the log and in the summary: an icon, so colour is not the only sign.
QIcon failureIcon(const QWidget* widget) {
    return widget->style()->standardIcon(QStyle::SP_MessageBoxCritical);
}

} // namespace

// The wizard's end of the operation log: lines go to lstOperations, errors to frmError's list. The
// list grows at most once per logBatchInterval: a list view lays out all its rows whenever it grows, so
// a line added (and selected) on its own would cost as much as the log is long. A line logged while
// the log is quiet shows at once; the lines of a busy run follow in batches. Failure lines are marked
// with colour and an icon.
class frmWizard::LogSink : public oplog::OperationLogSink {
public:
    explicit LogSink(frmWizard& wizard) : wizard_(wizard) {}
    void appendLine(const QString& line) override {
        wizard_.pendingLogLines_.push_back(std::make_unique<QListWidgetItem>(line));
        if (!wizard_.logBatch_->isActive())
            wizard_.showPendingLogLines();
    }
    void appendError(const QString& message) override { frmError::instance().addError(message); }
    void noteFailure(const QString& what) override {
        // The line is marked where it is, in the list or still waiting for it.
        QListWidget* log = wizard_.lstOperations;
        auto& pending = wizard_.pendingLogLines_;
        int row = log->count() + static_cast<int>(pending.size()) - 1;
        QListWidgetItem* item =
            pending.empty() ? (row >= 0 ? log->item(row) : nullptr) : pending.back().get();
        if (item && item->text() == what) {
            item->setForeground(QColor(176, 0, 32));
            item->setIcon(failureIcon(&wizard_));
        } else {
            row = -1;
        }
        wizard_.failures_.append({what, row});
    }
    void showProgress(const QString& operation, const QString& item, int done, int total) override {
        const QString text = QString("%1: %2 %3 of %4").arg(operation, item).arg(done).arg(total);
        wizard_.lblProgress->setText(text);
        wizard_.prgOperation->setRange(0, total);
        wizard_.prgOperation->setValue(done);
        wizard_.prgOperation->setFormat(text);
    }
    bool showErrorDialog() override { return ShowErrorDialog(); }

private:
    frmWizard& wizard_;
};

QIcon ProgramIcon() {
    return QIcon::fromTheme("lessonforge", QIcon(":/lessonforge/lessonforge.png"));
}

void FillPrinterList(QComboBox* list) {
    // Refilling an editable list must not replace the text it shows.
    const QString shown = list->currentText();
    list->clear();
    for (const QString& name : platform::installedPrinters())
        if (list->findText(name, Qt::MatchExactly) < 0)
            list->addItem(name);
    list->setCurrentIndex(list->findText(shown, Qt::MatchExactly));
    list->setEditText(shown);
}

frmWizard::frmWizard(WizardParts parts, QWidget* parent) : QWidget(parent), parts_(std::move(parts)) {
    if (!parts_.repository)
        parts_.repository = std::make_shared<NoRepository>();
    setObjectName("frmWizard");
    setWindowTitle("Lessonforge Wizard - Office 2010 Version");
    setWindowIcon(ProgramIcon());
    createControls();
    restoreWindow();
    logSink_ = std::make_unique<LogSink>(*this);
    oplog::installOperationLogSink(logSink_.get());
    Form_Load();
}

frmWizard::~frmWizard() {
    if (&oplog::operationLogSink() == logSink_.get())
        oplog::installOperationLogSink(nullptr);
}

QString frmWizard::tagOf(const QWidget* control) {
    return control->property(kTagProperty).toString();
}
void frmWizard::setTag(QWidget* control, const QString& tag) {
    control->setProperty(kTagProperty, tag);
}

void frmWizard::createControls() {
    // The controls are made in the order of the window's tab order; the layouts below place them.
    auto add = [this](auto* widget, const char* name, const char* tag) {
        widget->setObjectName(name);
        if (tag)
            setTag(widget, tag);
        controls_.append(widget);
        return widget;
    };
    auto label = [&](const char* name, const char* caption, const char* tag) {
        return add(new QLabel(caption, this), name, tag);
    };
    auto check = [&](const char* name, const char* caption) {
        return add(new QCheckBox(caption, this), name, "2");
    };
    auto printerList = [&](const char* name, const char* initial) {
        QComboBox* c = add(new QComboBox(this), name, "2");
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        c->setEditText(initial);
        // As wide as the page gives it, whatever the printers' names.
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        c->setMinimumContentsLength(12);
        return c;
    };
    auto field = [&](const char* name, const char* text, const char* tooltip) {
        QLineEdit* t = add(new QLineEdit(text, this), name, "3");
        t->setToolTip(tooltip);
        t->setProperty(kPlaceholderProperty, QString(text));
        return t;
    };
    auto browse = [&](const char* name) {
        QPushButton* b = add(new QPushButton("Browse", this), name, "3");
        b->setAutoDefault(false);
        return b;
    };

    Picture1 = add(new WizardPicture(this), "Picture1", "0");

    lblWelcome = label("lblWelcome", "caption goes here", "0");
    QFont header("Tahoma");
    header.setPointSizeF(font().pointSizeF() * 1.35);
    header.setBold(true);
    lblWelcome->setFont(header);
    lblWelcome->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblWelcome->setWordWrap(true);

    cmdBack = add(new QPushButton("<&Back", this), "cmdBack", "0");
    cmdNext = add(new QPushButton("&Next>", this), "cmdNext", "0");
    cmdNext->setDefault(true);

    // Page 2: the operations and the options of the print-ready run.
    chkGrayscale = check("chkGrayscale", "Set grayscale and resize");
    chkIndex = check("chkIndex", "Create Index (only do this after using the Tagwise Powerpoint Addin)");
    chkTOC = check("chkTOC", "Create Table of Contents");
    chkPRU = check("chkPRU", "Create print ready files ");
    chkPDF = check("chkPDF", "Print as PDF too");
    chkZipPDFs = check("chkZipPDFs", "Zip result");
    lblPPTPrinter = label("lblPPTPrinter", "PowerPoint Printer", "2");
    cmbPPTPrinter = printerList("cmbPPTPrinter", "Select the PPT Printer");
    lblWordPrinter = label("lblWordPrinter", "Word Printer", "2");
    cmbWordPrinter = printerList("cmbWordPrinter", "Select the Word Printer");
    lblAdobePrinter = label("lblAdobePrinter", "Adobe Printer", "2");
    cmbAdobePrinter = printerList("cmbAdobePrinter", "Select the Adobe Printer");
    chkZip = check("chkZip", "Create zip file containing modules and labs");

    // Page 3: the paths and names, each row a label, a text box and (for paths) a Browse button.
    // Each label carries its field's access key (none of B, N and Q, which Back, Next and Quit hold).
    txtSourcePath = field("txtSourcePath", "Source Path", "Source Path");
    cmdSourcePath = browse("cmdSourcePath");
    lblSource = label("lblSource", "&Source Path:", "3");
    txtDestinationPath = field("txtDestinationPath", "Destination Path", "Destination Path");
    cmdDestination = browse("cmdDestination");
    lblDestination = label("lblDestination", "&Destination Path:", "3");
    txtTOCTemplate = field("txtTOCTemplate", "TOC Template", "TOC Template");
    cmdTOCTemplate = browse("cmdTOCTemplate");
    lblTOCtemplate = label("lblTOCtemplate", "&TOC Template:", "3");
    txtIndexTemplate = field("txtIndexTemplate", "Index Template", "Index Template");
    cmdIndexTemplate = browse("cmdIndexTemplate");
    lblIndexTemplate = label("lblIndexTemplate", "&Index Template", "3");
    txtTOCName = field("txtTOCName", "Enter TOC Output File Name",
                       "The file name of the table of contents the run writes in the destination");
    lblTOCName = label("lblTOCName", "TOC &Output File Name", "3");
    txtIndexName = field("txtIndexName", "Enter Index Output File Name",
                         "The file name of the index the run writes in the destination");
    lblIndexName = label("lblIndexName", "Inde&x Output File Name", "3");
    txtCourseName = field("txtCourseName", "Enter Course Name", "Enter Course Name");
    lblCourseName = label("lblCourseName", "&Course Name:", "3");
    const std::pair<QLabel*, QLineEdit*> buddies[] = {
        {lblSource, txtSourcePath},       {lblDestination, txtDestinationPath},
        {lblTOCtemplate, txtTOCTemplate}, {lblIndexTemplate, txtIndexTemplate},
        {lblTOCName, txtTOCName},         {lblIndexName, txtIndexName},
        {lblCourseName, txtCourseName}};
    for (const auto& [caption, box] : buddies)
        caption->setBuddy(box);

    // Page 4: what the check of the course found, one row per problem (file, slide, problem).
    lblProblems = label("lblProblems", "", "4");
    lblProblems->setWordWrap(true);
    lstProblems = add(new QTableWidget(0, 3, this), "lstProblems", "4");
    lstProblems->setHorizontalHeaderLabels({"File", "Slide", "Problem"});
    lstProblems->verticalHeader()->hide();
    lstProblems->setShowGrid(false);
    lstProblems->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstProblems->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstProblems->setTextElideMode(Qt::ElideMiddle);
    lstProblems->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lstProblems->horizontalHeader()->setStretchLastSection(true);
    // A problem is a sentence or two: it wraps in its column rather than being cut off, and wraps
    // again when the column changes width.
    lstProblems->setWordWrap(true);
    connect(lstProblems->horizontalHeader(), &QHeaderView::sectionResized, lstProblems,
            &QTableWidget::resizeRowsToContents);

    // Page 5: the operation log, and under it which operation runs and how far it is.
    lstOperations = add(new QListWidget(this), "lstOperations", "5");
    lblProgress = label("lblProgress", "", "5");

    // Page 5's run controls: Stop while operations run, a bar per operation, the summary and its
    // failures at the end, and keeping the log.
    cmdStop = add(new QPushButton("&Stop", this), "cmdStop", "5");
    cmdStop->setAutoDefault(false);
    prgOperation = add(new QProgressBar(this), "prgOperation", "5");
    prgOperation->setTextVisible(true);
    lblSummary = label("lblSummary", "", "5");
    lblSummary->setWordWrap(true);
    lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lstFailures = add(new QListWidget(this), "lstFailures", "5");
    const int smallIcon = style()->pixelMetric(QStyle::PM_SmallIconSize);
    lstFailures->setIconSize(QSize(smallIcon, smallIcon));
    lstFailures->setToolTip("Click a failure to find its line in the log");
    cmdSaveLog = add(new QPushButton("Save &log...", this), "cmdSaveLog", "5");
    cmdSaveLog->setAutoDefault(false);
    cmdCopyLog = add(new QPushButton("&Copy", this), "cmdCopyLog", "5");
    cmdCopyLog->setAutoDefault(false);
    cmdCopyLog->setToolTip("Copy the selected log lines, or all of them when none is selected");
    lstOperations->setUniformItemSizes(true);
    lstOperations->setSelectionMode(QAbstractItemView::ExtendedSelection);
    chooseLogFile = [this] {
        return QFileDialog::getSaveFileName(this, "Save log", QString(), "Text files (*.txt);;All files (*)");
    };

    // Carriers of settings into the run; never shown.
    txtWorkingDirectory = add(new QLineEdit(this), "txtWorkingDirectory", nullptr);
    txtPrintReadyZipFilename = add(new QLineEdit(Picture1), "txtPrintReadyZipFilename", nullptr);
    txtWorkingDirectory->hide();
    txtPrintReadyZipFilename->hide();

    layOut();

    connect(cmdNext, &QPushButton::clicked, this, &frmWizard::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &frmWizard::cmdBack_Click);
    connect(chkPRU, &QCheckBox::clicked, this, &frmWizard::chkPRU_Click);
    connect(chkPDF, &QCheckBox::clicked, this, &frmWizard::chkPDF_Click);
    connect(cmdSourcePath, &QPushButton::clicked, this, &frmWizard::cmdSourcePath_Click);
    connect(cmdDestination, &QPushButton::clicked, this, &frmWizard::cmdDestination_Click);
    connect(cmdTOCTemplate, &QPushButton::clicked, this, &frmWizard::cmdTOCTemplate_Click);
    connect(cmdIndexTemplate, &QPushButton::clicked, this, &frmWizard::cmdIndexTemplate_Click);
    connect(cmbPPTPrinter, &QComboBox::activated, this,
            [this](int index) { pptPrinterSelection = cmbPPTPrinter->itemText(index); });
    connect(cmbWordPrinter, &QComboBox::activated, this,
            [this](int index) { wordPrinterSelection = cmbWordPrinter->itemText(index); });
    connect(cmbAdobePrinter, &QComboBox::activated, this,
            [this](int index) { adobe7x9PrinterSelection = cmbAdobePrinter->itemText(index); });
    connect(lstOperations, &QListWidget::currentRowChanged, this, &frmWizard::lstOperations_Click);
    lstOperations->viewport()->installEventFilter(this);
    logBatch_ = new QTimer(this);
    logBatch_->setSingleShot(true);
    logBatch_->setInterval(logBatchInterval);
    connect(logBatch_, &QTimer::timeout, this, [this] {
        if (!pendingLogLines_.empty())
            showPendingLogLines();
    });
    // The log follows the run while it shows its end: scrolled there it follows again, and when it
    // grows or shrinks (lines, the summary taking room) a following log keeps its end in view.
    QScrollBar* logBar = lstOperations->verticalScrollBar();
    connect(logBar, &QScrollBar::valueChanged, this,
            [this, logBar](int value) { logFollows_ = value == logBar->maximum(); });
    connect(logBar, &QScrollBar::rangeChanged, this, [this, logBar](int, int maximum) {
        if (logFollows_)
            logBar->setValue(maximum);
    });
    connect(cmdStop, &QPushButton::clicked, this, &frmWizard::cmdStop_Click);
    connect(cmdSaveLog, &QPushButton::clicked, this, &frmWizard::cmdSaveLog_Click);
    connect(cmdCopyLog, &QPushButton::clicked, this, &frmWizard::cmdCopyLog_Click);
    connect(lstFailures, &QListWidget::itemClicked, this, &frmWizard::lstFailures_Click);
}

// The picture down the left, the page on the right: the header, the page's own controls, and
// Back and Next at the foot. Every page's controls sit in the one layout; those of the other pages
// are hidden and take no room. The window starts at 680 x 480 and grows with its font: nothing is
// placed at a fixed position, and the operation log takes what room the window has.
void frmWizard::layOut() {
    const int em = fontMetrics().averageCharWidth();
    Picture1->setMinimumWidth(176);
    Picture1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    auto* operations = new QGridLayout;
    operations->setColumnMinimumWidth(0, 3 * em);
    operations->setColumnStretch(2, 1);
    int row = 0;
    for (QCheckBox* box : {chkGrayscale, chkIndex, chkTOC, chkZip, chkPRU})
        operations->addWidget(box, row++, 0, 1, 3);
    auto* pdfOptions = new QHBoxLayout;
    pdfOptions->addWidget(chkPDF);
    pdfOptions->addSpacing(2 * em);
    pdfOptions->addWidget(chkZipPDFs);
    pdfOptions->addStretch(1);
    operations->addLayout(pdfOptions, row++, 1, 1, 2);
    for (auto [caption, list] : {std::pair<QLabel*, QComboBox*>{lblPPTPrinter, cmbPPTPrinter},
                                 {lblWordPrinter, cmbWordPrinter},
                                 {lblAdobePrinter, cmbAdobePrinter}}) {
        operations->addWidget(caption, row, 1);
        operations->addWidget(list, row++, 2);
    }

    auto* fields = new QGridLayout;
    fields->setColumnStretch(1, 1);
    fields->setVerticalSpacing(fontMetrics().height() / 2 + 2);
    const std::tuple<QLabel*, QLineEdit*, QPushButton*> rows[] = {
        {lblSource, txtSourcePath, cmdSourcePath},
        {lblDestination, txtDestinationPath, cmdDestination},
        {lblTOCtemplate, txtTOCTemplate, cmdTOCTemplate},
        {lblIndexTemplate, txtIndexTemplate, cmdIndexTemplate},
        {lblTOCName, txtTOCName, nullptr},
        {lblIndexName, txtIndexName, nullptr},
        {lblCourseName, txtCourseName, nullptr}};
    row = 0;
    for (const auto& [caption, box, button] : rows) {
        fields->addWidget(caption, row, 0);
        fields->addWidget(box, row, 1);
        if (button)
            fields->addWidget(button, row, 2);
        ++row;
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdBack);
    buttons->addWidget(cmdNext);

    auto* page = new QVBoxLayout;
    page->setContentsMargins(0, 16, 16, 16);
    page->addWidget(lblWelcome);
    page->addSpacing(em);
    page->addLayout(operations);
    page->addLayout(fields);
    page->addWidget(lblProblems);
    page->addWidget(lstProblems, 1000);
    page->addWidget(lstOperations, 1000);
    page->addWidget(lblProgress);
    // The run page's block: the bar and Stop, the summary, its failures, and keeping the log.
    auto* progress = new QHBoxLayout;
    progress->addWidget(prgOperation, 1);
    progress->addWidget(cmdStop);
    page->addLayout(progress);
    page->addWidget(lblSummary);
    lstFailures->setMaximumHeight(6 * fontMetrics().height());
    page->addWidget(lstFailures, 200);
    auto* keep = new QHBoxLayout;
    keep->addWidget(cmdSaveLog);
    keep->addWidget(cmdCopyLog);
    keep->addStretch(1);
    page->addLayout(keep);
    page->addStretch(1);
    page->addLayout(buttons);

    auto* window = new QHBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(14);
    window->addWidget(Picture1);
    window->addLayout(page, 1);
    resize(kWidth, kHeight);
}

QWidget* frmWizard::control(const QString& name) const {
    for (QWidget* c : controls_)
        if (c->objectName() == name)
            return c;
    return nullptr;
}

void frmWizard::setControlShown(QWidget* c, bool shown) {
    c->setVisible(shown);
    c->setEnabled(shown);
}

void frmWizard::hideControl(const QString& controlname) {
    if (QWidget* c = control(controlname))
        setControlShown(c, false);
}

void frmWizard::displayControl(const QString& controlname) {
    if (QWidget* c = control(controlname))
        setControlShown(c, true);
}

void frmWizard::displayControls(std::int16_t page) {
    const QString digit = QString::number(page);
    for (QWidget* c : controls_) {
        const QString tag = tagOf(c);
        const bool shown = tag == "0" || (digit.size() == 1 && tag.startsWith(digit));
        setControlShown(c, shown);
    }
}

void frmWizard::disableNext() {
    cmdNext->setEnabled(false);
}
void frmWizard::enableNext() {
    cmdNext->setEnabled(true);
}
void frmWizard::disableBack() {
    cmdBack->setEnabled(false);
}
void frmWizard::enableBack() {
    cmdBack->setEnabled(true);
}

void frmWizard::disableAllControls() {
    for (QWidget* c : controls_)
        if (tagNumber(tagOf(c)) > 0)
            setControlShown(c, false);
}

void frmWizard::verificationRequired(QWidget* c, int flag) {
    setTag(c, tagOf(c) + "," + QString::number(flag));
}

std::array<std::pair<QCheckBox*, std::uint16_t>, 5> frmWizard::operationBoxes() const {
    return {{{chkGrayscale, GrayscaleBit},
             {chkIndex, IndexBit},
             {chkTOC, TOCBit},
             {chkPRU, PrintReadyBit},
             {chkZip, ZipBit}}};
}

std::uint16_t frmWizard::whichControlsChecked() const {
    std::uint16_t mask = 0;
    for (const auto& [box, bit] : operationBoxes())
        if (checked(box))
            mask |= bit;
    return mask;
}

bool frmWizard::isVerificationRequired(const QWidget* c) const {
    return tagOf(c).endsWith('1');
}

bool frmWizard::verified() {
    bool result = true;
    for (QWidget* c : controls_) {
        auto* box = qobject_cast<QLineEdit*>(c);
        if (!box || !isVerificationRequired(box))
            continue;
        if (box->text().isEmpty() || box->text() == box->property(kPlaceholderProperty).toString())
            result = false;
        if (parts_.repository->EnsureConnection(box->text()))
            result = false;
    }
    return result;
}

indexing::CourseCheck frmWizard::courseCheck() const {
    const std::uint16_t mask = whichControlsChecked();
    indexing::CourseCheck check;
    check.grayscale = mask & GrayscaleBit;
    check.index = mask & IndexBit;
    check.toc = mask & TOCBit;
    check.printReady = mask & PrintReadyBit;
    check.zip = mask & ZipBit;
    check.sourcePath = StripTrailingSeparator(txtSourcePath->text());
    check.destinationPath = StripTrailingSeparator(txtDestinationPath->text());
    check.tocTemplate = txtTOCTemplate->text();
    check.tocName = txtTOCName->text();
    check.indexTemplate = txtIndexTemplate->text();
    check.indexName = txtIndexName->text();
    check.tocTitleSource = settings_.TOCTitleSource;
    check.indexLanguage = settings_.IndexLanguage;
    return check;
}

// A path typed the host's way ("/home/me/course") is a repository path; when no repository is
// connected and this computer has that folder, the user most likely meant it, and is offered its
// drive-letter form.
void frmWizard::offerDriveForms() {
    if (parts_.repository->IsConnected())
        return;
    for (QLineEdit* box : {txtSourcePath, txtDestinationPath, txtTOCTemplate, txtIndexTemplate}) {
        const QString typed = box->text();
        if (!isVerificationRequired(box) || !typed.startsWith('/'))
            continue;
        const platform::HostKind kind = platform::hostKind(typed);
        const QString local = platform::localPathOf(typed);
        if ((kind != platform::HostKind::Folder && kind != platform::HostKind::File) || local.isEmpty())
            continue;
        const QString what = kind == platform::HostKind::Folder ? "folder" : "file";
        const platform::MessageAnswer answer = platform::messageBox(
            "Path on this computer",
            typed + " is a " + what + " on this computer, and no repository is connected.\n" +
                "Click Yes to use it as " + local + ", or No to keep it as a repository path.",
            platform::MessageIcon::Question, platform::MessageButtons::YesNo);
        if (answer == platform::MessageAnswer::Yes)
            box->setText(local);
    }
}

void frmWizard::checkCourse() {
    if (!parts_.CheckCourse)
        return;
    // Reading every deck of a repository course takes a moment.
    platform::showHourglass();
    try {
        courseProblems_ = parts_.CheckCourse(courseCheck());
    } catch (const std::exception& e) {
        courseProblems_ = {{QString(), 0,
                            "the course could not be checked: " +
                                platform::withLocalPaths(QString::fromStdString(e.what()))}};
    }
    platform::showDefaultPointer();

    setControlShown(lblProblems, true);
    if (courseProblems_.empty()) {
        lblProblems->setText("The check found no problems in the course.");
        return;
    }
    const qsizetype count = static_cast<qsizetype>(courseProblems_.size());
    lblProblems->setText(QString("The check found %1 %2 in the course. Click Back to fix them, or Next to "
                                 "run anyway.")
                             .arg(count)
                             .arg(count == 1 ? "problem" : "problems"));
    lstProblems->setRowCount(static_cast<int>(count));
    for (int row = 0; row < lstProblems->rowCount(); ++row) {
        const indexing::CourseProblem& problem = courseProblems_[static_cast<std::size_t>(row)];
        const QString file = platform::shownName(problem.file);
        const QString slide = problem.slide > 0 ? QString::number(problem.slide) : QString();
        const QString what = platform::shownName(problem.what);
        int column = 0;
        for (const QString& text : {file, slide, what}) {
            auto* cell = new QTableWidgetItem(text);
            cell->setToolTip(text);
            cell->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
            lstProblems->setItem(row, column++, cell);
        }
    }
    setControlShown(lstProblems, true);
    // The file column as wide as its longest name, but never more than half the list.
    lstProblems->resizeColumnToContents(0);
    lstProblems->resizeColumnToContents(1);
    lstProblems->setColumnWidth(0,
                                std::min(lstProblems->columnWidth(0), lstProblems->viewport()->width() / 2));
    lstProblems->resizeRowsToContents();
}

void frmWizard::applyFieldRules(std::uint16_t mask) {
    struct Group {
        QWidget* box;
        QStringList names;
    };
    const Group source{txtSourcePath, {"txtSourcePath", "cmdSourcePath", "lblSource"}};
    const Group destination{txtDestinationPath, {"txtDestinationPath", "cmdDestination", "lblDestination"}};
    const Group tocTemplate{txtTOCTemplate, {"txtTOCTemplate", "cmdTOCTemplate", "lblTOCtemplate"}};
    const Group indexTemplate{txtIndexTemplate, {"txtIndexTemplate", "cmdIndexTemplate", "lblIndexTemplate"}};
    const Group courseName{txtCourseName, {"txtCourseName", "lblCourseName"}};
    const Group indexName{txtIndexName, {"txtIndexName", "lblIndexName"}};
    const Group tocName{nullptr, {"txtTOCName", "lblTOCName"}};
    const Group* all[] = {&source,     &destination, &tocTemplate, &indexTemplate,
                          &courseName, &indexName,   &tocName};
    const FieldRules rules = FieldRulesFor(mask);
    auto listed = [](const std::vector<FieldGroup>& groups, int index) {
        return std::find(groups.begin(), groups.end(), static_cast<FieldGroup>(index)) != groups.end();
    };
    for (int g = 0; g < 7; ++g) {
        const bool show = listed(rules.shown, g);
        for (const QString& name : all[g]->names)
            show ? displayControl(name) : hideControl(name);
    }
    for (FieldGroup g : rules.required)
        verificationRequired(all[static_cast<int>(g)]->box, 1);
    for (FieldGroup g : rules.notRequired)
        verificationRequired(all[static_cast<int>(g)]->box, 0);
}

void frmWizard::disableUnavailableOperations() {
    for (const auto& [box, bit] : operationBoxes()) {
        const bool available = parts_.operations.isAvailable(bit);
        if (!available) {
            box->setChecked(false);
            box->setEnabled(false);
        }
        box->setToolTip(available ? QString() : QString(kNotAvailable));
    }
}

void frmWizard::controlState(std::int16_t page) {
    if (page < 4)
        warmRenderer_.reset(); // off the print-ready path: the run may change or never come
    switch (page) {
    case 1:
        lblWelcome->setText("Welcome to the Lessonforge wizard!\nClick Next to begin.");
        displayControls(1);
        cmdBack->setText("&Quit");
        break;
    case 2: {
        settings_.PublishPDFs = ReadPublishPDFsSetting();
        if (settings_.PublishPDFs) {
            setTag(cmbAdobePrinter, "false");
            lblAdobePrinter->setText("");
        }
        lblWelcome->setText("Select operations to perform:");
        displayControls(2);
        FillPrinterList(cmbAdobePrinter);
        FillPrinterList(cmbPPTPrinter);
        FillPrinterList(cmbWordPrinter);
        cmdBack->setText("<&Back");
        restoreOperations();
        disableUnavailableOperations();
        const bool printReady = checked(chkPRU);
        chkPDF->setEnabled(printReady);
        chkZipPDFs->setEnabled(printReady);
        cmbPPTPrinter->setEnabled(printReady);
        cmbWordPrinter->setEnabled(printReady);
        cmbAdobePrinter->setEnabled(checked(chkPDF));
        break;
    }
    case 3: {
        LoadSettings(*this);
        int sum = 0;
        for (QWidget* c : controls_)
            if (auto* box = qobject_cast<QCheckBox*>(c))
                sum += box->isChecked() ? 1 : 0;
        if (sum == 0) {
            lblWelcome->setText("Click Back and select at least one\ncheckbox.");
            disableNext();
            disableAllControls();
            break;
        }
        lblWelcome->setText("Enter the path and name info:");
        displayControls(3);
        applyFieldRules(whichControlsChecked());
        break;
    }
    case 4: {
        cmdNext->setText("&Next");
        displayControls(4);
        // LibreOffice starts while the person reads this page, so the run's first file finds it warm.
        startRendererAhead();
        // The check's findings are shown once it has run, never those of an earlier visit.
        courseProblems_.clear();
        lstProblems->setRowCount(0);
        setControlShown(lblProblems, false);
        setControlShown(lstProblems, false);
        // Nothing is saved while one field cannot be: the file keeps what it held.
        const QString unsavable = UnsavableField(*this);
        if (!unsavable.isEmpty()) {
            lblWelcome->setText(unsavable + "\nClick Back and correct it.");
            disableNext();
            break;
        }
        offerDriveForms();
        if (parts_.saveSettings)
            SaveSettings(*this);
        lblWelcome->setText("Click Next to perform all operations");
        if (!verified()) {
            lblWelcome->setText("Please complete all path information.  Click Back.");
            disableNext();
            break;
        }
        checkCourse();
        break;
    }
    case 5:
        displayControls(5);
        // Until the run ends there is nothing to summarise.
        for (QWidget* c : {static_cast<QWidget*>(lblSummary), static_cast<QWidget*>(lstFailures)})
            setControlShown(c, false);
        disableNext();
        disableBack();
        cmdNext->setText("Finish");
        lblWelcome->setText("Operations");
        runOperations();
        break;
    case 0:
    case 6:
        close();
        return;
    default:
        break;
    }
    fitMinimumSize();
}

void frmWizard::startRendererAhead() {
    if (!warmRenderer_ && parts_.startRenderer && checked(chkPRU) &&
        parts_.operations.isAvailable(PrintReadyBit))
        warmRenderer_ = parts_.startRenderer(&stop_);
}

void frmWizard::runOperations() {
    const std::uint16_t mask = whichControlsChecked();
    if (mask < 1 || mask > 31) {
        platform::messageBox("Whoops!", "Something unsupported just happened",
                             platform::MessageIcon::Critical);
        return;
    }
    RunRequest request;
    request.mask = mask;
    request.sourcePath = txtSourcePath->text();
    request.destinationPath = txtDestinationPath->text();
    request.tocTemplate = txtTOCTemplate->text();
    request.tocName = txtTOCName->text();
    request.indexTemplate = txtIndexTemplate->text();
    request.indexName = txtIndexName->text();
    request.courseName = txtCourseName->text();
    request.workingDirectory = txtWorkingDirectory->text();
    request.printReadyZipFilename = txtPrintReadyZipFilename->text();
    request.makePDFs = checked(chkPDF);
    request.zipResult = checked(chkZipPDFs);
    request.pptPrinter = pptPrinterSelection;
    request.wordPrinter = wordPrinterSelection;
    request.pdfPrinter = adobe7x9PrinterSelection;
    request.printSwitches.useBackgroundPrinting = settings_.UseBackgroundPrinting;
    request.printSwitches.publishPDFs = settings_.PublishPDFs;
    request.tocTitleSource = settings_.TOCTitleSource;
    request.indexLanguage = settings_.IndexLanguage;
    request.printSwitches.archivePDFs = settings_.ArchivePDFs;
    stop_.reset();
    request.stop = &stop_;
    startRendererAhead();
    request.takeWarmRenderer = [this] { return std::move(warmRenderer_); };

    failures_.clear();
    setControlShown(cmdStop, true);
    setControlShown(cmdSaveLog, false);
    setControlShown(cmdCopyLog, false);
    // The bar keeps its room for the whole run, so that the log does not shrink under a reader.
    prgOperation->setRange(0, 1);
    prgOperation->setValue(0);
    prgOperation->setFormat(QString());
    prgOperation->show();
    QElapsedTimer clock;
    clock.start();
    running_ = true;
    const RunOutcome outcome = RunOperations(parts_.operations, request);
    running_ = false;
    warmRenderer_.reset(); // one the run did not take (it stopped before printing) ends here
    showPendingLogLines();
    setControlShown(cmdStop, false);
    setControlShown(cmdSaveLog, true);
    setControlShown(cmdCopyLog, true);
    prgOperation->hide();
    showSummary(outcome);
    enableNext();
    if (closeRequested_) {
        close();
        return;
    }
    if (std::chrono::milliseconds(clock.elapsed()) >= announceAfter && !isActiveWindow())
        announceEnd();
}

// In place of the status line: what was done, what was written and what failed, each failure
// clickable to its line in the log.
void frmWizard::showSummary(const RunOutcome& outcome) {
    QStringList lines;
    lines.append(stop_.requested() ? "Stopped by you." : "Finished.");
    lines.append("Operations: " +
                 (outcome.operationsDone.isEmpty() ? QString("none") : outcome.operationsDone.join(", ")));
    lines.append(QString("Files written: %1").arg(outcome.filesWritten.size()));
    for (const QString& file : outcome.filesWritten)
        lines.append("    " + file);
    lines.append(failures_.isEmpty()
                     ? QString("No failures.")
                     : QString("Failures: %1 (click one to find it in the log)").arg(failures_.size()));
    lblProgress->clear();
    setControlShown(lblProgress, false);
    lblSummary->setText(lines.join("\n"));
    setControlShown(lblSummary, true);
    lstFailures->clear();
    for (const auto& [what, row] : failures_) {
        auto* item = new QListWidgetItem(failureIcon(this), what);
        item->setData(Qt::UserRole, row);
        lstFailures->addItem(item);
    }
    setControlShown(lstFailures, !failures_.isEmpty());
}

// A run that took long has ended while the person works elsewhere: the task bar entry asks for
// attention and the desktop shows a notification where it has a notification service.
void frmWizard::announceEnd() {
    QApplication::alert(this);
#ifdef LF_HAVE_DBUS
    QDBusMessage note =
        QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", "Notify");
    const QString body =
        failures_.isEmpty()
            ? QString("The operations have finished.")
            : QString("The operations have finished with %1 failure(s).").arg(failures_.size());
    note << QString("Lessonforge") << 0u << QString() << QString("Lessonforge run ended") << body
         << QStringList() << QVariantMap() << -1;
    QDBusConnection::sessionBus().call(note, QDBus::NoBlock);
#endif
}

void frmWizard::cmdStop_Click() {
    stop_.request();
    cmdStop->setEnabled(false);
    lblProgress->setText("Stopping after the current file...");
}

void frmWizard::lstFailures_Click() {
    const QListWidgetItem* failure = lstFailures->currentItem();
    const int row = failure ? failure->data(Qt::UserRole).toInt() : -1;
    if (row < 0 || row >= lstOperations->count())
        return;
    lstOperations->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    lstOperations->scrollToItem(lstOperations->item(row), QAbstractItemView::PositionAtCenter);
}

void frmWizard::showPendingLogLines() {
    if (pendingLogLines_.empty())
        return;
    // A new line is scrolled to (and selected) only while the log was showing its end, so a person
    // reading back keeps their place.
    for (auto& line : pendingLogLines_)
        lstOperations->addItem(line.release());
    pendingLogLines_.clear();
    if (logFollows_) {
        lstOperations->setCurrentRow(lstOperations->count() - 1, QItemSelectionModel::ClearAndSelect);
        lstOperations->scrollToBottom();
    }
    logBatch_->start();
}

QString frmWizard::logText(bool selectedOnly) const {
    QStringList lines;
    for (int row = 0; row < lstOperations->count(); ++row) {
        const QListWidgetItem* item = lstOperations->item(row);
        if (!selectedOnly || item->isSelected())
            lines.append(item->text());
    }
    if (!selectedOnly)
        for (const auto& line : pendingLogLines_) // none is selected before it shows
            lines.append(line->text());
    return lines.join('\n');
}

void frmWizard::cmdSaveLog_Click() {
    const QString name = chooseLogFile ? chooseLogFile() : QString();
    if (name.isEmpty())
        return;
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write((logText(false) + '\n').toUtf8()) < 0 || !file.flush()) {
        platform::messageBox("Save log", "The log could not be saved to\n" + name + "\nChoose another place.",
                             platform::MessageIcon::Exclamation);
    }
}

void frmWizard::cmdCopyLog_Click() {
    const bool anySelected = !lstOperations->selectedItems().isEmpty();
    QApplication::clipboard()->setText(logText(anySelected));
}

void frmWizard::keepSettings(const Settings& loaded) {
    const bool publishPDFs = settings_.PublishPDFs;
    settings_ = loaded;
    settings_.PublishPDFs = publishPDFs;
}

void frmWizard::restoreWindow() {
    if (!parts_.rememberWindow)
        return;
    const auto memory = platform::programSettings();
    const QSize size = memory->value(kWindowSize).toSize();
    if (size.isValid())
        resize(size.expandedTo(minimumSize()));
    // A position only where a screen still shows the window's corner.
    const QPoint position = memory->value(kWindowPosition, QPoint(-1, -1)).toPoint();
    if (const QScreen* screen = QGuiApplication::screenAt(position);
        screen && memory->contains(kWindowPosition) && screen->availableGeometry().contains(position))
        move(position);
}

void frmWizard::rememberWindow() const {
    if (!parts_.rememberWindow)
        return;
    const auto memory = platform::programSettings();
    memory->setValue(kWindowSize, size());
    memory->setValue(kWindowPosition, pos());
    memory->setValue(kLastOperations, static_cast<int>(whichControlsChecked()));
}

void frmWizard::restoreOperations() {
    if (!parts_.rememberWindow || operationsRestored_)
        return;
    operationsRestored_ = true;
    const int mask = platform::programSettings()->value(kLastOperations, 0).toInt();
    // An operation this build cannot run is unchecked again as the page disables it.
    for (const auto& [box, bit] : operationBoxes())
        box->setChecked((mask & bit) != 0);
}

void frmWizard::fitMinimumSize() {
    layout()->invalidate();
    layout()->activate();
    setMinimumSize(layout()->totalSizeHint());
    resize(size().expandedTo(minimumSize()));
}

void frmWizard::Form_Load() {
    PageNumber = 1;
    controlState(PageNumber);
}

void frmWizard::cmdNext_Click() {
    PageNumber = static_cast<std::int16_t>(PageNumber + 1);
    controlState(PageNumber);
}

void frmWizard::cmdBack_Click() {
    PageNumber = static_cast<std::int16_t>(PageNumber - 1);
    controlState(PageNumber);
}

void frmWizard::lstOperations_Click() {
    const QListWidgetItem* item = lstOperations->currentItem();
    lstOperations->setToolTip(item ? item->text() : QString());
}

void frmWizard::lstOperations_DblClick() {
    const QListWidgetItem* item = lstOperations->currentItem();
    platform::messageBox("Information", item ? item->text() : QString(), platform::MessageIcon::Information);
}

void frmWizard::chkPRU_Click() {
    // The options of the print-ready run are usable exactly while it is chosen.
    const bool on = checked(chkPRU);
    chkPDF->setEnabled(on);
    if (!on && checked(chkPDF)) {
        chkPDF->setChecked(false);
        chkPDF_Click();
    }
    chkZipPDFs->setEnabled(on);
    if (!on)
        chkZipPDFs->setChecked(false);
    cmbPPTPrinter->setEnabled(on);
    cmbWordPrinter->setEnabled(on);
}

void frmWizard::chkPDF_Click() {
    if (checked(chkPDF) && !settings_.PublishPDFs)
        platform::messageBox("Adobe PDF Settings",
                             "Before continuing, ensure the following settings\n"
                             "are set on your local computer:\n"
                             "\n"
                             "There is a printer (settings > printers) setup as an Adobe printer\n"
                             "\n"
                             "The printing preferences are set so that 'View Adobe PDF\n"
                             "results' in UNCHECKED and 'Prompt for Adobe PDF filename'\n"
                             "is UNCHECKED.  If these preferences are not set correctly\n"
                             "it will cause the program to work incorrectly.\n"
                             "\n"
                             "This setting does not prevent PRN files from also being created.",
                             platform::MessageIcon::Exclamation);
    cmbAdobePrinter->setEnabled(checked(chkPDF));
}

void frmWizard::cmdSourcePath_Click() {
    parts_.repository->Browse(txtSourcePath, false);
}
void frmWizard::cmdDestination_Click() {
    parts_.repository->Browse(txtDestinationPath, false);
}
void frmWizard::cmdTOCTemplate_Click() {
    parts_.repository->Browse(txtTOCTemplate, true);
}
void frmWizard::cmdIndexTemplate_Click() {
    parts_.repository->Browse(txtIndexTemplate, true);
}

void frmWizard::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    rememberWindow();
    parts_.repository->unloadWindows();
    parts_.repository->releaseSession();
    if (parts_.quitDocumentWriter)
        parts_.quitDocumentWriter();
    // The errors dialog goes with the wizard, whatever it holds.
    if (frmError::isLoaded())
        frmError::instance().unload();
}

void frmWizard::closeEvent(QCloseEvent* event) {
    // Closing in the middle of a run would release the session under the running operations: the
    // wizard closes once they have returned.
    if (running_) {
        event->ignore();
        if (closeRequested_)
            return;
        const auto answer = platform::messageBox(
            "Stop the run?",
            "The operations are still running.\nStop them after the current file and close the wizard?",
            platform::MessageIcon::Question, platform::MessageButtons::YesNo);
        if (answer == platform::MessageAnswer::Yes) {
            closeRequested_ = true;
            cmdStop_Click();
        }
        return;
    }
    Form_Unload();
    event->accept();
}

bool frmWizard::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lstOperations->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        lstOperations_DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lf::wizard
