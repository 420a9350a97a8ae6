#include "indexing/modTagwise.h"

#include "indexing/IndexCollation.h"
#include "office/presentation/presentation.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace lf::indexing {

IndexEntry::IndexEntry(QString word) {
    setWord(word);
}

void IndexEntry::setWord(const QString& word) {
    Word = word;
    key_ = word.toCaseFolded();
    sortKey_.clear();
}

bool IndexEntry::isMarked(int moduleOrdinal, int slideNumber) const {
    return std::binary_search(marks_.begin(), marks_.end(), Mark{moduleOrdinal, slideNumber});
}

void IndexEntry::mark(int moduleOrdinal, int slideNumber) {
    if (moduleOrdinal < 0)
        throw TagwiseError("module " + std::to_string(moduleOrdinal) + " cannot be marked (marking \"" +
                           Word.toStdString() + "\")");
    if (slideNumber < 0)
        throw TagwiseError("slide number " + std::to_string(slideNumber) + " cannot be marked (marking \"" +
                           Word.toStdString() + "\")");
    const Mark mark{moduleOrdinal, slideNumber};
    // Decks and slides are read in order: a new mark nearly always goes at the end.
    if (marks_.empty() || marks_.back() < mark) {
        marks_.push_back(mark);
        return;
    }
    const auto at = std::lower_bound(marks_.begin(), marks_.end(), mark);
    if (*at != mark)
        marks_.insert(at, mark);
}

void EntryTable::clear() {
    ModuleCount = 0;
    ModuleNumbers.clear();
    IndexEntries.clear();
    forgetPositions();
}

int EntryTable::addModule(const QString& moduleNumber) {
    ++ModuleCount;
    ModuleNumbers.push_back(moduleNumber);
    return ModuleCount;
}

IndexEntry& EntryTable::addEntry(const QString& word) {
    IndexEntries.emplace_back(word);
    return IndexEntries.back();
}

const std::vector<std::size_t>* EntryTable::entriesWithKey(const QString& key) {
    if (keyed_ > IndexEntries.size())
        forgetPositions();
    for (; keyed_ < IndexEntries.size(); ++keyed_)
        byKey_[IndexEntries[keyed_].key()].push_back(keyed_);
    const auto found = byKey_.constFind(key);
    return found == byKey_.cend() ? nullptr : &*found;
}

