#pragma once
// Windows-1252, the ANSI code page of the settings files and of the naming-convention test.
#include <QByteArray>
#include <QString>

namespace lf::platform {

QString fromWindows1252(const QByteArray& bytes);
// Characters outside the code page become "?", as the ANSI functions do.
QByteArray toWindows1252(const QString& text);
// The code of one character in the ANSI code page; characters outside it count as 63 ("?").
int ansiCode(QChar c);
// Whether every character of text has a code of its own in the code page.
bool fitsWindows1252(const QString& text);

} // namespace lf::platform
