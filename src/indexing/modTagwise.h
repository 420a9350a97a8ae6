#pragma once
// The course file naming convention, the entry table of the TOC and the Index, and the small routines
// that read slide text, mark, sort and wrap entries.
//
// The entry table (each collection fills its own and hands it to its writer): ModuleCount decks accepted by
// the current collection (a deck's module ordinal is its 1-based position among them),
// ModuleNumbers(1..ModuleCount) their module number texts, and IndexEntries(1..EntryCount), each a word (an
// index word, a slide title or a module heading) with its marks: the (module ordinal, slide number) pairs
// where it occurs, as many modules and slides as the course has.
#include "indexing/toc_title_source.h"
#include "office/presentation/presentation.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <compare>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace lf::indexing {

class IndexCollation;

// Raised by the routines of this module; the collections turn it into their closing log line.
class TagwiseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a word occurs: slide slideNumber of the deck with module ordinal moduleOrdinal.
struct Mark {
    int moduleOrdinal = 0;
    int slideNumber = 0;
    friend auto operator<=>(const Mark&, const Mark&) = default;
};

struct IndexEntry {
    IndexEntry() = default;
    explicit IndexEntry(QString word);

    QString Word;

    bool isMarked(int moduleOrdinal, int slideNumber) const;
    bool hasMarks() const { return !marks_.empty(); }
    // The marks in module ordinal order, and in slide number order within a module, each once.
    const std::vector<Mark>& marks() const { return marks_; }
    // Adds the mark (a mark the entry has stays single); a negative ordinal or slide number fails with a
    // TagwiseError that says which.
    void mark(int moduleOrdinal, int slideNumber);
    // The word as compared: case-folded, kept in step with Word by setWord.
    const QString& key() const { return key_; }
    // The key the Index sorts by in its language, made from key() once by the sort (empty until then,
    // and in code-point order).
    const QByteArray& sortKey() const { return sortKey_; }
    void setSortKey(QByteArray key) { sortKey_ = std::move(key); }

private:
    void setWord(const QString& word);

    QString key_;
    QByteArray sortKey_;
    std::vector<Mark> marks_;
};

// The entry table. Ordinals and entry numbers are 1-based as the routines use them.
struct EntryTable {
    int ModuleCount = 0;
    std::vector<QString> ModuleNumbers;   // element n-1 holds module ordinal n
    std::vector<IndexEntry> IndexEntries; // element i-1 holds entry i

    int EntryCount() const { return static_cast<int>(IndexEntries.size()); }
    // Empties both counts and both arrays, as each collection does at its start.
    void clear();
    // Accepts one more deck; returns its module ordinal.
    int addModule(const QString& moduleNumber);
    // Appends an entry with the word and no marks; returns it.
    IndexEntry& addEntry(const QString& word);
    // The module number text of an ordinal (1-based).
    const QString& moduleNumber(int ordinal) const {
        return ModuleNumbers.at(static_cast<std::size_t>(ordinal - 1));
    }
    // The entries whose key() is key, by position in IndexEntries, ascending. Entries appended since the
    // last look-up are taken in; a sort that moved entries (SortIndexEntries) starts the lookup afresh.
    const std::vector<std::size_t>* entriesWithKey(const QString& key);
    void forgetPositions();

private:
    QHash<QString, std::vector<std::size_t>> byKey_;
    std::size_t keyed_ = 0; // IndexEntries[0, keyed_) are in byKey_
};

// The module number text of a deck file name ("03_Overview.pptx" gives "3", "07b_Lab.pptx" "7b"), or
// "" after the "Wrong Name" box when the name breaks the convention. A name whose first two characters
// do not read as a number fails with a TagwiseError.
QString ModuleNumberFromFileName(const QString& fileName);
// The same without the box: nothing when the name breaks the convention.
std::optional<QString> ModuleNumberOf(const QString& fileName);

// The first shape text of the slide that does not begin with "Module"; shapes that cannot hold text
// (pictures, groups, tables) are passed over.
QString SlideTitleText(const ppt::Slide& slide);

// One tagged word of a slide: the text of the first "indexword" element, at any depth, of one of the
// custom XML parts of its customer data, as stored (not cleaned), with the part that holds it.
struct TaggedWord {
    QString text;
    ppt::CustomXMLPart part;
};
// The tagged words of the slide in customer-data order. Parts without an "indexword" element belong
// to other add-ins and are passed over.
std::vector<TaggedWord> TaggedWordsOf(const ppt::Slide& slide);

// Why a tagged word would read badly in the Index, or "" when it reads well: empty once cleaned,
// blanks at either end, line breaks or other control characters (cleaning drops or changes them), a
// noncharacter (U+FFFE, U+FFFF, U+FDD0 to U+FDEF, the last two of every plane) or a half surrogate
// pair (its custom XML part would not be XML that other programs read), no visible character at all
// (only blanks, format characters such as U+200B or U+202E, and fillers), a comma (the reference list
// is broken into lines at commas), or 31 characters or more (its line is wider than the Index column
// and cannot be wrapped).
QString TaggedWordProblem(const QString& word);

// A shape text that is a module banner ("Module 2: Storage"): it begins with "Module" (case-sensitive).
bool IsModuleBanner(const QString& text);

// The shapes the TOC takes titles from: auto shapes named "Rectangle..." less than kTOCTitleTop
// points from the top of the slide.
inline constexpr double kTOCTitleTop = 52;
bool IsTitleRectangle(const ppt::Shape& shape); // the name and the type, wherever the shape stands
// The titles the TOC takes from the slide, one per title shape that holds bold text: its bold
// sentences, fully or partly bold, joined and cleaned. With RuleThenPlaceholder, a slide without such a
// title gives the text of its title placeholder instead (TitlePlaceholderText), when it has one.
std::vector<QString> SlideTOCTitles(const ppt::Slide& slide, TOCTitleSource source);
// The cleaned text of the slide's own title placeholder (a title or a centred title); "" when the slide
// has none, or it holds no text of its own (the prompt its layout shows is not the slide's title), or
// only blanks.
QString TitlePlaceholderText(const ppt::Slide& slide);
// The title of a deck's module heading: the first slide's SlideTitleText, cleaned; with
// RuleThenPlaceholder, when that is empty, the first slide's TitlePlaceholderText. "" for a deck
// without slides.
QString ModuleHeadingTitle(const ppt::Slides& slides, TOCTitleSource source);

// Pilcrows, line feeds and carriage returns dropped; code 11 line breaks become one blank.
QString CleanSlideText(const QString& text);

// Marks every entry of the table whose word equals word without regard to case; true when any matched.
bool MarkEntryReference(EntryTable& table, const QString& word, int moduleOrdinal, int slideNumber);

// Sorts the entries by word without regard to case in the collation's order (ties, which only words
// that the language counts as equal make, in code-point order), moving words and marks together.
void SortIndexEntries(EntryTable& table, const IndexCollation& collation);

// Breaks a long "word, 1-2, 1-3" line into lines of about 31 characters (CR LF between them).
void WrapReferenceList(QString& line);

// Names, one per mark, as the writers give them: module number text + "-" + slide number ("3a-7"),
// for every mark of module ordinal 1 to ModuleCount, in the order of marks().
std::vector<QString> ReferencesOf(const EntryTable& table, const IndexEntry& entry);

} // namespace lf::indexing
