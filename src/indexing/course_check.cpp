#include "indexing/course_check.h"

#include "indexing/IndexCollation.h"
#include "indexing/document_storage.h"
#include "indexing/modTagwise.h"
#include "indexing/operation_support.h"
#include "office/document/word.h"
#include "office/presentation/presentation.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/private_folder.h"
#include "repository/connection.h"
#include "repository/repository_ops.h"

#include <QHash>

#include <exception>
#include <map>
#include <optional>
#include <system_error>

namespace lf::indexing {

QString ProblemLine(const CourseProblem& problem) {
    QString line = platform::shownName(problem.file);
    if (problem.slide > 0)
        line += QStringLiteral(": slide ") + QString::number(problem.slide);
    const QString what = platform::shownName(problem.what);
    return line.isEmpty() ? what : line + QStringLiteral(": ") + what;
}

namespace {

QString text(const std::exception& e) {
    return platform::withLocalPaths(QString::fromStdString(e.what()));
}

class Problems {
public:
    void add(const QString& file, int slide, const QString& what) { list_.push_back({file, slide, what}); }
    void add(const QString& file, const QString& what) { add(file, 0, what); }
    std::vector<CourseProblem> take() { return std::move(list_); }

private:
    std::vector<CourseProblem> list_;
};

// The engines' descriptions begin with the file they read ("<file>: <what>"); for a deck read from a
// private copy that name means nothing to the user, who is told the course's own name instead.
QString reason(const std::exception& e, const QString& hostFile) {
    QString why = platform::decodeHostName(QByteArray(e.what()));
    const QString prefix = hostFile + QStringLiteral(": ");
    if (why.startsWith(prefix))
        why.remove(0, prefix.size());
    return platform::withLocalPaths(why);
}

// The decks of the course as the collections stage them (and the documents the print-ready run
// prints): their names in listing order, the name each goes by in the course, and the host folder
// they are read from.
struct CourseDecks {
    QStringList names;
    QStringList documents;
    QString hostFolder;
    QString shownFolder;
    QString separator;
    QString shown(const QString& name) const { return shownFolder + separator + name; }
};

std::optional<CourseDecks> localDecks(const QString& source, bool withDocuments, Problems& problems) {
    if (!platform::folderExists(source)) {
        problems.add(source, QStringLiteral("The source path does not exist"));
        return std::nullopt;
    }
    CourseDecks decks;
    decks.names =
        platform::Dir(platform::joinPath(source, QStringLiteral("*.pptx")), platform::EntryKind::Files);
    if (withDocuments)
        decks.documents =
            platform::Dir(platform::joinPath(source, QStringLiteral("*.docx")), platform::EntryKind::Files);
    decks.hostFolder = platform::fromHostFsPath(hostFile(source));
    decks.shownFolder = source;
    decks.separator = QStringLiteral("\\");
    return decks;
}

// A repository course: the decks an export would write, copied into the private folder.
std::optional<CourseDecks> repositoryDecks(const QString& source, bool withDocuments,
                                           const QString& copyFolder, Problems& problems) {
    repository::SessionUse use;
    const QString folderId = repository::folderIdText(source);
    if (folderId.isEmpty()) {
        problems.add(source, QStringLiteral("there is no folder at this path in the repository"));
        return std::nullopt;
    }
    CourseDecks decks;
    decks.hostFolder = copyFolder;
    decks.shownFolder = source;
    decks.separator = QStringLiteral("/");
    const std::int16_t selector =
        withDocuments ? repository::kExportDecksAndDocuments : repository::kExportDecks;
    for (const repository::ExportItem& item : repository::ExportItems(folderId, selector)) {
        const QString& name = item.localName;
        const bool deck = platform::wildcardMatch(name, QStringLiteral("*.pptx"));
        if (name.startsWith(QLatin1Char('.')) ||
            (!deck && !platform::wildcardMatch(name, QStringLiteral("*.docx"))))
            continue;
        if (decks.names.contains(name) || decks.documents.contains(name)) {
            problems.add(decks.shown(name),
                         QStringLiteral("two documents of the folder and its subfolders are exported under "
                                        "this name: one would replace the other"));
            continue;
        }
        item.object->getFile((copyFolder + QLatin1Char('/') + name).toStdString());
        (deck ? decks.names : decks.documents).append(name);
    }
    platform::sortInListingOrder(decks.names);
    platform::sortInListingOrder(decks.documents);
    return decks;
}

// Names that the program's paths cannot tell apart: every pair, not just the first.
void checkLetterCase(const CourseDecks& decks, Problems& problems) {
    for (qsizetype i = 1; i < decks.names.size(); ++i) {
        const QString& before = decks.names[i - 1];
        const QString& name = decks.names[i];
        if (platform::compareNtfsNames(before, name) == 0 && before != name)
            problems.add(decks.shown(name), QStringLiteral("its name differs only in letter case from ") +
                                                before +
                                                QStringLiteral(": one would replace the other; rename one"));
    }
}

// Why the title rule takes no title from the slide.
QString noRuleTitle(const ppt::Slide& slide) {
    bool banner = false, otherText = false;
    for (const ppt::Shape& shape : slide.shapes()) {
        if (!shape.hasTextFrame())
            continue;
        const QString name = QString::fromStdString(shape.name());
        const QString shapeText = QString::fromStdString(shape.textFrame().textRange().text());
        if (IsTitleRectangle(shape)) {
            if (shape.top() < kTOCTitleTop && !shapeText.isEmpty())
                return QStringLiteral("the title shape \"") + name + QStringLiteral("\" has no bold text");
            if (shape.top() >= kTOCTitleTop && !shapeText.isEmpty() &&
                shape.textFrame().textRange().font().bold() != ppt::office::msoFalse)
                return QStringLiteral("the title shape \"") + name + QStringLiteral("\" is ") +
                       QString::number(shape.top()) +
                       QStringLiteral(" points from the top, the TOC takes titles less than 52 points "
                                      "from the top");
        }
        if (shapeText.isEmpty())
            continue;
        (IsModuleBanner(shapeText) ? banner : otherText) = true;
    }
    if (banner && !otherText)
        return QStringLiteral("only a \"Module\" banner, no title shape");
    return QStringLiteral("no title shape (an auto shape named \"Rectangle...\" less than 52 points from "
                          "the top, with bold text)");
}

// Why the slide's title placeholder gives no title (TitlePlaceholderText is empty).
QString noPlaceholderTitle(const ppt::Slide& slide) {
    const ppt::Shapes shapes = slide.shapes();
    if (!shapes.hasTitle())
        return QStringLiteral("no title placeholder");
    const ppt::Shape placeholder = shapes.title();
    const QString start = QStringLiteral("the title placeholder \"") +
                          QString::fromStdString(placeholder.name()) + QStringLiteral("\" ");
    if (placeholder.hasTextFrame() && !placeholder.textFrame().textRange().text().empty())
        return start + QStringLiteral("holds only blanks");
    return start + QStringLiteral("holds no text of its own");
}

// The reason above, and the title placeholder's when the TOC falls back on it.
QString noTitle(const QString& ruleReason, const ppt::Slide& slide, TOCTitleSource source) {
    if (source == TOCTitleSource::Rule)
        return ruleReason;
    return ruleReason + QStringLiteral(", and ") + noPlaceholderTitle(slide);
}

void checkHeading(const ppt::Slides& slides, TOCTitleSource source, const QString& file, Problems& problems) {
    if (slides.count() == 0) {
        problems.add(file, QStringLiteral("the deck has no slides: its module heading has no title"));
        return;
    }
    if (!ModuleHeadingTitle(slides, source).isEmpty())
        return;
    const ppt::Slide first = slides.item(1);
    bool banner = false;
    for (const ppt::Shape& shape : first.shapes())
        banner = banner || (shape.hasTextFrame() &&
                            IsModuleBanner(QString::fromStdString(shape.textFrame().textRange().text())));
    const QString why =
        banner ? QStringLiteral("only a \"Module\" banner") : QStringLiteral("no text before any other");
    problems.add(file, first.slideNumber(),
                 noTitle(why, first, source) + QStringLiteral(": the module heading has no title"));
}

// A word of a script the Index's language has no letters for stands apart from the language's words.
QString scriptProblem(const IndexCollation& collation, const QString& word) {
    const QString script = collation.unindexedScript(word);
    if (script.isEmpty())
        return QString();
    return QStringLiteral("the tagged word \"") + word + QStringLiteral("\" is written in ") + script +
           QStringLiteral(", which the Index's language (") + collation.language() +
           QStringLiteral(") does not index: it is grouped apart from the language's words");
}

// collation: the Index's, when the Index is chosen.
void checkDeck(const CourseCheck& check, const IndexCollation* collation, ppt::Presentation& deck,
               const QString& file, Problems& problems) {
    const ppt::Slides slides = deck.slides();
    if (check.toc)
        checkHeading(slides, check.tocTitleSource, file, problems);
    for (const ppt::Slide& slide : slides) {
        const int number = slide.slideNumber();
        bool marked = false;
        if (check.toc) {
            const std::vector<QString> titles = SlideTOCTitles(slide, check.tocTitleSource);
            if (titles.empty())
                problems.add(file, number,
                             noTitle(noRuleTitle(slide), slide, check.tocTitleSource) +
                                 QStringLiteral(": the TOC leaves the slide out"));
            marked = !titles.empty();
        }
        if (collation) {
            try {
                for (const TaggedWord& word : TaggedWordsOf(slide)) {
                    marked = true;
                    QString problem = TaggedWordProblem(word.text);
                    if (problem.isEmpty())
                        problem = scriptProblem(*collation, CleanSlideText(word.text));
                    if (!problem.isEmpty())
                        problems.add(file, number, problem);
                }
            } catch (const std::exception& e) {
                problems.add(file, number, QStringLiteral("its tagged words cannot be read: ") + text(e));
            }
        }
        if (marked && number < 0)
            problems.add(
                file, number,
                QStringLiteral("a negative slide number, which the TOC and the Index cannot refer to"));
    }
}

void checkDecks(const CourseCheck& check, const IndexCollation* collation, const CourseDecks& decks,
                Problems& problems) {
    const bool collections = check.index || check.toc;
    if (collections)
        checkLetterCase(decks, problems);
    QHash<QString, QString> moduleNumbers; // case-folded number -> the first deck that has it
    ppt::Application application;
    for (const QString& name : decks.names) {
        const QString file = decks.shown(name);
        if (collections) {
            try {
                if (const std::optional<QString> number = ModuleNumberOf(name)) {
                    const QString key = number->toCaseFolded();
                    // Names that differ only in letter case were reported as such.
                    if (moduleNumbers.contains(key) &&
                        platform::compareNtfsNames(moduleNumbers.value(key), name) != 0)
                        problems.add(file, QStringLiteral("module number ") + *number +
                                               QStringLiteral(" is used by ") + moduleNumbers.value(key) +
                                               QStringLiteral(" too: their references would read alike"));
                    else
                        moduleNumbers.insert(key, name);
                } else {
                    problems.add(file,
                                 QStringLiteral("Wrong Name: does not use the correct naming covention (a "
                                                "deck's name begins with its two-digit module number, "
                                                "an optional letter and \"_\", as 03_Overview.pptx)"));
                }
            } catch (const std::exception& e) {
                problems.add(file, QStringLiteral("Wrong Name: ") + text(e));
            }
        }
        const QString host = decks.hostFolder + QLatin1Char('/') + name;
        try {
            ppt::Presentation deck = application.presentations().open(platform::hostFsPath(host), true);
            try {
                checkDeck(check, collation, deck, file, problems);
            } catch (const std::exception& e) {
                problems.add(file, QStringLiteral("cannot be read: ") + reason(e, host));
            }
            deck.close();
        } catch (const std::exception& e) {
            problems.add(file, QStringLiteral("cannot be opened: ") + reason(e, host));
        }
    }
}

// The documents the print-ready run prints must open in the document engine.
void checkDocuments(const CourseDecks& decks, Problems& problems) {
    word::Application word;
    for (const QString& name : decks.documents) {
        const QString host = decks.hostFolder + QLatin1Char('/') + name;
        try {
            word.documents().open(platform::hostFsPath(host)).close();
        } catch (const std::exception& e) {
            problems.add(decks.shown(name), QStringLiteral("cannot be opened: ") + reason(e, host));
        }
    }
}

// The template of one writer, or of both when they share it, with the styles they write in.
void checkTemplate(const QString& path, const QStringList& styles, const QString& copyFolder,
                   Problems& problems) {
    QString host;
    if (platform::isRepositoryPath(path)) {
        try {
            host = copyFolder + QLatin1Char('/') + CopyRepositoryTemplate(path, copyFolder);
        } catch (const std::exception& e) {
            problems.add(path, text(e));
            return;
        }
    } else {
        const platform::HostPath mapped = platform::toHostPath(path);
        if (!mapped.ok() || !platform::fileExists(path)) {
            problems.add(path, QStringLiteral("the template does not exist"));
            return;
        }
        host = mapped.path;
    }
    word::Application word;
    std::optional<word::Document> document = word.documents().add(platform::hostFsPath(host));
    if (!document) {
        QString why = QString::fromStdString(word.documents().lastError());
        if (why.startsWith(host + QStringLiteral(": ")))
            why.remove(0, host.size() + 2);
        problems.add(path, QStringLiteral("the template cannot be opened: ") + why);
        return;
    }
    word::FindOptions options;
    options.matchCase = true;
    options.matchWholeWord = true;
    if (!document->sections()
             .item(1)
             .headers()
             .item(word::office::wdHeaderFooterPrimary)
             .range()
             .find()
             .execute("Course Name", options))
        problems.add(path, QStringLiteral("the header of its first section holds no \"Course Name\" for the "
                                          "course name"));
    for (const QString& style : styles)
        if (!document->hasStyle(style.toStdString()))
            problems.add(path, QStringLiteral("it has no \"") + style +
                                   QStringLiteral("\" style: the document would take the built-in one"));
    document->close();
}

void checkDestination(const QString& destination, Problems& problems) {
    if (destination.isEmpty()) {
        problems.add(QString(), QStringLiteral("the destination is not given"));
    } else if (platform::isRepositoryPath(destination)) {
        repository::SessionUse use;
        if (repository::folderIdText(destination).isEmpty())
            problems.add(destination, QStringLiteral("there is no folder at this path in the repository"));
    } else if (!platform::folderExists(destination)) {
        problems.add(destination, QStringLiteral("the destination folder does not exist"));
    }
}

void checkDocumentName(bool chosen, const QString& name, const char* document, Problems& problems) {
    if (!chosen)
        return;
    try {
        RequireDocumentName(name, document);
    } catch (const std::exception& e) {
        problems.add(QString(), text(e));
    }
}

} // namespace

std::vector<CourseProblem> CheckCourse(const CourseCheck& check) {
    Problems problems;
    checkDestination(check.destinationPath, problems);
    checkDocumentName(check.toc, check.tocName, "TOC", problems);
    checkDocumentName(check.index, check.indexName, "Index", problems);
    std::optional<IndexCollation> collation;
    if (check.index) {
        collation.emplace(check.indexLanguage);
        if (!collation->problem().isEmpty())
            problems.add(QString(), collation->problem());
    }

    std::optional<platform::PrivateFolder> folder;
    try {
        folder.emplace("lessonforge-check");
    } catch (const std::system_error& e) {
        throw std::runtime_error(std::string("no private folder for the check: ") + e.what());
    }
    const QString copies = QString::fromStdString(folder->path().string());
    try {
        std::optional<CourseDecks> decks;
        if (check.sourcePath.isEmpty())
            problems.add(QString(), QStringLiteral("the source path is not given"));
        else if (platform::isRepositoryPath(check.sourcePath))
            decks = repositoryDecks(check.sourcePath, check.printReady, copies, problems);
        else
            decks = localDecks(check.sourcePath, check.printReady, problems);
        // The zip packs the files as they are; every other operation opens the decks.
        const bool opensDecks = check.grayscale || check.index || check.toc || check.printReady;
        if (decks && opensDecks) {
            checkDecks(check, collation ? &*collation : nullptr, *decks, problems);
            checkDocuments(*decks, problems);
        }
    } catch (const std::exception& e) {
        problems.add(check.sourcePath, QStringLiteral("the course cannot be read: ") + text(e));
    }

    // The templates, each once, with the styles of every writer that uses it.
    std::map<QString, QStringList> templates;
    std::vector<QString> order;
    auto use = [&](bool chosen, const QString& path, const char* document, const QStringList& styles) {
        if (!chosen)
            return;
        if (path.isEmpty()) {
            problems.add(QString(), QStringLiteral("the ") + QLatin1String(document) +
                                        QStringLiteral(" template is not given"));
            return;
        }
        if (!templates.count(path))
            order.push_back(path);
        templates[path] += styles;
    };
    use(check.toc, check.tocTemplate, "TOC", {QStringLiteral("TOC 2"), QStringLiteral("TOC 3")});
    use(check.index, check.indexTemplate, "Index", {QStringLiteral("Plain Text")});
    for (const QString& path : order)
        checkTemplate(path, templates[path], copies, problems);
    return problems.take();
}

} // namespace lf::indexing
