// CheckOutObjects and CheckInObjects against a real repository, with and without errors, and both
// answers of the errors dialog.
#include "platform/stop_request.h"
#include "repository/monitor.h"
#include "repository/repository_ops.h"
#include "repository_fixture.h"

namespace lf::test {
namespace {

namespace fs = std::filesystem;
using repository::CheckInObjects;
using repository::CheckOutObjects;

const char* const kQuoted = "/Edvara/O'Brien's course";

class CheckoutTest : public RepositoryTest {
protected:
    void SetUp() override {
        RepositoryTest::SetUp();
        const auto decks = corpusFiles("pptx");
        const fs::path src = temp / "src";
        fs::create_directories(src / "sub");
        fs::copy_file(decks[0], src / "Module 1.pptx");
        fs::copy_file(decks[1], src / "sub" / "Module 2.pptx");
        fs::copy_file(corpusFiles("docx")[0], src / "Notes.docx");
        repo->importFiles({src / "Module 1.pptx", src / "Notes.docx"}, kQuoted);
        repo->importFiles({src / "sub" / "Module 2.pptx"}, std::string(kQuoted) + "/Week 2");
        // A sibling whose name a broken quote would reach.
        fs::copy_file(decks[2], src / "Other.pptx");
        repo->importFiles({src / "Other.pptx"}, "/Edvara/O");
        ASSERT_TRUE(loginThroughDialog(kUser, kPassword));
        session = repository::connection().session;
    }
    QStringList idsOfDecks() {
        QStringList ids;
        for (const char* p :
             {"/Edvara/O'Brien's course/Module 1.pptx", "/Edvara/O'Brien's course/Week 2/Module 2.pptx"})
            ids.append(QString::fromStdString(session->objectByPath(p)->objectId()->text()));
        return ids;
    }
    // bob holds the lock of one deck.
    void bobChecksOut(const std::string& path) {
        auto bob = tessarel::openAdminSession(repo->store, "ts_notes", "bob");
        tessarel::TsClient client;
        auto op = client.newCheckoutOperation();
        op->setDestinationDirectory((temp / "bob").string());
        op->add(bob->objectByPath(path));
        ASSERT_TRUE(op->execute());
    }
    tessarel::TsSessionPtr session;
};

TEST_F(CheckoutTest, TheGrayscaleQueryQuotesTheFolderPath) {
    EXPECT_EQ(repository::deckQueryForFolder(kQuoted),
              "select r_object_id from ts_document where folder('/Edvara/O''Brien''s course',descend) and "
              "a_content_type='ppt8'");
}

TEST_F(CheckoutTest, CheckOutAndBackInThroughAQuery) {
    const auto list = CheckOutObjects("T:\\co", repository::deckQueryForFolder(kQuoted), nullptr);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count(), 2);
    const QStringList ids = idsOfDecks();
    QStringList lines = linesOf("Checkout");
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(QStringList({lines[0], lines[1]}).join(",").count("Added "), 2);
    for (const QString& id : ids)
        EXPECT_TRUE(lines.contains("Added " + id));
    EXPECT_EQ(lines.mid(2), (QStringList{"Starting checkout", "Please wait, this could take a while",
                                         "Items checked out"}));
    EXPECT_TRUE(fs::is_regular_file(driveT / "co" / "Module 1.pptx"));
    EXPECT_TRUE(fs::is_regular_file(driveT / "co" / "Module 2.pptx"));
    EXPECT_FALSE(fs::exists(driveT / "co" / "Other.pptx"));
    EXPECT_FALSE(fs::exists(driveT / "co" / "Notes.docx"));
    EXPECT_TRUE(list->item(0)->isCheckedOut());
    EXPECT_FALSE(repository::frmProgress::isLoaded());
    EXPECT_TRUE(log.errors.isEmpty());

