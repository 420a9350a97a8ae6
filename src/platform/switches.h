#pragma once
// The program-wide printing switches of the settings file; both false until their key has been read
// once (the wizard reads them, see wizard/settings.h).
// UseBackgroundPrinting: the print-ready run prints the decks in the background.
// PublishPDFs: PDFs are made by export instead of on the PDF printer; the wizard then hides the PDF
// printer list and does not show the PDF printer warning.
#include <QString>

namespace lf::platform {

extern bool UseBackgroundPrinting;
extern bool PublishPDFs;

// A switch value as a number: 0 is false, any other number true. A value that does not start with a
// number (a word, or nothing) counts as 0; a number followed by other text counts as that number.
bool switchValue(const QString& value);

} // namespace lf::platform
