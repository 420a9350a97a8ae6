#include "indexing/modTagwise.h"

#include "office/presentation/presentation.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace lf::indexing {

IndexEntry::IndexEntry() : Refs(std::make_unique<RefTable>()) {
    for (auto& row : *Refs)
        row.fill(0);
}

IndexEntry::IndexEntry(QString word) : IndexEntry() {
    setWord(word);
}

void IndexEntry::setWord(const QString& word) {
    Word = word;
    key_ = word.toCaseFolded();
}

bool IndexEntry::hasMarks() const {
    for (const auto& row : *Refs)
        for (std::int16_t cell : row)
            if (cell != 0)
                return true;
    return false;
}

void IndexEntry::mark(int moduleOrdinal, int slideNumber) {
    if (moduleOrdinal < 0 || moduleOrdinal > kLastModuleOrdinal)
        throw TagwiseError("module " + std::to_string(moduleOrdinal) +
                           " is beyond the entry table, which holds " + std::to_string(kLastModuleOrdinal) +
                           " modules (marking \"" + Word.toStdString() + "\")");
    if (slideNumber < 0 || slideNumber > kLastSlideNumber)
        throw TagwiseError("slide number " + std::to_string(slideNumber) +
                           " is beyond the entry table, which holds slides 0 to " +
                           std::to_string(kLastSlideNumber) + " (marking \"" + Word.toStdString() + "\")");
    (*Refs)[moduleOrdinal][slideNumber] = 1;
}

void EntryTable::clear() {
    ModuleCount = 0;
    ModuleNumbers.clear();
    IndexEntries.clear();
}

int EntryTable::addModule(const QString& moduleNumber) {
    if (ModuleCount == INT16_MAX)
        throw TagwiseError("too many decks for the entry table");
    ++ModuleCount;
    ModuleNumbers.push_back(moduleNumber);
    return ModuleCount;
}

IndexEntry& EntryTable::addEntry(const QString& word) {
    if (IndexEntries.size() >= static_cast<std::size_t>(INT16_MAX))
        throw TagwiseError("too many entries for the entry table");
    IndexEntries.emplace_back(word);
    return IndexEntries.back();
}

namespace {

// The two leading characters read as a number, as the conversion of a text to a number does:
// surrounding blanks, a sign, digits with an optional decimal point.
double leadingNumber(const QString& fileName) {
    const QString two = fileName.left(2);
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)\\s*$"));
    if (two.size() < 2 || !number.match(two).hasMatch())
        throw TagwiseError("the file name \"" + fileName.toStdString() +
                           "\" does not begin with a module number (type mismatch)");
    return two.trimmed().toDouble();
}

} // namespace

std::optional<QString> ModuleNumberOf(const QString& fileName) {
    const QString p = fileName.left(3);
    if (p.size() < 2)
        throw TagwiseError("the file name \"" + fileName.toStdString() +
                           "\" is too short to hold a module number");
    if (platform::ansiCode(p[0]) > 64 || platform::ansiCode(p[1]) > 64)
        return std::nullopt;
    const double value = std::floor(leadingNumber(fileName));
    const QString number = QString::number(static_cast<long long>(value));
    if (p.size() < 3 || p[2] == QLatin1Char('_'))
        return number;
    return number + p[2];
}

QString ModuleNumberFromFileName(const QString& fileName) {
    if (std::optional<QString> number = ModuleNumberOf(fileName))
        return *number;
    platform::messageBox(
        QStringLiteral("Wrong Name"),
        QStringLiteral("The current presentation: ") + fileName +
            QStringLiteral("\ndoes not use the correct naming covention\nand will be skipped."),
        platform::MessageIcon::Critical);
    return QString();
}

QString SlideTitleText(const ppt::Slide& slide) {
    for (const ppt::Shape& shape : slide.shapes()) {
        // A picture or a group on a title slide holds no text: it is not the title.
        if (!shape.hasTextFrame())
            continue;
        const QString text = QString::fromStdString(shape.textFrame().textRange().text());
        if (!IsModuleBanner(text))
            return text;
    }
    return QString();
}

bool IsModuleBanner(const QString& text) {
    return text.left(6) == QLatin1String("Module");
}

bool IsTitleRectangle(const ppt::Shape& shape) {
    return QString::fromStdString(shape.name()).left(9) == QLatin1String("Rectangle") &&
           shape.type() == ppt::office::msoAutoShape;
}

std::vector<QString> SlideTOCTitles(const ppt::Slide& slide) {
    std::vector<QString> titles;
    for (const ppt::Shape& shape : slide.shapes()) {
        if (!IsTitleRectangle(shape) || shape.top() >= kTOCTitleTop || !shape.hasTextFrame())
            continue;
        QString pendingTitle;
        bool found = false;
        for (const ppt::TextRange& sentence : shape.textFrame().textRange().sentences()) {
            if (sentence.font().bold() != ppt::office::msoFalse) {
                pendingTitle += QString::fromStdString(sentence.text());
                found = true;
            }
        }
        if (found)
            titles.push_back(CleanSlideText(pendingTitle));
    }
    return titles;
}

