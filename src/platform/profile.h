#pragma once
// The private-profile functions over INI files, as the Windows ANSI functions behave:
// sections and keys are found without regard to case and the first match wins; a missing file,
// section or key gives the default; writing replaces a key's value in place or appends the key to
// its section (or a new section at the end of the file) and keeps every other line and comment.
// A bare file name ("Syllabo.ini") lives in the configuration folder, the stand-in for the Windows
// directory; a host path (holding "/") is used as it is. Text is Windows-1252, the ANSI code page, as
// long as every line fits in it; a file starting with a UTF-8 byte-order mark is UTF-8, and writing a
// line the code page cannot hold makes the whole file so. Values are read whole: there is no buffer
// that cuts them.
#include <QList>
#include <QPair>
#include <QString>

namespace lf::platform {

// The file a profile name stands for on the host.
QString profileFilePath(const QString& fileName);

// The value of key in section, trimmed of blanks and of one pair of enclosing quotes; the default
// when the file, the section or the key is missing.
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                const QString& fileName);

// Every key=value of the first section of that name, in file order; empty when none.
QList<QPair<QString, QString>> GetPrivateProfileSection(const QString& section, const QString& fileName);

// Why value cannot be a value of the settings file: it holds a line break or another control
// character (it would end the line and start a line of its own, a section or a key the user never
// wrote), or half of a surrogate pair (no character at all). Any other text is kept as typed.
// Empty when the value can be written and read back as it is.
QString profileValueProblem(const QString& value);

// Writes key=value into section, creating the file and the section when they do not exist.
// The file is never left half-written: the new text goes to a temporary file in the same folder,
// which then replaces the old one. Returns false (with the reason in *error) when it cannot write,
// or when the section, key or value could not be read back as written (profileValueProblem; a
// section holding "]", a key holding "="): then the file is not touched.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName, QString* error = nullptr);

// WritePrivateProfileString for a file that is its owner's alone (it names servers and their
// users): the file is written 0600 whatever the umask, and one with wider permissions is narrowed
// as it is replaced.
bool writeOwnerOnlyProfileString(const QString& section, const QString& key, const QString& value,
                                 const QString& fileName, QString* error = nullptr);

} // namespace lf::platform
