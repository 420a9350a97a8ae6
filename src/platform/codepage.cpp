#include "platform/codepage.h"

namespace lf::platform {
namespace {

// 0x80..0x9F of Windows-1252; 0 marks the five codes the code page leaves undefined, which
// decode to the C1 control of the same value (as Windows' MultiByteToWideChar does).
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

QString fromWindows1252(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0)
            text.append(QChar(kHigh[b - 0x80]));
        else
            text.append(QChar(static_cast<char16_t>(b)));
    }
    return text;
}

int ansiCode(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == u && u != 0)
            return 0x80 + i;
    if (u >= 0x80 && u <= 0x9F && kHigh[u - 0x80] == 0)
        return u;
    return '?';
}

bool fitsWindows1252(const QString& text) {
    for (QChar c : text)
        if (c != QLatin1Char('?') && ansiCode(c) == '?')
            return false;
    return true;
}

QByteArray toWindows1252(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text)
        bytes.append(static_cast<char>(ansiCode(c)));
    return bytes;
}

} // namespace lf::platform