    writeFile(driveT / "co" / "Module 1.pptx", "changed deck");
    CheckInObjects(list);
    lines = linesOf("Checkin");
    ASSERT_EQ(lines.size(), 5);
    for (const QString& id : ids)
        EXPECT_TRUE(lines.contains("Added checkin node " + id));
    EXPECT_EQ(lines.mid(2),
              (QStringList{"Starting checkin", "Please wait, this could take a while", "Items checked in"}));
    auto module1 = repo->admin->objectByPath("/Edvara/O'Brien's course/Module 1.pptx");
    module1->refresh();
    EXPECT_FALSE(module1->isCheckedOut());
    module1->getFile((temp / "back").string());
    EXPECT_EQ(readFile(temp / "back"), "changed deck");
    EXPECT_TRUE(log.errors.isEmpty());
    EXPECT_EQ(boxes.shown.size(), 0u);
    EXPECT_EQ(log.errorDialogsShown, 0);
}

TEST_F(CheckoutTest, OneObjectWithoutAQueryLogsNoAddedLine) {
    auto object = session->objectByPath("/Edvara/O'Brien's course/Notes.docx");
    const auto list = CheckOutObjects("T:\\single", "", object);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(linesOf("Checkout"), (QStringList{"Starting checkout", "Please wait, this could take a while",
                                                "Items checked out"}));
    EXPECT_TRUE(fs::is_regular_file(driveT / "single" / "Notes.docx"));
}

TEST_F(CheckoutTest, AQueryWithoutRowsGivesAnEmptyList) {
    tessarel::makeFolders(repo->admin, "/Edvara/Nothing's here");
    const auto list =
        CheckOutObjects("T:\\co", repository::deckQueryForFolder("/Edvara/Nothing's here"), nullptr);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(linesOf("Checkout").last(), "Items checked out");
}

TEST_F(CheckoutTest, AnEmptyQueryWithNoObjectFailsUnderLowerCaseCheckout) {
    EXPECT_FALSE(CheckOutObjects("T:\\co", "", nullptr));
    EXPECT_TRUE(linesOf("Checkout").isEmpty());
    EXPECT_EQ(linesOf("checkout").size(), 1);
    EXPECT_EQ(log.errorDialogsShown, 0);
}

TEST_F(CheckoutTest, FailedCheckoutWithContinueClosesProgressAndGivesNothing) {
    bobChecksOut("/Edvara/O'Brien's course/Week 2/Module 2.pptx");
    log.errorDialogAnswer = true;
    EXPECT_FALSE(CheckOutObjects("T:\\co", repository::deckQueryForFolder(kQuoted), nullptr));
    ASSERT_EQ(log.errors.size(), 2);
    EXPECT_TRUE(log.errors[0].contains("already checked out by bob"));
    EXPECT_EQ(log.errors[1], "Errors encountered during checkout operation");
    EXPECT_EQ(log.errorDialogsShown, 1);
    EXPECT_EQ(linesOf("Checkout").last(), "User chose to continue after errors");
    EXPECT_TRUE(linesOf("Checkout").contains(log.errors[0]));
    EXPECT_FALSE(repository::frmProgress::isLoaded());
}

// Cancel ends the calling operation, and what the check-out did take is not left checked out.
TEST_F(CheckoutTest, FailedCheckoutWithCancelEndsTheOperation) {
    bobChecksOut("/Edvara/O'Brien's course/Module 1.pptx");
    log.errorDialogAnswer = false;
    EXPECT_THROW(CheckOutObjects("T:\\co", repository::deckQueryForFolder(kQuoted), nullptr),
                 platform::Stopped);
    EXPECT_FALSE(session->objectByPath("/Edvara/O'Brien's course/Week 2/Module 2.pptx")->isCheckedOut());
    EXPECT_EQ(log.errorDialogsShown, 1);
    EXPECT_TRUE(linesOf("Checkout").contains("User chose not to continue after errors"));
    EXPECT_EQ(log.errors.last(), "Errors encountered during checkout operation");
    EXPECT_EQ(yields.count > 0, true);
}

TEST_F(CheckoutTest, CheckInOfNothingShowsTheNoCheckoutBox) {
    CheckInObjects(nullptr);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "No checkout");
    EXPECT_EQ(boxes.shown[0].text, "No objects were checked out!\nCannot continue.");
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Critical);
    EXPECT_EQ(log.lines, QStringList{"Checkin - No checked out objects could be found"});
    EXPECT_EQ(log.errors, QStringList{"No checked out objects could be found"});
    EXPECT_EQ(log.errorDialogsShown, 0);
}

TEST_F(CheckoutTest, FailedCheckinAsksAndLogsEachAnswer) {
    auto notCheckedOut = repository::clientObject().newObjectList();
    notCheckedOut->append(session->objectByPath("/Edvara/O'Brien's course/Notes.docx"));
    for (bool answer : {true, false}) {
        log.lines.clear();
        log.errors.clear();
        log.errorDialogAnswer = answer;
        if (answer)
            CheckInObjects(notCheckedOut);
        else
            EXPECT_THROW(CheckInObjects(notCheckedOut), platform::Stopped);
        ASSERT_EQ(log.errors.size(), 2);
        EXPECT_TRUE(log.errors[0].contains("is not checked out"));
        EXPECT_EQ(log.errors[1], "Errors encountered during checkin operations");
        EXPECT_EQ(linesOf("Checkin").last(),
                  answer ? "User chose to continue after errors" : "User chose not to continue after errors");
    }
    EXPECT_EQ(log.errorDialogsShown, 2);
}

TEST_F(CheckoutTest, WithoutASessionBothReportUnderLowerCaseTags) {
    const auto list = CheckOutObjects("T:\\co", repository::deckQueryForFolder(kQuoted), nullptr);
    ASSERT_TRUE(list);
    repository::connection().session.reset();
    EXPECT_FALSE(CheckOutObjects("T:\\co", repository::deckQueryForFolder(kQuoted), nullptr));
    CheckInObjects(list);
    EXPECT_EQ(linesOf("checkout").size(), 1);
    EXPECT_EQ(linesOf("checkin").size(), 1);
}

} // namespace
} // namespace lf::test
