#include "wizard/settings.h"

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/oplog.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "wizard/frmWizard.h"

#include <QLineEdit>

namespace lf::wizard {

namespace {

const char* const kTag = "Settings";

QString read(const char* section, const char* key, const QString& defaultValue) {
    return platform::GetPrivateProfileString(section, key, defaultValue, kSettingsFile);
}

// A template the program ships, as a local path through the drive map; the old fixed path when the
// program finds no shipped templates (a build whose data folder is gone).
QString shippedTemplate(const QString& fileName, const QString& fallback) {
    const QString folder = platform::shippedTemplatesFolder();
    const QString local = folder.isEmpty() ? QString() : platform::localPathOf(folder + "/" + fileName);
    return local.isEmpty() ? fallback : local;
}

// The seven fields page 4 writes back, in the file's order, with the name the page shows for each.
struct SavedField {
    const char* section;
    const char* key;
    QLineEdit* frmWizard::*field;
    const char* shownAs;
};

const SavedField kSavedFields[] = {
    {"Source Values", "SourcePath", &frmWizard::txtSourcePath, "Source Path"},
    {"Source Values", "DestinationPath", &frmWizard::txtDestinationPath, "Destination Path"},
    {"Index Values", "IndexTemplate", &frmWizard::txtIndexTemplate, "Index Template"},
    {"Index Values", "IndexFileName", &frmWizard::txtIndexName, "Index Output File Name"},
    {"TOC Values", "TOCFileOutput", &frmWizard::txtTOCName, "TOC Output File Name"},
    {"TOC Values", "TOCTemplate", &frmWizard::txtTOCTemplate, "TOC Template"},
    {"TOC Values", "TOCCourseName", &frmWizard::txtCourseName, "Course Name"},
};

// The working folder is made when nothing of its name exists (one level: its parent must exist).
void ensureWorkingFolder(const QString& folder) {
    if (platform::pathExists(folder))
        return;
    QString error;
    if (!platform::makeFolder(folder, &error))
        oplog::LogOperation(kTag, "Cannot create the working directory \"" + folder + "\": " + error, true);
}

// The value of TOCTitleSource, in any letter case.
indexing::TOCTitleSource tocTitleSourceValue(const QString& value) {
    if (value.compare("rule", Qt::CaseInsensitive) == 0)
        return indexing::TOCTitleSource::Rule;
    return indexing::TOCTitleSource::RuleThenPlaceholder;
}

} // namespace

bool ReadPublishPDFsSetting() {
    return switchValue(read("Other Values", "PublishPDFs", "1"));
}

Settings ReadSettings() {
    Settings settings;
    settings.SourcePath = read("Source Values", "SourcePath", "C:\\Temp\\");
    settings.DestinationPath = read("Source Values", "DestinationPath", "C:\\Temp\\");
    settings.IndexTemplate = read("Index Values", "IndexTemplate",
                                  shippedTemplate("Index Template.docx", "C:\\Temp\\Index Template.docx"));
    settings.IndexFileName = read("Index Values", "IndexFileName", "00c_Index.docx");
    settings.TOCFileOutput = read("TOC Values", "TOCFileOutput", "00b_Toc.docx");
    settings.TOCTemplate = read("TOC Values", "TOCTemplate",
                                shippedTemplate("TOC Template.docx", "C:\\Temp\\Toc template.docx"));
    settings.TOCCourseName = read("TOC Values", "TOCCourseName", "");
    settings.WorkingDirectory = read("Other Values", "WorkingDirectory", "C:\\syllabo");
    ensureWorkingFolder(settings.WorkingDirectory);
    settings.PrintReadyZipFilename = read("Other Values", "PrintReadyZipFilename", "PrintReady.zip");
    settings.UseBackgroundPrinting = switchValue(read("Other Values", "UseBackgroundPrinting", "0"));
    settings.PublishPDFs = ReadPublishPDFsSetting();
    settings.TOCTitleSource =
        tocTitleSourceValue(read("Other Values", "TOCTitleSource", "rule then placeholder"));
    settings.IndexLanguage = read("Other Values", "IndexLanguage", "");
    settings.ArchivePDFs = switchValue(read("Other Values", "ArchivePDFs", "0"));
    return settings;
}

void LoadSettings(frmWizard& wizard) {
    const Settings settings = ReadSettings();
    wizard.txtSourcePath->setText(settings.SourcePath);
    wizard.txtDestinationPath->setText(settings.DestinationPath);
    wizard.txtIndexTemplate->setText(settings.IndexTemplate);
    wizard.txtIndexName->setText(settings.IndexFileName);
    wizard.txtTOCName->setText(settings.TOCFileOutput);
    wizard.txtTOCTemplate->setText(settings.TOCTemplate);
    wizard.txtCourseName->setText(settings.TOCCourseName);
    wizard.txtWorkingDirectory->setText(settings.WorkingDirectory);
    wizard.txtPrintReadyZipFilename->setText(settings.PrintReadyZipFilename);
    wizard.keepSettings(settings);
}

QString UnsavableField(const frmWizard& wizard) {
    for (const SavedField& saved : kSavedFields) {
        const QString problem = platform::profileValueProblem((wizard.*saved.field)->text());
        if (!problem.isEmpty())
            return QString("The %1 %2.").arg(saved.shownAs, problem);
    }
    return QString();
}

void SaveSettings(frmWizard& wizard) {
    for (const SavedField& saved : kSavedFields) {
        QString error;
        if (!platform::WritePrivateProfileString(saved.section, saved.key, (wizard.*saved.field)->text(),
                                                 kSettingsFile, &error))
            oplog::LogOperation(
                kTag, QString("Cannot save %1 in %2: %3").arg(saved.key, kSettingsFile, error), true);
    }
}

} // namespace lf::wizard
