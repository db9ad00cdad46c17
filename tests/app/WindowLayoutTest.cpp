// The window as a player meets it in its layouts: what is painted over what, the warning's
// rows, the keyboard's way through the controls.
#include "BridgeFixture.h"

#include <QApplication>
#include <QScrollBar>
#include <QTextBlock>

#include <set>

namespace {

using WindowLayoutTest = BridgeFixture;

// A label overlapping a field or view must lie beneath it (Qt paints later siblings on top),
// and Tab, never typed into a view, must reach every control that takes focus.
void ExpectLabelsBeneathAndTabEverywhere(const TForm1& AForm, QWidget* AStart) {
    const QObjectList& stack = AForm.children(); // bottom first
    std::set<QWidget*> focusable;
    for (QObject* object : stack) {
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget == nullptr || !widget->isVisible()) {
            continue;
        }
        if (widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
            focusable.insert(widget);
        }
        for (const QObject* other : stack) {
            const auto* field = qobject_cast<const QWidget*>(other);
            if (qobject_cast<QLabel*>(widget) != nullptr && field != nullptr &&
                field->isVisible() && qobject_cast<const QLabel*>(field) == nullptr &&
                field->geometry().intersects(widget->geometry())) {
                EXPECT_LT(stack.indexOf(object), stack.indexOf(other))
                    << widget->objectName().toStdString() << " over "
                    << field->objectName().toStdString();
            }
        }
    }
    AStart->setFocus();
    std::set<QWidget*> met;
    for (size_t i = 0; i < 2 * focusable.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        met.insert(QApplication::focusWidget());
    }
    EXPECT_EQ(met, focusable);
    for (QPlainTextEdit* view : {AForm.RichEdit3, AForm.RichEdit1, AForm.Memo1}) {
        EXPECT_FALSE(view->toPlainText().contains(QLatin1Char('\t')));
    }
}

TEST_F(WindowLayoutTest, LabelsTabAndTheWarningInEachLayout) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    {
        SCOPED_TRACE("connect layout");
        EXPECT_TRUE(Form->ListBox2->focusPolicy() & Qt::TabFocus);
        ExpectLabelsBeneathAndTabEverywhere(*Form, Form->RichEdit3);
    }
    // The warning: each designed line that fits stays one row, and no row is cut.
    QPlainTextEdit* memo = Form->Memo1;
    EXPECT_LT(memo->geometry().bottom(), Form->Label1->y()) << "runs into the status line";
    const qreal width = memo->viewport()->width() - 2 * memo->document()->documentMargin();
    for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
        if (QFontMetricsF(memo->font()).horizontalAdvance(block.text().trimmed()) <= width) {
            EXPECT_EQ(block.layout()->lineCount(), 1) << block.text().toStdString();
        }
    }
    EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0) << "rows out of view";
    QTextCursor end(memo->document());
    end.movePosition(QTextCursor::End);
    EXPECT_LE(memo->cursorRect(end).bottom(), memo->viewport()->height()) << "last row cut";

    LogInAndJoin();
    SCOPED_TRACE("chat layout");
    ASSERT_TRUE(Form->RichEdit1->geometry().intersects(Form->Label5->geometry()));
    ExpectLabelsBeneathAndTabEverywhere(*Form, Form->Edit1);
}

} // namespace
