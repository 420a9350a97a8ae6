// The "Errors Encountered" dialog: its list, its answer, its buttons and ShowErrorDialog.
#include "wizard_fixture.h"

#include <QTest>
#include <QTimer>

using namespace lf::wizard;
using namespace lf::wizard::test;

TEST_F(WizardTest, ErrorDialogControlsAndAnswers) {
    frmError& dialog = frmError::instance();
    EXPECT_EQ(dialog.windowTitle(), "Errors Encountered");
    EXPECT_EQ(dialog.cmdContinue->text(), "&Continue");
    EXPECT_EQ(dialog.cmdCancel->text(), "Cance&l");
    EXPECT_EQ(dialog.lstErrors->objectName(), "lstErrors");

    dialog.addError("first failure");
    dialog.addError("second failure");
    // Continue: the answer is true and the list starts afresh.
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(dialog.errorLines(), QStringList({"first failure", "second failure"}));
        dialog.cmdContinue->click();
    });
    EXPECT_TRUE(ShowErrorDialog());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.errorLines().isEmpty());

    // Closing it any other way sets no answer: the previous one stands.
    dialog.addError("third");
    QTimer::singleShot(0, [&] { dialog.close(); });
    EXPECT_TRUE(ShowErrorDialog());
    EXPECT_TRUE(dialog.errorLines().isEmpty());

    QTimer::singleShot(0, [&] { dialog.cmdCancel->click(); });
    EXPECT_FALSE(ShowErrorDialog());
    QTimer::singleShot(0, [&] { dialog.reject(); }); // Escape
    EXPECT_FALSE(ShowErrorDialog());
}

TEST_F(WizardTest, ErrorsLoggedEarlierAreThereWhenTheDialogOpens) {
    start();
    lf::oplog::LogOperation("Export", "Cannot export 01_Intro.pptx", true);
    lf::oplog::LogOperation("CheckIn", "Object is locked", true);
    QStringList seen;
    QTimer::singleShot(0, [&] {
        seen = frmError::instance().errorLines();
        frmError::instance().cmdCancel->click();
    });
    EXPECT_FALSE(lf::oplog::ShowErrorDialog()) << "through the wizard's log sink";
    EXPECT_EQ(seen, QStringList({"Cannot export 01_Intro.pptx", "Object is locked"}));
    EXPECT_EQ(shownLog()->count(), 2);
}

TEST_F(WizardTest, ErrorListClickAndDoubleClick) {
    frmError& dialog = frmError::instance();
    dialog.addError("a very long error line");
    dialog.lstErrors->setCurrentRow(0);
    EXPECT_EQ(dialog.lstErrors->toolTip(), "a very long error line");
    dialog.lstErrors_DblClick();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Error");
    EXPECT_EQ(boxes.shown[0].text, "a very long error line");
    EXPECT_EQ(boxes.shown[0].icon, lf::platform::MessageIcon::Information);
    EXPECT_EQ(boxes.shown[0].buttons, lf::platform::MessageButtons::Ok);
}

TEST_F(WizardTest, ErrorListAnswersTheMouse) {
    frmError& dialog = frmError::instance();
    dialog.show();
    dialog.addError("export failed");
    dialog.addError("check-in failed");
    QListWidget* list = dialog.lstErrors;
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(list->toolTip(), "check-in failed");
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Error");
    EXPECT_EQ(boxes.shown[0].text, "check-in failed");
    dialog.cmdContinue->click();
    EXPECT_TRUE(frmError::answer());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.errorLines().isEmpty());
}
