// The wizard at larger fonts and on a high-density screen: on every page, every control shown gets
// at least the room its text asks for, so no caption is cut. The same test runs a second time with
// QT_SCALE_FACTOR=2 (a device pixel ratio of 2).
#include "wizard_fixture.h"

#include <QApplication>
#include <QLayout>

using namespace lf::wizard;
using namespace lf::wizard::test;

namespace {

class WizardScale : public WizardTest {
protected:
    void TearDown() override {
        QApplication::setFont(defaultFont_);
        WizardTest::TearDown();
    }
    // The controls of the page shown whose room is smaller than their size hint asks for.
    QStringList cutControls() const {
        QStringList cut;
        wizard->layout()->activate();
        for (QWidget* c : wizard->controls()) {
            if (!c->isVisibleTo(wizard.get()) || c == wizard->Picture1 || c == wizard->lstOperations)
                continue;
            const QSize hint = c->sizeHint();
            auto* label = qobject_cast<QLabel*>(c);
            const bool fits = label && label->wordWrap()
                                  ? c->height() >= label->heightForWidth(c->width())
                                  : c->width() >= hint.width() && c->height() >= hint.height();
            if (!fits)
                cut.append(QString("%1 (%2x%3 for %4x%5)")
                               .arg(c->objectName())
                               .arg(c->width())
                               .arg(c->height())
                               .arg(hint.width())
                               .arg(hint.height()));
        }
        return cut;
    }
    const QFont defaultFont_ = QApplication::font();
};

TEST_F(WizardScale, EveryPageFitsItsTextAtOneAndAHalfAndTwiceTheFontAndTheLogGrowsWithTheWindow) {
    for (const double factor : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(factor);
        QFont font = defaultFont_;
        font.setPointSizeF(defaultFont_.pointSizeF() * factor);
        QApplication::setFont(font);
        frmWizard& w = start();
        if (factor == 1.0) {
            EXPECT_EQ(w.size(), QSize(680, 480)) << "the window starts at its usual size";
        }
        // Every operation, so that page 2 shows the printers and page 3 every field.
        w.controlState(2);
        choose({w.chkGrayscale, w.chkIndex, w.chkTOC, w.chkPRU});
        for (std::int16_t page = 1; page <= 5; ++page) {
            w.controlState(page);
            QApplication::processEvents();
            EXPECT_EQ(cutControls(), QStringList()) << "page " << page << " at " << factor << "x";
        }
        // Page 5: a larger window gives its room to the operation log.
        const int logHeight = w.lstOperations->height();
        w.resize(w.width() + 200, w.height() + 300);
        QApplication::processEvents();
        w.layout()->activate();
        EXPECT_GE(w.lstOperations->height(), logHeight + 250);
        EXPECT_GE(w.lstOperations->width(), 200);
        wizard.reset();
    }
}

} // namespace
