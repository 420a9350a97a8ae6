#pragma once
// The settings file "Syllabo.ini": the wizard's paths, template locations and output names between
// runs, and a few options without a control (the working directory, the print-ready zip file name,
// the two printing switches). Page 2 reads PublishPDFs, page 3 loads the fields, page 4 saves them.
#include "platform/switches.h"

#include <QString>

namespace lf::wizard {

class frmWizard;

inline const char* const kSettingsFile = "Syllabo.ini";

// The printing switches live in platform/switches.h, so that the print-ready run can read them.
using platform::PublishPDFs;
using platform::switchValue;
using platform::UseBackgroundPrinting;

void ReadPublishPDFsSetting();
// Fills the path and name fields (and the hidden working-directory and zip-name boxes) and
// UseBackgroundPrinting from the file, and creates the working folder when it does not exist.
void LoadSettings(frmWizard& wizard);
// Writes the seven path and name fields back as typed.
void SaveSettings(frmWizard& wizard);

} // namespace lf::wizard
