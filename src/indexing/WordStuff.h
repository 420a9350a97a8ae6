#pragma once
// The Word routines of the document writers and the program-wide Word application they share: made on
// first use, kept for the whole run, quit when the wizard closes (quitDocumentWriter).
#include "office/document/word.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace lf::indexing {

// The program-wide Word application, started when there is none yet.
word::Application& documentWriter();
bool documentWriterStarted();
// Quits the program-wide Word application when it was started; does nothing otherwise.
void quitDocumentWriter();

// A new document based on the template (a local Windows-style path), or nothing after logging
// "There was a problem opening template" + path under "OpenTOC". Logs "Opening template " + path under
// "OpenDoc" first.
std::optional<word::Document> OpenWordTemplate(const QString& templatePath);

// Deletes the whole main text (headers stay).
void ClearDocument(word::Document& document);

// Appends a paragraph and formats it: text, style and font name only when not empty, font size only
// when not 0, italic and bold always, the alignment when 0 or more (0 left, 1 centred). Returns the
// range of the new paragraph. The document engine's word::appendParagraph (compose.h) does the work,
// the same sequence the lessonforge-doc tool and the benchmark run.
word::Range AppendParagraph(word::Document& document, const QString& text, const QString& styleName,
                            const QString& fontName, std::int16_t fontSize, bool italic, bool bold,
                            std::int32_t alignment);

// Replaces "Course Name" (case and whole words matched) in the primary header of the first section.
void ReplaceCourseName(word::Document& document, const QString& courseName);

} // namespace lf::indexing
