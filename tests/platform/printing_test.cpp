// Print files and jobs through a private CUPS server (tests/support/private_cups.h): the print file of
// a PostScript printer is that printer's PostScript, every page of it, and prints unchanged when sent
// back raw; a raw queue's is the PDF itself; a failing filter leaves the old print file alone; a job
// on the PDF printer makes a PDF; unknown and refusing printers, and a server that does not answer,
// are errors that say so; a print file that meets a full disk, or would be cut short, is never put in
// place.
#include "platform/printing.h"
#include "platform/whole_file.h"
#include "private_cups.h"
#include "small_disk.h"
#include "test_pdf.h"
#include "test_support.h"

#include <QFile>

#include <cups/cups.h>

#include <gtest/gtest.h>

using lf::platform::PrintingError;
using lf::test::folderNames;
using lf::test::postScriptPageCount;
using lf::test::PrivateCups;
using lf::test::SmallDisk;
using lf::test::TempDir;
namespace fs = std::filesystem;

namespace {

class Printing : public testing::Test {
protected:
    void SetUp() override {
        const QString reason = PrivateCups::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        cups = std::make_unique<PrivateCups>();
        pdf = dir / "Module 1.pdf";
        lf::test::writeTestPdf(pdf, 3);
        ASSERT_EQ(lf::test::pdfPageCount(pdf), 3);
    }

    QString q(const fs::path& path) const { return QString::fromStdString(path.string()); }

    std::unique_ptr<PrivateCups> cups;
    TempDir dir;
    fs::path pdf;
};

} // namespace

TEST_F(Printing, KnowsPrintersByNameAndRefusesUnknownOnes) {
    EXPECT_TRUE(lf::platform::printerExists(PrivateCups::psPrinter));
    EXPECT_TRUE(lf::platform::printerExists(PrivateCups::pdfPrinter));
    EXPECT_FALSE(lf::platform::printerExists("No Such \"Printer\""));
    EXPECT_FALSE(lf::platform::printerExists("PS-Printer/no-such-instance"));

    const fs::path prn = dir / "Module 1.prn";
    try {
        lf::platform::writePrintFile("No Such \"Printer\"", q(pdf), q(prn));
        ADD_FAILURE() << "a print file for an unknown printer";
    } catch (const PrintingError& e) {
        EXPECT_STREQ(e.what(), "there is no printer named \"No Such \"Printer\"\"");
    }
    EXPECT_FALSE(fs::exists(prn));
    EXPECT_THROW(lf::platform::submitPrintJob("No Such Printer", q(pdf), "Module 1"), PrintingError);
}

TEST_F(Printing, PostScriptPrintFileHoldsEveryPageAndThePrintersSettingsAndPrintsUnchangedWhenSentRaw) {
    const fs::path out = dir / "print ready";
    fs::create_directory(out);
    const fs::path prn = out / "Module 1's deck.prn";
    // A setting of the printer on its server reaches the print file.
    QString output;
    ASSERT_EQ(
        cups->run("lpadmin", {"-p", PrivateCups::psPrinter, "-o", "sides=two-sided-long-edge"}, &output), 0)
        << output.toStdString();
    lf::platform::writePrintFile(PrivateCups::psPrinter, q(pdf), q(prn));

    const std::string ps = lf::test::readFile(prn);
    EXPECT_EQ(ps.rfind("%!PS", 0), 0u) << ps.substr(0, 40);
    EXPECT_EQ(postScriptPageCount(ps), 3);
    EXPECT_NE(ps.find("<</Duplex true/Tumble false>>setpagedevice"), std::string::npos);
    EXPECT_EQ(folderNames(out), std::vector<std::string>{"Module 1's deck.prn"});

    ASSERT_EQ(cups->run("lp", {"-d", PrivateCups::psPrinter, "-o", "raw", q(prn)}, &output), 0)
        << output.toStdString();
    ASSERT_TRUE(cups->waitUntilIdle(PrivateCups::psPrinter)) << cups->log().toStdString();
    ASSERT_TRUE(fs::exists(cups->psOutput())) << cups->log().toStdString();
    EXPECT_TRUE(lf::test::readFile(cups->psOutput()) == ps)
        << "the printer got other bytes than the print file";
}

