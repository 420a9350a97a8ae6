#pragma once
// Where the TOC takes a slide's title from, as the setting TOCTitleSource in the settings file says.

namespace lf::indexing {

enum class TOCTitleSource {
    // Only the title rectangles of the house template (SlideTOCTitles).
    Rule,
    // The title rectangles; on a slide where they give no title, the slide's own title placeholder.
    // Decks made from other templates carry their titles there.
    RuleThenPlaceholder,
};

} // namespace lf::indexing
