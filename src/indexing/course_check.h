#pragma once
// The check of a course before a run: reads the decks and templates that the chosen operations would
// read, the way they read them, and lists every problem they would meet instead of stopping at the
// first. Nothing is changed or written: the course files are opened for reading only, the working
// directory is not used, and a repository course is read through a private temporary folder that is
// removed afterwards.
#include "indexing/toc_title_source.h"

#include <QString>

#include <vector>

namespace lf::indexing {

// The operations chosen and the fields of the run, as the wizard hands them on (source and
// destination without their trailing separator).
struct CourseCheck {
    bool grayscale = false;
    bool index = false;
    bool toc = false;
    bool printReady = false;
    bool zip = false;
    QString sourcePath;
    QString destinationPath;
    QString tocTemplate, tocName;
    QString indexTemplate, indexName;
    TOCTitleSource tocTitleSource = TOCTitleSource::RuleThenPlaceholder; // the setting TOCTitleSource
    QString indexLanguage; // the setting IndexLanguage: the words of other scripts are reported
};

struct CourseProblem {
    QString file;  // the deck or template as the course names it; "" for a field of the run
    int slide = 0; // the slide number as the TOC and the Index write it; 0 for the whole file
    QString what;
};

// "FILE: slide N: WHAT", "FILE: WHAT" or "WHAT".
QString ProblemLine(const CourseProblem& problem);

// Every problem, in the order a run would meet them: the fields, then the decks in listing order
// (each deck's slides in order), then the templates. Needs the repository session when a path is a
// repository path.
std::vector<CourseProblem> CheckCourse(const CourseCheck& check);

} // namespace lf::indexing
