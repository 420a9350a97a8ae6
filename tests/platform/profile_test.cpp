// The private-profile functions: lookups without regard to case, defaults, in-place edits that keep
// every other line, Windows-1252 text (UTF-8 once a value needs it), and long values read whole.
#include "platform/codepage.h"
#include "platform/profile.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace lf::platform;
using lf::test::readFile;
using lf::test::TempDir;
using lf::test::writeFile;

namespace {

QString q(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

} // namespace

TEST(Profile, MissingFileSectionOrKeyGivesDefaultAndCreatesNothing) {
    TempDir dir;
    const auto ini = dir / "Syllabo.ini";
    EXPECT_EQ(GetPrivateProfileString("Source Values", "SourcePath", "C:\\Temp\\", q(ini)), "C:\\Temp\\");
    EXPECT_FALSE(std::filesystem::exists(ini));
    writeFile(ini, "[Other]\r\nA=1\r\n");
    EXPECT_EQ(GetPrivateProfileString("Source Values", "A", "dflt", q(ini)), "dflt");
    EXPECT_EQ(GetPrivateProfileString("Other", "B", "dflt", q(ini)), "dflt");
}

TEST(Profile, FindsSectionsAndKeysWithoutRegardToCaseFirstMatchWins) {
    TempDir dir;
    const auto ini = dir / "a.ini";
    writeFile(ini, "; a comment\r\n[Source Values]\r\n  sourcepath =  C:\\Courses  \r\nSourcePath=second\r\n"
                   "[SOURCE VALUES]\r\nDestinationPath=later section\r\n");
    EXPECT_EQ(GetPrivateProfileString("source values", "SOURCEPATH", "", q(ini)), "C:\\Courses");
    // Only the first section of a name is searched.
    EXPECT_EQ(GetPrivateProfileString("Source Values", "DestinationPath", "none", q(ini)), "none");
}

TEST(Profile, PresentKeyWithEmptyValueIsEmptyNotDefault) {
    TempDir dir;
    const auto ini = dir / "a.ini";
    writeFile(ini, "[TOC Values]\nTOCCourseName=\n");
    EXPECT_EQ(GetPrivateProfileString("TOC Values", "TOCCourseName", "dflt", q(ini)), "");
}

TEST(Profile, LongValuesAreReadWhole) {
    TempDir dir;
    const auto ini = dir / "a.ini";
    const QString longPath = "C:\\" + QString(300, 'x');
    ASSERT_TRUE(WritePrivateProfileString("Source Values", "SourcePath", longPath, q(ini)));
    EXPECT_EQ(GetPrivateProfileString("Source Values", "SourcePath", "", q(ini)), longPath);
}

TEST(Profile, WritingReplacesInPlaceAndKeepsEveryOtherLine) {
    TempDir dir;
    const auto ini = dir / "a.ini";
    writeFile(ini,
              "; keep me\r\n[Source Values]\r\nSourcePath=old\r\n; inner comment\r\nDestinationPath=D\r\n"
              "\r\n[Other Values]\r\nWorkingDirectory=C:\\syllabo\r\n");
    ASSERT_TRUE(WritePrivateProfileString("source values", "sourcepath", "new", q(ini)));
    EXPECT_EQ(readFile(ini), "; keep me\r\n[Source Values]\r\nSourcePath=new\r\n; inner comment\r\n"
                             "DestinationPath=D\r\n\r\n[Other Values]\r\nWorkingDirectory=C:\\syllabo\r\n");
}

TEST(Profile, WritingAppendsKeyToItsSectionOrNewSectionAtEnd) {
    TempDir dir;
    const auto ini = dir / "a.ini";
    writeFile(ini, "[A]\nx=1\n\n[B]\ny=2\n");
    ASSERT_TRUE(WritePrivateProfileString("A", "z", "3", q(ini)));
    ASSERT_TRUE(WritePrivateProfileString("C", "w", "4", q(ini)));
    EXPECT_EQ(readFile(ini), "[A]\nx=1\nz=3\n\n[B]\ny=2\n\n[C]\nw=4\n");
}

TEST(Profile, WritingCreatesFileAndSectionsInOrder) {
    TempDir dir;
    const auto ini = dir / "sub" / "new.ini";
    ASSERT_TRUE(WritePrivateProfileString("Source Values", "SourcePath", "C:\\Temp\\", q(ini)));
    ASSERT_TRUE(WritePrivateProfileString("Index Values", "IndexTemplate", "t.docx", q(ini)));
    ASSERT_TRUE(WritePrivateProfileString("Source Values", "DestinationPath", "D:\\", q(ini)));
    EXPECT_EQ(readFile(ini), "[Source Values]\r\nSourcePath=C:\\Temp\\\r\nDestinationPath=D:\\\r\n\r\n"
                             "[Index Values]\r\nIndexTemplate=t.docx\r\n");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), {}), 1);
}

