// The font check reads every text a real deck or document prints, wherever its program put it (tables,
// groups, notes pages, headers and footers): a text it missed would print its boxes unwarned.
#include "deck_builder.h"
#include "office/document/word.h"
#include "office/fonts/glyph_coverage.h"
#include "office/presentation/presentation.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace lf::test {
namespace {

namespace fs = std::filesystem;

// The texts of the XML's run elements (a:t, w:t), entities resolved; a second reader, a regular
// expression over the stored parts, against the object model's.
std::vector<std::string> runTexts(const std::string& xml, const std::string& element) {
    std::vector<std::string> texts;
    const std::regex run("<" + element + "(?: [^>]*)?>([^<]+)</" + element + ">");
    for (auto m = std::sregex_iterator(xml.begin(), xml.end(), run); m != std::sregex_iterator(); ++m) {
        std::string text = (*m)[1];
        for (const auto& [entity, character] : std::vector<std::pair<std::string, std::string>>{
                 {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}})
            for (std::size_t at = 0; (at = text.find(entity, at)) != std::string::npos;
                 at += character.size())
                text.replace(at, entity.size(), character);
        texts.push_back(text);
    }
    return texts;
}

// Every run text of the file's printed parts is in the text the check read; returns how many there were.
int expectEveryRunRead(const fs::path& file, const std::string& text, const std::regex& printedParts,
                       const std::string& runElement) {
    int runs = 0;
    for (const auto& [name, xml] : readZip(file)) {
        if (!std::regex_match(name, printedParts))
            continue;
        // What an office that reads the choice of an alternate content never shows.
        const std::string shown =
            std::regex_replace(xml, std::regex("<mc:Fallback[ >].*?</mc:Fallback>"), "");
        for (const std::string& run : runTexts(shown, runElement)) {
            EXPECT_NE(text.find(run), std::string::npos) << name << ": " << run;
            ++runs;
        }
    }
    return runs;
}

TEST(FontCheck, ReadsEveryPrintedTextOfRealDecks) {
    const std::regex printed(R"(ppt/(slides/slide|notesSlides/notesSlide)\d+\.xml)");
    int runs = 0;
    for (const fs::path& file : corpusFiles("pptx")) {
        SCOPED_TRACE(file.filename().string());
        ppt::Application office;
        runs += expectEveryRunRead(file, fonts::deckText(office.presentations().open(file, true)), printed,
                                   "a:t");
    }
    EXPECT_GT(runs, 500) << "the corpus's decks hold text in tables, groups and notes";
}

TEST(FontCheck, ReadsEveryPrintedTextOfRealDocuments) {
    const std::regex printed(R"(word/(document|header\d*|footer\d*)\.xml)");
    int runs = 0;
    for (const fs::path& file : corpusFiles("docx")) {
        SCOPED_TRACE(file.filename().string());
        word::Application office;
        runs += expectEveryRunRead(file, fonts::documentText(office.documents().open(file)), printed, "w:t");
    }
    EXPECT_GT(runs, 100) << "the corpus's documents hold text in tables, headers and footers";
}

// A Japanese deck from another program prints every character with the fonts install-deps brings.
TEST(FontCheck, TheInstalledFontsHaveEveryCharacterOfAJapaneseDeck) {
    ppt::Application office;
    const ppt::Presentation deck =
        office.presentations().open(corpusDir() / "pptx/poi-with_japanese.pptx", true);
    const std::string text = fonts::deckText(deck);
    ASSERT_NE(text.find("\xe3\x81"), std::string::npos) << "the deck holds kana";
    const fonts::MissingGlyphs missing = fonts::missingGlyphs(text);
    EXPECT_TRUE(missing.empty()) << (missing.empty() ? "" : missing.scripts.front().name);
}

} // namespace
} // namespace lf::test
