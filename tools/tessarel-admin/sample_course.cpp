#include "sample_course.h"

#include "office/builder/deck.h"
#include "office/builder/document.h"
#include "office/builder/drawing.h"

#include <filesystem>
#include <utility>

namespace lf::tessarel::sample {

namespace {

namespace ob = lf::builder;

// The sample decks' theme: Calibri type, the classic colour scheme and the system's window colours.
ob::Theme sampleTheme() {
    ob::Theme theme;
    theme.name = "Sample";
    theme.dark1 = "<a:sysClr val=\"windowText\" lastClr=\"000000\"/>";
    theme.light1 = "<a:sysClr val=\"window\" lastClr=\"FFFFFF\"/>";
    theme.colors = {{"dk2", "1F497D"},     {"lt2", "EEECE1"},     {"accent1", "4F81BD"},
                    {"accent2", "C0504D"}, {"accent3", "9BBB59"}, {"accent4", "8064A2"},
                    {"accent5", "4BACC6"}, {"accent6", "F79646"}, {"hlink", "0000FF"},
                    {"folHlink", "800080"}};
    theme.font = "Calibri";
    return theme;
}

} // namespace

void writeDeck(const std::string& path, const std::vector<SampleSlide>& slides) {
    ob::DeckBuilder deck;
    deck.bareMaster = true;
    deck.notesMaster = false;
    deck.customXmlProperties = true;
    deck.numberedIds = true;
    deck.theme = sampleTheme();
    for (const SampleSlide& s : slides) {
        ob::SlideSpec slide;
        slide.shapes = {ob::autoShape(2, "Rectangle 2", ob::Rect{457200, 304800, 8229600, 533400},
                                      ob::paragraph(ob::run(s.title, true, 3200))),
                        ob::autoShape(3, "TextBox 3", ob::Rect{457200, 1600200, 8229600, 4525963},
                                      ob::paragraph(ob::run(s.body, std::nullopt, 2000)))};
        if (!s.indexWord.empty())
            slide.customXml.push_back(ob::taggedWord(s.indexWord));
        deck.slides.push_back(slide);
    }
    deck.write(path);
}

void writeDocument(const std::string& path, const std::vector<std::string>& paragraphs, bool templateStyles) {
    ob::WordDocument doc;
    doc.paragraphs = paragraphs;
    doc.styles = {ob::WordStyle{
        .id = "Normal", .name = "Normal", .isDefault = true, .runProperties = "<w:sz w:val=\"22\"/>"}};
    if (templateStyles) {
        doc.styles.push_back(ob::WordStyle{
            .id = "TOC2",
            .name = "toc 2",
            .basedOn = "Normal",
            .paragraphProperties = "<w:tabs><w:tab w:val=\"right\" w:leader=\"dot\" w:pos=\"9350\"/></w:tabs>"
                                   "<w:ind w:left=\"220\"/>"});
        doc.styles.push_back(ob::WordStyle{.id = "TOC3",
                                           .name = "toc 3",
                                           .basedOn = "Normal",
                                           .paragraphProperties = "<w:ind w:left=\"440\"/>"});
        doc.header = "Course Name";
    }
    doc.write(path);
}

std::vector<std::string> writeSampleCourse(const std::string& folder) {
    std::filesystem::create_directories(folder);
    const std::vector<std::pair<std::string, std::vector<SampleSlide>>> decks = {
        {"01_Introduction.pptx",
         {{"Welcome to the Course", "What this course covers and how it is organised.", "course"},
          {"Course Objectives", "Understand storage, protect data, restore it.", "objective"},
          {"How the Labs Work", "Each module ends with a short lab.", "lab"}}},
        {"02_Storage.pptx",
         {{"Storage Basics", "Disks, volumes and file systems.", "volume"},
          {"Storage Tiers", "Fast, capacity and archive tiers.", "tier"},
          {"Quotas", "Limiting how much a user may store.", "quota"}}},
        {"03_Backup.pptx",
         {{"Why Back Up", "Hardware fails; people delete files.", "backup"},
          {"Full and Incremental Backups", "Trading time for space.", "incremental"},
          {"Restoring Files", "Finding and restoring a lost file.", "restore"}}},
        {"03a_Labs.pptx",
         {{"Lab: Make a Backup", "Back up the lab folder to the backup volume.", "backup"},
          {"Lab: Restore a File", "Restore yesterday's copy of report.txt.", "restore"}}},
    };
    std::vector<std::string> names;
    for (const auto& [name, slides] : decks) {
        writeDeck(folder + "/" + name, slides);
        names.push_back(name);
    }
    writeDocument(folder + "/Course Overview.docx",
                  {"Course Overview", "This sample course has three modules and a lab deck.",
                   "Module 1: Introduction", "Module 2: Storage", "Module 3: Backup"},
                  false);
    names.push_back("Course Overview.docx");
    writeDocument(folder + "/Lab Guide.docx",
                  {"Lab Guide", "Lab 1: Make a backup of the lab folder.", "Lab 2: Restore a file."}, false);
    names.push_back("Lab Guide.docx");
    return names;
}

std::vector<std::string> writeSampleTemplates(const std::string& folder) {
    std::filesystem::create_directories(folder);
    writeDocument(folder + "/TOC.docx", {}, true);
    writeDocument(folder + "/Index.docx", {}, true);
    return {"TOC.docx", "Index.docx"};
}

} // namespace lf::tessarel::sample