TEST(Profile, TextIsWindows1252UntilALineNeedsUtf8) {
    TempDir dir;
    const auto ini = dir / "a.ini";
    writeFile(ini, "[TOC Values]\r\nTOCCourseName=Caf\xe9 \x80 \x96 course\r\n");
    EXPECT_EQ(GetPrivateProfileString("TOC Values", "TOCCourseName", "", q(ini)),
              QString::fromUtf8("Caf\u00e9 \u20ac \u2013 course"));
    ASSERT_TRUE(WritePrivateProfileString("TOC Values", "TOCCourseName", QString::fromUtf8("\u00c5r \u20ac"),
                                          q(ini)));
    EXPECT_EQ(readFile(ini), "[TOC Values]\r\nTOCCourseName=\xc5r \x80\r\n");

    // A value the code page cannot hold turns the whole file into UTF-8 behind a byte-order mark; it
    // stays so, and every value reads back as written.
    ASSERT_TRUE(
        WritePrivateProfileString("Source Values", "SourcePath", QString::fromUtf8("D:\\Курс 🚀"), q(ini)));
    ASSERT_TRUE(WritePrivateProfileString("TOC Values", "TOCFileOutput", "toc.docx", q(ini)));
    EXPECT_EQ(readFile(ini), "\xEF\xBB\xBF[TOC Values]\r\nTOCCourseName=\xC3\x85r \xE2\x82\xAC\r\n"
                             "TOCFileOutput=toc.docx\r\n\r\n[Source Values]\r\n"
                             "SourcePath=D:\\\xD0\x9A\xD1\x83\xD1\x80\xD1\x81 \xF0\x9F\x9A\x80\r\n");
    EXPECT_EQ(GetPrivateProfileString("source values", "SOURCEPATH", "", q(ini)),
              QString::fromUtf8("D:\\Курс 🚀"));
    EXPECT_EQ(GetPrivateProfileString("TOC Values", "TOCCourseName", "", q(ini)),
              QString::fromUtf8("\u00c5r \u20ac"));
}

TEST(Profile, BareNameLivesInConfigurationFolder) {
    ASSERT_TRUE(WritePrivateProfileString("S", "K", "V", "Unit.ini"));
    EXPECT_TRUE(QFile::exists(profileFilePath("Unit.ini")));
    EXPECT_TRUE(profileFilePath("Unit.ini").endsWith("/lessonforge/Unit.ini"));
    EXPECT_EQ(GetPrivateProfileString("s", "k", "", "Unit.ini"), "V");
    const auto section = GetPrivateProfileSection("S", "Unit.ini");
    ASSERT_EQ(section.size(), 1);
    EXPECT_EQ(section[0].first, "K");
}

// A value that would not read back as written never reaches the file: a line break would plant a
// section and a working directory of its own for every later run.
TEST(Profile, AValueThatWouldNotReadBackIsRefusedAndTheFileStaysAsItWas) {
    TempDir dir;
    const auto ini = dir / "Syllabo.ini";
    writeFile(ini, "[TOC Values]\r\nTOCCourseName=Before\r\n");
    const std::string before = readFile(ini);
    for (const QString& value :
         {QString("Course\n[Other Values]\nWorkingDirectory=D:\\secret"), QString("a\rb.docx"),
          QString("tab\x01"), QString("line\u2028break"), QString(QChar(0xD800)) + "lone"}) {
        QString error;
        EXPECT_FALSE(WritePrivateProfileString("TOC Values", "TOCCourseName", value, q(ini), &error))
            << value.toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(readFile(ini), before) << value.toStdString();
    }
    EXPECT_FALSE(WritePrivateProfileString("TOC Values]\r\n[Other Values", "K", "v", q(ini)));
    EXPECT_FALSE(WritePrivateProfileString("TOC Values", "WorkingDirectory=D:\\x\r\nK", "v", q(ini)));
    EXPECT_EQ(readFile(ini), before);
    EXPECT_EQ(GetPrivateProfileString("Other Values", "WorkingDirectory", "C:\\syllabo", q(ini)),
              "C:\\syllabo");
    // What the code page holds, a tab and a literal "?" included, is written as it is.
    ASSERT_TRUE(WritePrivateProfileString("TOC Values", "TOCCourseName",
                                          QString::fromUtf8("Caf\u00e9?\tK\u00fcche \u20ac"), q(ini)));
    EXPECT_EQ(GetPrivateProfileString("TOC Values", "TOCCourseName", "", q(ini)),
              QString::fromUtf8("Caf\u00e9?\tK\u00fcche \u20ac"));
}

TEST(Codepage, AnsiCodes) {
    EXPECT_EQ(ansiCode(QChar('0')), 48);
    EXPECT_EQ(ansiCode(QChar(0x20AC)), 0x80);
    EXPECT_EQ(ansiCode(QChar(0x00E9)), 0xE9);
    EXPECT_EQ(ansiCode(QChar(0x4E00)), '?');
}
