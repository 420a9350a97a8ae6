#pragma once
// The settings file "Syllabo.ini": the wizard's paths, template locations and output names between
// runs, and a few options without a control (the working directory, the print-ready zip file name,
// the two printing switches, where the TOC takes slide titles). Every section and key name, and every
// default, is in settings.cpp: the rest of the program gets these values handed on, never reads the file
// itself. Page 2 reads PublishPDFs, page 3 loads the rest, page 4 saves the seven fields (unless its parts
// say not to, as the command-line runner does without --save-settings).
#include "indexing/toc_title_source.h"
#include "platform/switches.h"

#include <QString>

namespace lf::wizard {

class frmWizard;

inline const char* const kSettingsFile = "Syllabo.ini";

using platform::switchValue;

// What the settings file holds, each value as read (trimmed) or its default.
struct Settings {
    // [Source Values]
    QString SourcePath;
    QString DestinationPath;
    // [Index Values]
    QString IndexTemplate;
    QString IndexFileName;
    // [TOC Values]
    QString TOCFileOutput;
    QString TOCTemplate;
    QString TOCCourseName;
    // [Other Values]: options without a control, which only the user edits.
    QString WorkingDirectory;
    QString PrintReadyZipFilename;
    bool UseBackgroundPrinting = false; // the print-ready run prints the decks in the background
    bool PublishPDFs = true;            // PDFs by export rather than on the PDF printer
    // "rule" or "rule then placeholder" (missing or any other text: the latter).
    indexing::TOCTitleSource TOCTitleSource = indexing::TOCTitleSource::RuleThenPlaceholder;
    QString IndexLanguage;    // the Index's language, a BCP 47 tag; "" for the system's
    bool ArchivePDFs = false; // exported PDFs are PDF/A-2b, for archiving
};

// Every value of the file, and the working folder created when nothing of its name exists yet (a
// folder that cannot be made is logged under "Settings").
Settings ReadSettings();
// The one switch page 2 reads.
bool ReadPublishPDFsSetting();
// Fills the path and name fields (and the hidden working-directory and zip-name boxes) from the file,
// and keeps what the file says in the wizard's settings.
void LoadSettings(frmWizard& wizard);
// Why the seven path and name fields cannot be saved as typed (one holds a line break or another
// control character; any other text is kept, in UTF-8 where the code page cannot hold it), naming the
// field; empty when they can.
QString UnsavableField(const frmWizard& wizard);
// Writes the seven path and name fields back as typed.
void SaveSettings(frmWizard& wizard);

} // namespace lf::wizard
