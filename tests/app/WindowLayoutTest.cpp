// The window as a player meets it in each of its layouts: what is painted over what, the
// warning's rows, the keyboard's way through the controls.
#include "BridgeFixture.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QScrollBar>
#include <QTextBlock>

#include <set>

namespace {

using WindowLayoutTest = BridgeFixture;

// Labels that overlap a field or view must lie beneath it (Qt paints later siblings on top).
void ExpectNoLabelPaintsOverAField(const TForm1& AForm) {
    const QObjectList& stack = AForm.children(); // bottom first
    int overlaps = 0;
    for (const QObject* object : stack) {
        const auto* label = qobject_cast<const QLabel*>(object);
        if (label == nullptr || label->isHidden()) {
            continue;
        }
        for (const QObject* other : stack) {
            const auto* field = qobject_cast<const QWidget*>(other);
            if (field == nullptr || field == label || field->isHidden() ||
                qobject_cast<const QLabel*>(field) != nullptr ||
                !field->geometry().intersects(label->geometry())) {
                continue;
            }
            ++overlaps;
            EXPECT_LT(stack.indexOf(object), stack.indexOf(other))
                << label->objectName().toStdString() << " over "
                << field->objectName().toStdString();
        }
    }
    SCOPED_TRACE(overlaps);
}

TEST_F(WindowLayoutTest, NoLabelIsPaintedOverAFieldInAnyLayout) {
    Form->show();
    ExpectNoLabelPaintsOverAField(*Form);
    LogIn();
    ASSERT_FALSE(HasFatalFailure());
    ExpectNoLabelPaintsOverAField(*Form);
    JoinVelmor();
    ASSERT_FALSE(HasFatalFailure());
    // The chat layout: Label5 lies inside the log's rectangle.
    ASSERT_TRUE(Form->RichEdit1->geometry().intersects(Form->Label5->geometry()));
    ExpectNoLabelPaintsOverAField(*Form);
    // And so the log's pixels are the log's: the label's caption is not drawn over them.
    const QImage window = Form->grab().toImage();
    const QImage log = Form->RichEdit1->grab().toImage();
    const QPoint at = Form->Label5->geometry().center() - Form->RichEdit1->pos();
    EXPECT_EQ(window.pixel(Form->Label5->geometry().center()), log.pixel(at));
}

TEST_F(WindowLayoutTest, TheWarningShowsEachDesignedLineOnOneRowAndNoRowCut) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    QPlainTextEdit* memo = Form->Memo1;
    EXPECT_LT(memo->geometry().bottom(), Form->Label1->y()) << "runs into the status line";
    const qreal width = memo->viewport()->width() - 2 * memo->document()->documentMargin();
    const QFontMetricsF metrics(memo->font());
    for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
        SCOPED_TRACE(block.text().toStdString());
        if (metrics.horizontalAdvance(block.text().trimmed()) <= width) {
            EXPECT_EQ(block.layout()->lineCount(), 1);
        }
    }
    EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0)
        << "rows out of view " << memo->viewport()->height() << " " << memo->height() << " font "
        << memo->font().pixelSize() << " doc " << memo->document()->size().height();
    QTextCursor end(memo->document());
    end.movePosition(QTextCursor::End);
    EXPECT_LE(memo->cursorRect(end).bottom(), memo->viewport()->height()) << "last row cut";
}

// Tabs around the window from the focused control and returns the controls met, in order.
std::vector<QWidget*> TabRound(int AKeys) {
    std::vector<QWidget*> met;
    for (int i = 0; i < AKeys; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        met.push_back(QApplication::focusWidget());
    }
    return met;
}

std::set<QWidget*> TakesFocus(const TForm1& AForm) {
    std::set<QWidget*> controls;
    for (QWidget* w : AForm.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
            controls.insert(w);
        }
    }
    return controls;
}

TEST_F(WindowLayoutTest, TabReachesEveryControlAndNeverTypesATab) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    const auto round = [&](QWidget* AStart) {
        AStart->setFocus();
        const std::set<QWidget*> expected = TakesFocus(*Form);
        const std::vector<QWidget*> met = TabRound(int(expected.size()) * 2);
        EXPECT_EQ(std::set<QWidget*>(met.begin(), met.end()), expected);
        for (QPlainTextEdit* view : {Form->RichEdit3, Form->RichEdit1, Form->Memo1}) {
            EXPECT_FALSE(view->toPlainText().contains(QLatin1Char('\t')));
        }
    };
    {
        SCOPED_TRACE("connect layout");
        EXPECT_TRUE(TakesFocus(*Form).contains(Form->RichEdit3));
        EXPECT_TRUE(TakesFocus(*Form).contains(Form->ListBox2));
        round(Form->RichEdit3);
    }
    LogInAndJoin();
    ASSERT_FALSE(HasFatalFailure());
    {
        SCOPED_TRACE("chat layout");
        EXPECT_TRUE(TakesFocus(*Form).contains(Form->Edit1));
        round(Form->Edit1);
    }
}

} // namespace