QString CleanSlideText(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (QChar c : text) {
        const char16_t code = c.unicode();
        if (code == 182 || code == 10 || code == 13)
            continue;
        result.append(code == 11 ? QChar(u' ') : c);
    }
    return result;
}

std::vector<TaggedWord> TaggedWordsOf(const ppt::Slide& slide) {
    std::vector<TaggedWord> words;
    for (const ppt::CustomXMLPart& part : slide.customerData()) {
        if (const std::optional<ppt::CustomXMLNode> node = part.selectSingleNode("descendant::indexword"))
            words.push_back({QString::fromStdString(node->text()), part});
    }
    return words;
}

QString TaggedWordProblem(const QString& word) {
    constexpr qsizetype kIndexColumn = 31; // the line length WrapReferenceList keeps to
    const QString cleaned = CleanSlideText(word);
    if (cleaned.trimmed().isEmpty())
        return QStringLiteral("the tagged word is empty");
    const QString quoted = QLatin1Char('"') + cleaned + QLatin1Char('"');
    for (QChar c : word) {
        if (c.unicode() == 10 || c.unicode() == 11 || c.unicode() == 13)
            return QStringLiteral("the tagged word ") + quoted + QStringLiteral(" holds a line break");
        if (c.category() == QChar::Other_Control || c.unicode() == 182)
            return QStringLiteral("the tagged word ") + quoted +
                   QStringLiteral(" holds a control character or a pilcrow");
    }
    if (cleaned != cleaned.trimmed())
        return QStringLiteral("the tagged word ") + quoted + QStringLiteral(" begins or ends with a blank");
    if (cleaned.contains(QLatin1Char(',')))
        return QStringLiteral("the tagged word ") + quoted +
               QStringLiteral(" holds a comma, where the Index breaks its reference lines");
    if (cleaned.size() >= kIndexColumn)
        return QStringLiteral("the tagged word ") + quoted + QStringLiteral(" is ") +
               QString::number(cleaned.size()) +
               QStringLiteral(" characters long, wider than the 31-character Index column");
    return QString();
}

bool MarkEntryReference(EntryTable& table, const QString& word, std::int16_t moduleOrdinal,
                        std::int16_t slideNumber) {
    if (table.EntryCount() < 1)
        return false;
    const QString key = word.toCaseFolded();
    bool matched = false;
    for (IndexEntry& entry : table.IndexEntries) {
        if (entry.key() == key) {
            entry.mark(moduleOrdinal, slideNumber);
            matched = true;
        }
    }
    return matched;
}

void SortIndexEntries(EntryTable& table) {
    auto& entries = table.IndexEntries;
    if (entries.size() < 2)
        return;
    const auto byWord = [](const IndexEntry& a, const IndexEntry& b) { return a.key() < b.key(); };
    // The Index re-sorts after every slide: the sorted part stays as it is and only the entries added
    // since are sorted and merged in.
    const auto sortedEnd = std::is_sorted_until(entries.begin(), entries.end(), byWord);
    if (sortedEnd == entries.end())
        return;
    std::stable_sort(sortedEnd, entries.end(), byWord);
    std::inplace_merge(entries.begin(), sortedEnd, entries.end(), byWord);
}

void WrapReferenceList(QString& line) {
    constexpr int kLineLength = 31;
    if (line.size() < kLineLength)
        return;
    const QStringList parts = line.split(QLatin1Char(','));
    QString result;
    qsizetype limit = kLineLength;
    for (const QString& part : parts) {
        if (result.size() < limit) {
            if (part.size() + result.size() < limit) {
                result += part + QLatin1Char(',');
            } else {
                if (!result.isEmpty())
                    result += QStringLiteral("\r\n");
                result += part + QLatin1Char(',');
                limit += kLineLength;
            }
        } else {
            result += QStringLiteral("\r\n") + part + QLatin1Char(',');
            limit += kLineLength;
        }
    }
    result.chop(1);
    line = result;
}

std::vector<QString> ReferencesOf(const EntryTable& table, const IndexEntry& entry) {
    std::vector<QString> refs;
    const int lastOrdinal = std::min<int>(table.ModuleCount, kLastModuleOrdinal);
    for (int m = 1; m <= lastOrdinal; ++m) {
        for (int s = 0; s <= kLastSlideNumber; ++s) {
            if (entry.isMarked(m, s))
                refs.push_back(table.moduleNumber(m) + QLatin1Char('-') + QString::number(s));
        }
    }
    return refs;
}

} // namespace lf::indexing
