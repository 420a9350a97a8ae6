#include "wizard/settings.h"

#include "platform/files.h"
#include "platform/oplog.h"
#include "platform/profile.h"
#include "wizard/frmWizard.h"

#include <QLineEdit>

namespace lf::wizard {

namespace {

const char* const kTag = "Settings";

QString read(const char* section, const char* key, const char* defaultValue) {
    return platform::GetPrivateProfileString(section, key, defaultValue, kSettingsFile);
}

void write(const char* section, const char* key, const QLineEdit* field) {
    QString error;
    if (!platform::WritePrivateProfileString(section, key, field->text(), kSettingsFile, &error))
        oplog::LogOperation(kTag, QString("Cannot save %1 in %2: %3").arg(key, kSettingsFile, error), true);
}

// The working folder is made when nothing of its name exists (one level: its parent must exist).
void ensureWorkingFolder(const QString& folder) {
    if (platform::pathExists(folder))
        return;
    QString error;
    if (!platform::makeFolder(folder, &error))
        oplog::LogOperation(kTag, "Cannot create the working directory \"" + folder + "\": " + error, true);
}

} // namespace

void ReadPublishPDFsSetting() {
    PublishPDFs = switchValue(read("Other Values", "PublishPDFs", "1"));
}

void LoadSettings(frmWizard& wizard) {
    wizard.txtSourcePath->setText(read("Source Values", "SourcePath", "C:\\Temp\\"));
    wizard.txtDestinationPath->setText(read("Source Values", "DestinationPath", "C:\\Temp\\"));
    wizard.txtIndexTemplate->setText(read("Index Values", "IndexTemplate", "C:\\Temp\\Index Template.docx"));
    wizard.txtIndexName->setText(read("Index Values", "IndexFileName", "00c_Index.docx"));
    wizard.txtTOCName->setText(read("TOC Values", "TOCFileOutput", "00b_Toc.docx"));
    wizard.txtTOCTemplate->setText(read("TOC Values", "TOCTemplate", "C:\\Temp\\Toc template.docx"));
    wizard.txtCourseName->setText(read("TOC Values", "TOCCourseName", ""));
    wizard.txtWorkingDirectory->setText(read("Other Values", "WorkingDirectory", "C:\\syllabo"));
    ensureWorkingFolder(wizard.txtWorkingDirectory->text());
    wizard.txtPrintReadyZipFilename->setText(read("Other Values", "PrintReadyZipFilename", "PrintReady.zip"));
    UseBackgroundPrinting = switchValue(read("Other Values", "UseBackgroundPrinting", "0"));
}

void SaveSettings(frmWizard& wizard) {
    write("Source Values", "SourcePath", wizard.txtSourcePath);
    write("Source Values", "DestinationPath", wizard.txtDestinationPath);
    write("Index Values", "IndexTemplate", wizard.txtIndexTemplate);
    write("Index Values", "IndexFileName", wizard.txtIndexName);
    write("TOC Values", "TOCFileOutput", wizard.txtTOCName);
    write("TOC Values", "TOCTemplate", wizard.txtTOCTemplate);
    write("TOC Values", "TOCCourseName", wizard.txtCourseName);
}

} // namespace lf::wizard
