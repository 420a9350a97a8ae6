#include "indexing/IndexCollation.h"

#include <QLocale>

#include <unicode/alphaindex.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

#include <optional>
#include <string>

namespace lf::indexing {

namespace {

// Enough letters for a language and the scripts of the words it is given (the library's default of 99
// would merge the letters of a third script into ranges).
constexpr std::int32_t kMostLetters = 1000;
// The scripts one language is written in: Japanese has three.
constexpr int kMostScripts = 8;

icu::UnicodeString unicodeOf(const QString& text) {
    return icu::UnicodeString(reinterpret_cast<const UChar*>(text.utf16()),
                              static_cast<int32_t>(text.size()));
}

QString qstringOf(const icu::UnicodeString& text) {
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

// The locale of a BCP 47 tag that names a language the library knows; nothing for any other text
// ("en_US", "xx", "und").
std::optional<icu::Locale> localeOf(const QString& tag) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale = icu::Locale::forLanguageTag(tag.toStdString(), status);
    if (U_FAILURE(status) || locale.isBogus() || *locale.getISO3Language() == '\0')
        return std::nullopt;
    return locale;
}

QString tagOf(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    const std::string tag = locale.toLanguageTag<std::string>(status);
    return U_FAILURE(status) ? QString::fromLatin1(locale.getName()) : QString::fromStdString(tag);
}

// The system's language; a system without one (the "C" or "POSIX" locale) counts as English.
QString systemLanguage() {
    const QLocale system = QLocale::system();
    return system.language() == QLocale::C ? QStringLiteral("en") : system.bcp47Name();
}

bool hasNoScript(UScriptCode script) {
    return script == USCRIPT_COMMON || script == USCRIPT_INHERITED || script == USCRIPT_UNKNOWN ||
           script == USCRIPT_INVALID_CODE;
}

} // namespace

struct IndexCollation::Letters {
    std::unique_ptr<icu::AlphabeticIndex> index;
    // The index as built after the last script was added.
    std::unique_ptr<icu::AlphabeticIndex::ImmutableIndex> lookup;
};

IndexCollation::IndexCollation(const QString& languageTag) {
    std::optional<icu::Locale> locale;
    if (!languageTag.isEmpty())
        locale = localeOf(languageTag);
    const bool settingFollowed = locale || languageTag.isEmpty();
    if (!locale)
        locale = localeOf(systemLanguage());
    if (!locale)
        locale = icu::Locale::getEnglish();
    if (!settingFollowed)
        problem_ =
            QStringLiteral("The setting IndexLanguage \"") + languageTag +
            QStringLiteral("\" names no language (a tag such as de, sv-SE or ja): the Index follows the "
                           "system's language, ") +
            tagOf(*locale);

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(*locale, status));
    auto letters = std::make_unique<Letters>();
    letters->index = std::make_unique<icu::AlphabeticIndex>(*locale, status);
    letters->index->setMaxLabelCount(kMostLetters, status);
    if (U_SUCCESS(status))
        letters->lookup.reset(letters->index->buildImmutableIndex(status));
    if (U_FAILURE(status) || !collator || !letters->lookup) {
        problem_ = QStringLiteral("The library has no collation for the language ") + tagOf(*locale) +
                   QStringLiteral(" (") + QString::fromLatin1(u_errorName(status)) +
                   QStringLiteral("): the Index is in code-point order");
        return;
    }
    language_ = tagOf(*locale);
    collator_ = std::move(collator);
    letters_ = std::move(letters);

    // The scripts the language is written in (Japanese: kana and Han).
    UScriptCode codes[kMostScripts];
    UErrorCode scriptStatus = U_ZERO_ERROR;
    const int count = uscript_getCode(locale->getName(), codes, kMostScripts, &scriptStatus);
    for (int i = 0; U_SUCCESS(scriptStatus) && i < count; ++i)
        scripts_[codes[i]] = true;
}

IndexCollation IndexCollation::codePointOrder() {
    return IndexCollation();
}

IndexCollation::IndexCollation(IndexCollation&&) noexcept = default;
IndexCollation& IndexCollation::operator=(IndexCollation&&) noexcept = default;
IndexCollation::~IndexCollation() = default;

QByteArray IndexCollation::sortKey(const QString& foldedWord) const {
    if (!collator_)
        return QByteArray();
    const auto* text = reinterpret_cast<const UChar*>(foldedWord.utf16());
    const auto length = static_cast<int32_t>(foldedWord.size());
    QByteArray key(64, Qt::Uninitialized);
    // The length returned counts the key's closing zero byte.
    int32_t size = collator_->getSortKey(text, length, reinterpret_cast<uint8_t*>(key.data()),
                                         static_cast<int32_t>(key.size()));
    if (size > key.size()) {
        key.resize(size);
        size = collator_->getSortKey(text, length, reinterpret_cast<uint8_t*>(key.data()), size);
    }
    key.resize(size > 0 ? size - 1 : 0);
    return key;
}

int IndexCollation::scriptOf(const QString& word) const {
    for (const char32_t c : word.toUcs4()) {
        UErrorCode status = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(static_cast<UChar32>(c), &status);
        if (U_SUCCESS(status) && !hasNoScript(script))
            return script;
    }
    return -1;
}

void IndexCollation::addLettersOfScript(int script) {
    scripts_[script] = false;
    // The language the script is most likely written in: Russian for Cyrillic, Greek for Greek.
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale likely = icu::Locale::forLanguageTag(
        std::string("und-") + uscript_getShortName(static_cast<UScriptCode>(script)), status);
    likely.addLikelySubtags(status);
    if (U_FAILURE(status))
        return;
    letters_->index->addLabels(likely, status);
    std::unique_ptr<icu::AlphabeticIndex::ImmutableIndex> rebuilt(
        letters_->index->buildImmutableIndex(status));
    if (U_SUCCESS(status) && rebuilt)
        letters_->lookup = std::move(rebuilt);
}

QString IndexCollation::heading(const QString& line) {
    if (!collator_)
        return line.left(1).toUpper();
    const QString first = line.left(line.size() > 1 && line[0].isHighSurrogate() ? 2 : 1);
    const QList<uint> codes = first.toUcs4();
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script =
        codes.isEmpty() ? USCRIPT_COMMON : uscript_getScript(static_cast<UChar32>(codes[0]), &status);
    if (U_FAILURE(status) || hasNoScript(script))
        return first.toUpper();
    if (!scripts_.count(script))
        addLettersOfScript(script);
    const icu::AlphabeticIndex::ImmutableIndex& lookup = *letters_->lookup;
    const std::int32_t number = lookup.getBucketIndex(unicodeOf(line), status);
    const icu::AlphabeticIndex::Bucket* bucket = U_SUCCESS(status) ? lookup.getBucket(number) : nullptr;
    // A letter before the language's first one (a modifier letter) is headed as a symbol is.
    if (!bucket || bucket->getLabelType() == U_ALPHAINDEX_UNDERFLOW)
        return first.toUpper();
    return qstringOf(bucket->getLabel());
}

QString IndexCollation::unindexedScript(const QString& word) const {
    if (!collator_)
        return QString();
    // Latin words run through courses in every script and get the letters A to Z before the
    // language's own: the check does not name each English word of a Japanese course.
    const int script = scriptOf(word);
    if (script < 0 || script == USCRIPT_LATIN)
        return QString();
    const auto known = scripts_.find(script);
    if (known != scripts_.end() && known->second)
        return QString();
    return QString::fromLatin1(uscript_getName(static_cast<UScriptCode>(script)));
}

} // namespace lf::indexing
