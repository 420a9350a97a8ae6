// The Index in the course's language: real tagged decks indexed with the setting IndexLanguage, the
// written document read back with its headings; and an English Index of ASCII words compared byte for
// byte with the one the Index wrote while it sorted by code point.
#include "indexing/CollectIndex.h"
#include "indexing/IndexCollation.h"
#include "indexing_fixture.h"

using namespace lf::test;
using lf::indexing::CollectIndex;

namespace {

const QString kTemplate = "C:\\Templates\\Template.docx";

// One titled slide per entry, tagged with its words.
std::vector<SlideSpec> slides(const std::vector<std::vector<std::string>>& words) {
    std::vector<SlideSpec> out;
    for (std::size_t n = 0; n < words.size(); ++n)
        out.push_back(titledSlide("Slide " + std::to_string(n + 1), words[n]));
    return out;
}

class IndexLanguage : public IndexingOperation {
protected:
    // The non-empty paragraphs of the Index of the course in the language, each heading marked "# ".
    std::vector<std::string> indexOf(const QString& course, const QString& language) {
        const QString name = "Index " + language + ".docx";
        CollectIndex(kTemplate, name, course, "C:\\Out", "Course", "C:\\syllabo", true, language);
        EXPECT_TRUE(logged("Index - Indexing Complete")) << allLines();
        std::vector<std::string> texts;
        for (const WrittenParagraph& p : readParagraphs(host("C:\\Out\\" + name)))
            if (!p.text.empty())
                texts.push_back((p.bold ? "# " : "") + p.text);
        return texts;
    }
};

TEST_F(IndexLanguage, EachLanguageSortsAndHeadsItsWordsItsOwnWay) {
    // German: umlauts beside their letters, ß as ss; a Russian word under the Russian letter, after Z;
    // "Äpfel" and "äpfel" one entry as ever.
    deck("C:\\German", "01_Obst.pptx",
         slides({{"zucker", "Äpfel"},
                 {"Apfel", "ärger"},
                 {"Über", "Ofen"},
                 {"ölig", "Straße"},
                 {"Stau", "3D-Druck"},
                 {"äpfel", "Москва"}}));
    EXPECT_EQ(indexOf("C:\\German", "de"),
              (std::vector<std::string>{"# 3", "3D-Druck, 1-5", "# A", "Apfel, 1-2", "Äpfel, 1-1, 1-6",
                                        "ärger, 1-2", "# O", "Ofen, 1-3", "ölig, 1-4", "# S", "Stau, 1-5",
                                        "Straße, 1-4", "# U", "Über, 1-3", "# Z", "zucker, 1-1", "# М",
                                        "Москва, 1-6"}));

    // Swedish: Å, Ä and Ö are letters of their own after Z; ü is read as y.
    deck("C:\\Swedish", "01_Ord.pptx",
         slides(
             {{"zucker", "Ångström"}, {"Äpple", "Öl"}, {"apa", "Ärlig"}, {"yxa", "Åsa"}, {"ödla", "Über"}}));
    EXPECT_EQ(indexOf("C:\\Swedish", "sv-SE"),
              (std::vector<std::string>{"# A", "apa, 1-3", "# Y", "Über, 1-5", "yxa, 1-4", "# Z",
                                        "zucker, 1-1", "# Å", "Ångström, 1-1", "Åsa, 1-4", "# Ä",
                                        "Äpple, 1-2", "Ärlig, 1-3", "# Ö", "ödla, 1-5", "Öl, 1-2"}));

    // French: accents second to the letters, œ as oe.
    deck(
        "C:\\French", "01_Mots.pptx",
        slides({{"élève", "Eau"}, {"côte", "cote"}, {"coté", "cœur"}, {"Zèbre", "Œuvre"}, {"éclair", "ça"}}));
    EXPECT_EQ(indexOf("C:\\French", "fr"),
              (std::vector<std::string>{"# C", "ça, 1-5", "cœur, 1-3", "cote, 1-2", "coté, 1-3", "côte, 1-2",
                                        "# E", "Eau, 1-1", "éclair, 1-5", "élève, 1-1", "# O", "Œuvre, 1-4",
                                        "# Z", "Zèbre, 1-4"}));

    // Japanese: hiragana and katakana together in the rows of the kana; Latin words under Latin
    // letters before them, digits first.
    deck("C:\\Japanese", "01_Kotoba.pptx",
         slides({{"さくら", "カメラ"}, {"あめ", "きつね"}, {"ラーメン", "apple"}, {"3D", "かさ"}}));
    EXPECT_EQ(indexOf("C:\\Japanese", "ja"),
              (std::vector<std::string>{"# 3", "3D, 1-4", "# A", "apple, 1-3", "# あ", "あめ, 1-2", "# か",
                                        "かさ, 1-4", "カメラ, 1-1", "きつね, 1-2", "# さ", "さくら, 1-1",
                                        "# ら", "ラーメン, 1-3"}));
    EXPECT_TRUE(log.errors.isEmpty());
}

// The Index of an English course of ASCII words is the document the Index wrote when it sorted by code
// point and headed groups by the upper-cased first character: data/english_index.docx was written then
// from this course, and every part of the package is compared byte for byte.
TEST_F(IndexLanguage, AnEnglishIndexOfAsciiWordsIsTheDocumentWrittenBefore) {
    std::vector<std::vector<std::string>> first = {
        {"apple", "Zebra"},      {"Banana", "bandwidth"}, {"Cache", "email"},  {"e-mail", "data center"},
        {"database", "3D view"}, {"Quota", "yield"},      {"Xenon", "mirror"}, {"Mirror", "apple"}};
    for (int n = 0; n < 14; ++n)
        first.push_back({"backup", n % 2 ? "Volume" : "volume"});
    deck("C:\\Courses\\English", "01_Intro.pptx", slides(first));
    deck("C:\\Courses\\English", "02_Storage.pptx",
         slides({{"cache", "Kernel"},
                 {"journal", "inode"},
                 {"host", "gateway"},
                 {"fabric", "LUN"},
                 {"node", "object"},
                 {"parity", "RAID"},
                 {"snapshot", "tier"},
                 {"unit", "WAN"}}));

    CollectIndex(kTemplate, "Index.docx", "C:\\Courses\\English", "C:\\Out", "Storage Basics", "C:\\syllabo",
                 true, "en");
    ASSERT_TRUE(logged("Index - Indexing Complete")) << allLines();
    const auto written = readZip(host("C:\\Out\\Index.docx"));
    const auto before =
        readZip(std::filesystem::path(LF_SOURCE_DIR) / "tests/indexing/data/english_index.docx");
    ASSERT_FALSE(before.empty());
    std::vector<std::string> writtenParts, beforeParts;
    for (const auto& [name, bytes] : written)
        writtenParts.push_back(name);
    for (const auto& [name, bytes] : before)
        beforeParts.push_back(name);
    EXPECT_EQ(writtenParts, beforeParts);
    for (const auto& [name, bytes] : before) {
        const auto part = written.find(name);
        ASSERT_NE(part, written.end()) << name;
        EXPECT_TRUE(part->second == bytes) << name << " differs:\n" << part->second;
    }
}

} // namespace

namespace {

// The check warns only about words the language has no letters for: Latin words are at home in a
// Japanese Index (its A to Z come before the kana), kanji too; Cyrillic is not in a German one.
TEST(IndexLanguageScripts, OnlyWordsOfAScriptTheLanguageHasNoLettersForAreNamed) {
    const lf::indexing::IndexCollation japanese(QStringLiteral("ja"));
    EXPECT_EQ(japanese.unindexedScript(QStringLiteral("apple")), QString());
    EXPECT_EQ(japanese.unindexedScript(QStringLiteral("日本語")), QString());
    EXPECT_EQ(japanese.unindexedScript(QStringLiteral("カメラ")), QString());
    const lf::indexing::IndexCollation german(QStringLiteral("de"));
    EXPECT_EQ(german.unindexedScript(QStringLiteral("Москва")), QStringLiteral("Cyrillic"));
    EXPECT_EQ(german.unindexedScript(QStringLiteral("3D-Druck")), QString());
}

} // namespace
