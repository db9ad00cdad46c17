#include "FormFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <stdexcept>

namespace {

using WindowTest = FormFixture;

TEST_F(WindowTest, TheLogFollowsTheEndOnlyWhileAutoscrollIsTickedAndTakesNoTyping) {
    Form->show();
    Form->RichEdit1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    QScrollBar* bar = Form->RichEdit1->verticalScrollBar();
    const auto log = [&](int ACount) {
        for (int i = 0; i < ACount; ++i) {
            Form->Addline("line " + std::to_string(i));
        }
        QApplication::processEvents();
    };
    log(200);
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(Form->RichEdit1->textCursor().atEnd());
    Form->ch_autoscroll->setChecked(false);
    bar->setValue(10);
    const int maximumBefore = bar->maximum();
    log(100);
    EXPECT_GT(bar->maximum(), maximumBefore);
    EXPECT_EQ(bar->value(), 10);
    Form->ch_autoscroll->setChecked(true);
    log(1);
    EXPECT_EQ(bar->value(), bar->maximum());

    for (QPlainTextEdit* view : {Form->RichEdit1, Form->Memo1}) {
        SCOPED_TRACE(view->objectName().toStdString());
        const QString before = view->toPlainText();
        view->setFocus();
        QTest::keyClicks(view, "typed");
        QTest::keyClick(view, Qt::Key_Backspace);
        QTest::keyClick(view, Qt::Key_Return);
        EXPECT_EQ(view->toPlainText(), before);
    }
}

TEST_F(WindowTest, RepeatingFailuresNeverStackMessageBoxes) {
    TErrorDisplay::SetPresenter({}); // the real, modal message box
    // Two ticks failing much faster than a second: while one shows its box, the box's nested
    // event loop runs the other. The user reads the box on top and closes it a while later.
    QTimer first, second, user;
    int ticks = 0, shown = 0, mostBoxes = 0;
    for (QTimer* timer : {&first, &second}) {
        QObject::connect(timer, &QTimer::timeout, Guarded([&] {
                             ++ticks;
                             throw std::runtime_error("tick failed");
                         }));
    }
    QObject::connect(&user, &QTimer::timeout, [&] {
        int boxes = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            boxes += qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible();
        }
        mostBoxes = std::max(mostBoxes, boxes);
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            EXPECT_EQ(box->windowTitle() + QStringLiteral(": ") + box->text(),
                      QStringLiteral("Brisal: tick failed"));
            ++shown;
            box->accept();
        }
    });
    const int droppedBefore = TErrorDisplay::Dropped();
    first.start(5);
    second.start(7);
    user.start(100);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown >= 3; }, 5000));
    first.stop();
    second.stop();
    // Each tick either opened a box, which the user closed, or was dropped.
    EXPECT_FALSE(TErrorDisplay::Showing());
    EXPECT_EQ(mostBoxes, 1);
    EXPECT_EQ(TErrorDisplay::Dropped() - droppedBefore, ticks - shown);
}

} // namespace