TEST_F(Printing, FailingFilterLeavesTheOldPrintFileAndNothingBesideIt) {
    const fs::path out = dir / "print ready";
    fs::create_directory(out);
    const fs::path prn = out / "Module 1.prn";
    lf::test::writeFile(prn, "the print file of the last run");
    const fs::path damaged = dir / "damaged.pdf";
    lf::test::writeFile(damaged, lf::test::readFile(pdf).substr(0, 200));

    try {
        lf::platform::writePrintFile(PrivateCups::psPrinter, q(damaged), q(prn));
        ADD_FAILURE() << "a print file from a damaged PDF";
    } catch (const PrintingError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("PS-Printer"), std::string::npos) << message;
        EXPECT_NE(message.find("pdftopdf"), std::string::npos) << "the filter's own words: " << message;
    }
    EXPECT_EQ(lf::test::readFile(prn), "the print file of the last run");
    EXPECT_EQ(folderNames(out), std::vector<std::string>{"Module 1.prn"});
}

// The disk of the print-ready folder fills up while the filters write: the run hears of it, and the
// print file of the last run stays as it was, with nothing cut short beside it.
TEST_F(Printing, AFullDiskFailsThePrintFileAndLeavesNothingCutShort) {
    const fs::path out = dir / "print ready";
    SmallDisk disk(out, 128);
    if (!disk.mounted())
        GTEST_SKIP() << disk.unavailableReason().toStdString();
    const fs::path prn = out / "01_Introduction.prn";
    lf::test::writeFile(prn, "the print file of the last run");
    const std::uintmax_t free = disk.freeBytes();

    for (const char* printer : {PrivateCups::psPrinter, "Raw"}) {
        if (std::string(printer) == "Raw") {
            QString output;
            ASSERT_EQ(cups->run("lpadmin", {"-p", "Raw", "-E", "-v", "file:///dev/null"}, &output), 0)
                << output.toStdString();
            // A PDF bigger than the disk: the raw queue's print file is the PDF itself.
            lf::test::writeTestPdf(pdf, 400);
            ASSERT_GT(fs::file_size(pdf), free);
        }
        try {
            lf::platform::writePrintFile(printer, q(pdf), q(prn));
            ADD_FAILURE() << printer << ": a print file on a full disk";
        } catch (const PrintingError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("cannot write the print file " + prn.string()), std::string::npos)
                << message;
            EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
        }
        EXPECT_EQ(lf::test::readFile(prn), "the print file of the last run") << printer;
        EXPECT_EQ(folderNames(out), std::vector<std::string>{"01_Introduction.prn"}) << printer;
        EXPECT_EQ(disk.freeBytes(), free) << printer << ": the temporary went";
    }
}