void EntryTable::forgetPositions() {
    byKey_.clear();
    keyed_ = 0;
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

std::vector<QString> SlideTOCTitles(const ppt::Slide& slide, TOCTitleSource source) {
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
    if (titles.empty() && source == TOCTitleSource::RuleThenPlaceholder) {
        QString placeholderTitle = TitlePlaceholderText(slide);
        if (!placeholderTitle.isEmpty())
            titles.push_back(std::move(placeholderTitle));
    }
    return titles;
}

QString TitlePlaceholderText(const ppt::Slide& slide) {
    const ppt::Shapes shapes = slide.shapes();
    if (!shapes.hasTitle())
        return QString();
    // A title placeholder stored as a picture or a frame holds no text.
    const ppt::Shape placeholder = shapes.title();
    if (!placeholder.hasTextFrame())
        return QString();
    const QString title = CleanSlideText(QString::fromStdString(placeholder.textFrame().textRange().text()));
    return title.trimmed().isEmpty() ? QString() : title;
}

QString ModuleHeadingTitle(const ppt::Slides& slides, TOCTitleSource source) {
    if (slides.count() == 0)
        return QString();
    const ppt::Slide first = slides.item(1);
    const QString title = CleanSlideText(SlideTitleText(first));
    if (!title.isEmpty() || source == TOCTitleSource::Rule)
        return title;
    return TitlePlaceholderText(first);
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

namespace {

// "U+200B".
QString codePointName(char32_t c) {
    return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
}

// Code points that are no character of text: U+FDD0 to U+FDEF and the last two of every plane.
bool isNoncharacter(char32_t c) {
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

// Characters that show nothing by themselves, though they are not blanks or format characters: the
// Hangul fillers, the combining grapheme joiner, the variation selectors, the Mongolian free variation
// selectors, the Khmer inherent vowels, the Braille blank.
bool isIgnorable(char32_t c) {
    return c == 0x034F || c == 0x115F || c == 0x1160 || c == 0x17B4 || c == 0x17B5 ||
           (c >= 0x180B && c <= 0x180F) || c == 0x2800 || c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) ||
           c == 0xFFA0 || (c >= 0xE0100 && c <= 0xE01EF);
}

bool isVisible(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return !isIgnorable(c);
    }
}

} // namespace

QString TaggedWordProblem(const QString& word) {
    constexpr qsizetype kIndexColumn = 31; // the line length WrapReferenceList keeps to
    const QString cleaned = CleanSlideText(word);
    if (cleaned.trimmed().isEmpty())
        return QStringLiteral("the tagged word is empty");
    const QString quoted = QLatin1Char('"') + cleaned + QLatin1Char('"');
    bool visible = false;
    QStringList invisible;
    for (qsizetype i = 0; i < word.size(); ++i) {
        char32_t c = word[i].unicode();
        if (word[i].isHighSurrogate() && i + 1 < word.size() && word[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(word[i], word[i + 1]);
            ++i;
        } else if (word[i].isSurrogate())
            return QStringLiteral("the tagged word holds ") + codePointName(c) +
                   QStringLiteral(", half of a character, which XML cannot hold");
        if (isNoncharacter(c))
            return QStringLiteral("the tagged word holds ") + codePointName(c) +
                   QStringLiteral(", which is not a character of text (a noncharacter)");
        if (c == 10 || c == 11 || c == 13 || c == 0x2028 || c == 0x2029)
            return QStringLiteral("the tagged word ") + quoted + QStringLiteral(" holds a line break");
        if (QChar::category(c) == QChar::Other_Control || c == 182)
            return QStringLiteral("the tagged word ") + quoted +
                   QStringLiteral(" holds a control character or a pilcrow");
        if (isVisible(c))
            visible = true;
        else if (invisible.size() < 4)
            invisible << codePointName(c);
    }
    // A word of format characters, blanks and fillers only shows as nothing in the Index.
    if (!visible)
        return QStringLiteral("the tagged word has no visible character (it holds ") +
               invisible.join(QStringLiteral(", ")) + QStringLiteral(")");
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

bool MarkEntryReference(EntryTable& table, const QString& word, int moduleOrdinal, int slideNumber) {
    if (table.EntryCount() < 1)
        return false;
    const std::vector<std::size_t>* positions = table.entriesWithKey(word.toCaseFolded());
    if (!positions)
        return false;
    for (std::size_t i : *positions)
        table.IndexEntries[i].mark(moduleOrdinal, slideNumber);
    return true;
}

void SortIndexEntries(EntryTable& table, const IndexCollation& collation) {
    auto& entries = table.IndexEntries;
    if (entries.size() < 2)
        return;
    // Each entry's key is made once, when it first takes part in a sort.
    if (!collation.inCodePointOrder()) {
        for (IndexEntry& entry : entries)
            if (entry.sortKey().isEmpty())
                entry.setSortKey(collation.sortKey(entry.key()));
    }
    const auto byWord = [](const IndexEntry& a, const IndexEntry& b) {
        const int order = a.sortKey().compare(b.sortKey());
        return order != 0 ? order < 0 : a.key() < b.key();
    };
    // A table sorted before keeps its sorted part as it is: only the entries added since are sorted and
    // merged in.
    const auto sortedEnd = std::is_sorted_until(entries.begin(), entries.end(), byWord);
    if (sortedEnd == entries.end())
        return;
    std::stable_sort(sortedEnd, entries.end(), byWord);
    std::inplace_merge(entries.begin(), sortedEnd, entries.end(), byWord);
    table.forgetPositions();
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
    refs.reserve(entry.marks().size());
    for (const Mark& mark : entry.marks()) {
        // Ordinal 0 and ordinals of no deck name no module.
        if (mark.moduleOrdinal < 1 || mark.moduleOrdinal > table.ModuleCount)
            continue;
        refs.push_back(table.moduleNumber(mark.moduleOrdinal) + QLatin1Char('-') +
                       QString::number(mark.slideNumber));
    }
    return refs;
}

} // namespace lf::indexing
