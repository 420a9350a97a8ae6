#include "platform/profile.h"

#include "platform/codepage.h"
#include "platform/folders.h"
#include "platform/replace_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

namespace lf::platform {
namespace {

struct ProfileText {
    QStringList lines;
    QString newline = "\r\n";
    bool exists = false;
    bool utf8 = false; // the file starts with a UTF-8 byte-order mark
};

const char kUtf8Mark[] = "\xEF\xBB\xBF";

ProfileText readProfile(const QString& path) {
    ProfileText text;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return text;
    text.exists = true;
    const QByteArray bytes = file.readAll();
    text.utf8 = bytes.startsWith(kUtf8Mark);
    const QString all = text.utf8 ? QString::fromUtf8(bytes.mid(3)) : fromWindows1252(bytes);
    if (!all.contains("\r\n") && all.contains('\n'))
        text.newline = "\n";
    QString normalised = all;
    normalised.replace("\r\n", "\n");
    text.lines = normalised.split('\n');
    // A final newline leaves one empty element that is not a line of its own.
    if (!text.lines.isEmpty() && text.lines.last().isEmpty())
        text.lines.removeLast();
    return text;
}

// The section name of a "[name]" line, or nullopt when the line is not a section header.
std::optional<QString> sectionName(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    return (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
}

bool isComment(const QString& line) {
    const QString t = line.trimmed();
    return t.startsWith(';') || t.startsWith('#');
}

struct KeyLine {
    QString key;
    QString value;
};

std::optional<KeyLine> keyLine(const QString& line) {
    if (isComment(line) || line.trimmed().isEmpty() || sectionName(line))
        return std::nullopt;
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return KeyLine{line.trimmed(), QString()};
    return KeyLine{line.left(eq).trimmed(), line.mid(eq + 1).trimmed()};
}

QString unquote(const QString& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

// Index of the first header line of the section, or -1.
qsizetype findSection(const QStringList& lines, const QString& section) {
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (auto name = sectionName(lines[i]); name && name->compare(section, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// One past the last line that belongs to the section starting at header.
qsizetype sectionEnd(const QStringList& lines, qsizetype header) {
    qsizetype i = header + 1;
    while (i < lines.size() && !sectionName(lines[i]))
        ++i;
    return i;
}

// A control character other than a tab, which is a blank like any other.
bool isControl(QChar c) {
    return (c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7F;
}

QString nameProblem(const QString& section, const QString& key) {
    if (section.contains(QLatin1Char(']')) || key.contains(QLatin1Char('=')) || key.trimmed().isEmpty())
        return QStringLiteral("the section or key name cannot be written: [%1] %2").arg(section, key);
    const QString problem = profileValueProblem(section + key);
    return problem.isEmpty() ? QString() : "the section or key name " + problem;
}

} // namespace

QString profileValueProblem(const QString& value) {
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            return QStringLiteral("holds a line break; a setting is one line");
        if (isControl(c))
            return "holds a control character (U+" +
                   QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')) + ")";
        // Half of a surrogate pair alone is no character: it has no UTF-8 form either.
        if (c.isSurrogate()) {
            const bool pair = c.isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate();
            if (!pair)
                return QStringLiteral("holds half of a character (a lone surrogate)");
            ++i;
        }
    }
    return QString();
}

QString profileFilePath(const QString& fileName) {
    if (fileName.contains('/'))
        return fileName;
    return configFolder() + "/" + fileName;
}

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                const QString& fileName) {
    const ProfileText text = readProfile(profileFilePath(fileName));
    const qsizetype header = findSection(text.lines, section);
    if (header < 0)
        return defaultValue;
    const qsizetype end = sectionEnd(text.lines, header);
    for (qsizetype i = header + 1; i < end; ++i)
        if (auto kv = keyLine(text.lines[i]); kv && kv->key.compare(key, Qt::CaseInsensitive) == 0)
            return unquote(kv->value);
    return defaultValue;
}

QList<QPair<QString, QString>> GetPrivateProfileSection(const QString& section, const QString& fileName) {
    QList<QPair<QString, QString>> entries;
    const ProfileText text = readProfile(profileFilePath(fileName));
    const qsizetype header = findSection(text.lines, section);
    if (header < 0)
        return entries;
    const qsizetype end = sectionEnd(text.lines, header);
    for (qsizetype i = header + 1; i < end; ++i)
        if (auto kv = keyLine(text.lines[i]))
            entries.append({kv->key, unquote(kv->value)});
    return entries;
}

namespace {

bool writeProfileString(const QString& section, const QString& key, const QString& value,
                        const QString& fileName, QString* error, bool ownerOnly) {
    // A value that would not read back as written never reaches the file: a line break in it would
    // add lines of its own (a section, a working directory) that every later run would read.
    QString problem = nameProblem(section, key);
    if (problem.isEmpty()) {
        const QString valueProblem = profileValueProblem(value);
        if (!valueProblem.isEmpty())
            problem = "the value of " + key + " " + valueProblem;
    }
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    const QString path = profileFilePath(fileName);
    ProfileText text = readProfile(path);
    const qsizetype header = findSection(text.lines, section);
    if (header < 0) {
        if (!text.lines.isEmpty() && !text.lines.last().trimmed().isEmpty())
            text.lines.append(QString());
        text.lines.append("[" + section + "]");
        text.lines.append(key + "=" + value);
    } else {
        const qsizetype end = sectionEnd(text.lines, header);
        bool replaced = false;
        for (qsizetype i = header + 1; i < end && !replaced; ++i) {
            if (auto kv = keyLine(text.lines[i]); kv && kv->key.compare(key, Qt::CaseInsensitive) == 0) {
                text.lines[i] = kv->key + "=" + value;
                replaced = true;
            }
        }
        if (!replaced) {
            // After the section's last non-blank line, so the blank line before the next section stays.
            qsizetype at = end;
            while (at > header + 1 && text.lines[at - 1].trimmed().isEmpty())
                --at;
            text.lines.insert(at, key + "=" + value);
        }
    }

    QDir().mkpath(QFileInfo(path).absolutePath());
    // The settings file is replaced whole and durably: a crash leaves the old file or the new one.
    ReplaceOptions options;
    options.durability = Durability::FileAndFolder;
    options.newMode = ownerOnly ? NewMode::Exact : NewMode::Kept;
    options.mode = ownerOnly ? 0600 : options.mode;
    options.followLink = true; // a settings file kept elsewhere through a link stays there
    FileReplacement file(std::filesystem::path(path.toStdString()), options);
    // The file stays in the ANSI code page, which every other reader of it expects, while it can hold
    // every line; from the first line it cannot hold, the whole file is UTF-8 behind a byte-order mark
    // (and stays so).
    const QString all = text.lines.join(text.newline) + text.newline;
    const bool utf8 = text.utf8 || !fitsWindows1252(all);
    const QByteArray bytes = utf8 ? QByteArray(kUtf8Mark) + all.toUtf8() : toWindows1252(all);
    if (!file.ok() ||
        !file.write(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))) ||
        !file.commit()) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(file.error()));
        return false;
    }
    return true;
}

} // namespace

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName, QString* error) {
    return writeProfileString(section, key, value, fileName, error, false);
}

bool writeOwnerOnlyProfileString(const QString& section, const QString& key, const QString& value,
                                 const QString& fileName, QString* error) {
    return writeProfileString(section, key, value, fileName, error, true);
}

} // namespace lf::platform