// What the test printers write ends as its format ends; the same bytes cut anywhere before that end
// are refused, so a chain that stops early without a word never leaves a print file or PDF behind.
TEST_F(Printing, PrintFilesAndPdfsCutShortAreNeverCommitted) {
    QString output;
    ASSERT_EQ(
        cups->run("lpadmin",
                  {"-p", "PCL-Laser", "-E", "-v", "file:///dev/null", "-m", "drv:///sample.drv/laserjet.ppd"},
                  &output),
        0)
        << output.toStdString();
    std::vector<std::string> printers{PrivateCups::psPrinter, "PCL-Laser"};
    const char* pclXl = "/usr/share/ppd/cupsfilters/pxlmono.ppd";
    if (fs::exists(pclXl)) {
        ASSERT_EQ(
            cups->run("lpadmin", {"-p", "PCL-XL", "-E", "-v", "file:///dev/null", "-P", pclXl}, &output), 0)
            << output.toStdString();
        printers.push_back("PCL-XL");
    }
    std::vector<fs::path> files{pdf};
    for (const std::string& printer : printers) {
        files.push_back(dir / (printer + ".prn"));
        lf::platform::writePrintFile(QString::fromStdString(printer), q(pdf), q(files.back()));
    }

    const fs::path out = dir / "out";
    fs::create_directory(out);
    for (const fs::path& file : files) {
        const std::string whole = lf::test::readFile(file);
        EXPECT_EQ(lf::platform::copyWholeFile(file, out / "whole"), "") << file;
        EXPECT_TRUE(lf::test::readFile(out / "whole") == whole) << file;
        for (const std::size_t cut : {whole.size() / 2, whole.size() - 7}) {
            const fs::path shorter = dir / "shorter";
            lf::test::writeFile(shorter, whole.substr(0, cut));
            const std::string why = lf::platform::copyWholeFile(shorter, out / "cut");
            EXPECT_NE(why.find("cut short after " + std::to_string(cut) + " bytes"), std::string::npos)
                << file << " cut to " << cut << " of " << whole.size() << ": " << why;
        }
        EXPECT_EQ(folderNames(out), std::vector<std::string>{"whole"}) << file;
    }
}

TEST_F(Printing, RawQueueGetsThePdfItselfAndARefusingQueueSaysWhy) {
    QString output;
    ASSERT_EQ(cups->run("lpadmin", {"-p", "Raw", "-E", "-v", "file:///dev/null"}, &output), 0)
        << output.toStdString();
    const fs::path prn = dir / "Module 1.prn";
    lf::platform::writePrintFile("Raw", q(pdf), q(prn));
    EXPECT_TRUE(lf::test::readFile(prn) == lf::test::readFile(pdf));

    ASSERT_EQ(cups->run("cupsreject", {"-r", "out of paper", "Raw"}, &output), 0) << output.toStdString();
    try {
        lf::platform::submitPrintJob("Raw", q(pdf), "Module 1");
        ADD_FAILURE() << "a job on a queue that accepts none";
    } catch (const PrintingError& e) {
        EXPECT_NE(std::string(e.what()).find("Raw"), std::string::npos) << e.what();
    }
}

TEST_F(Printing, JobOnThePdfPrinterWritesAPdfOfEveryPage) {
    const int job = lf::platform::submitPrintJob(PrivateCups::pdfPrinter, q(pdf), "Module 1");
    EXPECT_GT(job, 0);
    ASSERT_TRUE(cups->waitUntilIdle(PrivateCups::pdfPrinter, 120000)) << cups->log().toStdString();
    const std::vector<fs::path> pdfs = cups->pdfOutputs();
    ASSERT_EQ(pdfs.size(), 1u) << cups->log().toStdString();
    EXPECT_EQ(pdfs[0].filename(), "Module_1-job_" + std::to_string(job) + ".pdf");
    EXPECT_EQ(lf::test::readFile(pdfs[0]).rfind("%PDF", 0), 0u);
    EXPECT_EQ(lf::test::pdfPageCount(pdfs[0]), 3);
}

TEST(PrintingWithoutServer, SaysTheServerDoesNotAnswerRatherThanThatThePrinterIsMissing) {
    const TempDir dir;
    const QByteArray server = QFile::encodeName(dir.qpath() + "/no-server.sock");
    const QByteArray old = qgetenv("CUPS_SERVER");
    const bool wasSet = qEnvironmentVariableIsSet("CUPS_SERVER");
    qputenv("CUPS_SERVER", server);
    cupsSetServer(server.constData());

    EXPECT_FALSE(lf::platform::printerExists("PS-Printer"));
    try {
        lf::platform::submitPrintJob("PS-Printer", dir.qpath() + "/Module 1.pdf", "Module 1");
        ADD_FAILURE() << "a job without a server";
    } catch (const PrintingError& e) {
        EXPECT_NE(std::string(e.what()).find("does not answer"), std::string::npos) << e.what();
    }

    if (wasSet)
        qputenv("CUPS_SERVER", old);
    else
        qunsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
}
