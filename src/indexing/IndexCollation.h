#pragma once
// The order and the headings of the Index in the course's language: the language's collation orders the
// case-folded words (German "Äpfel" beside "Apfel", Swedish "Ångström" after "zucker"), and its
// alphabetic index names the groups (German Ä under A; Swedish Å, Ä and Ö as letters after Z; Japanese
// kana rows あ, か, さ). Made once per Index from the setting IndexLanguage and handed to the sort and the
// writer.
#include <QByteArray>
#include <QString>

#include <unicode/uversion.h>

#include <map>
#include <memory>

U_NAMESPACE_BEGIN
class Collator;
U_NAMESPACE_END

namespace lf::indexing {

class IndexCollation {
public:
    // The collation of a BCP 47 language tag ("de", "sv-SE", "ja"). Empty: the system's language ("C"
    // and "POSIX" count as English). A tag that names no language falls back to the system's language,
    // and problem() says so.
    explicit IndexCollation(const QString& languageTag);
    // The case-folded words in code-point order, headed by their upper-cased first character: the
    // Index of the days before it followed a language, and what it falls back to when the library has
    // no collation for the language.
    static IndexCollation codePointOrder();

    IndexCollation(IndexCollation&&) noexcept;
    IndexCollation& operator=(IndexCollation&&) noexcept;
    ~IndexCollation();

    // The language followed, as a tag ("de", "en"); empty in code-point order.
    const QString& language() const { return language_; }
    // Why the setting is not followed as given, "" when it is.
    const QString& problem() const { return problem_; }
    bool inCodePointOrder() const { return !collator_; }

    // The key a case-folded word sorts by, compared byte by byte; empty in code-point order.
    QByteArray sortKey(const QString& foldedWord) const;

    // The heading of the group an Index line stands in: the language's index letter of its first
    // letter; for a line that begins with a digit, a punctuation mark or a symbol, that character
    // upper-cased. The words of a script the language does not index are given the letters of that
    // script's own language (Cyrillic ones those of Russian) rather than one group for them all.
    QString heading(const QString& line);

    // The name of the script of the word's first letter ("Cyrillic") when the language does not index
    // that script; "" when it does or the word holds no letter. Latin always counts as indexed: its
    // letters A to Z come before every language's own.
    QString unindexedScript(const QString& word) const;

private:
    IndexCollation() = default;
    int scriptOf(const QString& word) const; // of the first character that has one; -1 for none
    void addLettersOfScript(int script);

    QString language_;
    QString problem_;
    std::unique_ptr<icu::Collator> collator_;
    struct Letters; // the language's alphabetic index, with the letters of the scripts added
    std::unique_ptr<Letters> letters_;
    std::map<int, bool> scripts_; // script code -> the language indexes it
};

} // namespace lf::indexing
