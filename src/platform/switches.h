#pragma once
// How the settings file's switches read (UseBackgroundPrinting, PublishPDFs, ArchivePDFs): as numbers.
#include <QString>

namespace lf::platform {

// A switch value as a number: 0 is false, any other number true. A value that does not start with a
// number (a word, or nothing) counts as 0; a number followed by other text counts as that number.
bool switchValue(const QString& value);

} // namespace lf::platform
