#include "FormFixture.h"
#include "SortedListBox.h"

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

TEST_F(WindowTest, TheLogAndTheWarningCannotBeEditedByTheUser) {
    Form->show();
    Form->RichEdit1->show();
    Form->Addline("logged");
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

TEST_F(WindowTest, NickListSortsWithoutRegardToLetterCase) {
    for (const char* nick : {"carol", "BOB2", "alice2", "_x", "bob", "Alice", "Zed", "dave"}) {
        Form->ListBox2->Add(QString::fromLatin1(nick));
    }
    EXPECT_EQ(Form->ListBox2->Items(),
              (QStringList{"_x", "Alice", "alice2", "bob", "BOB2", "carol", "dave", "Zed"}));
}

TEST_F(WindowTest, AutoscrollFollowsTheEndOnlyWhileTicked) {
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
}

TEST_F(WindowTest, RepeatingFailuresNeverStackMessageBoxes) {
    TErrorDisplay::SetPresenter({}); // the real, modal message box
    // Two ticks that fail every time, much faster than a second. While one of them shows its
    // box, the box's nested event loop keeps the other one running (Qt does not re-enter the
    // tick that is showing the box itself).
    QTimer first, second;
    int ticks = 0;
    for (QTimer* timer : {&first, &second}) {
        QObject::connect(timer, &QTimer::timeout, Guarded([&] {
                             ++ticks;
                             throw std::runtime_error("tick failed");
                         }));
    }
    // The user, who reads the box on top and closes it a while later.
    QTimer user;
    int shown = 0, mostBoxes = 0;
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
    // Back outside every box: each tick either opened one, which the user closed, or was dropped.
    EXPECT_FALSE(TErrorDisplay::Showing());
    EXPECT_EQ(mostBoxes, 1);
    EXPECT_GT(ticks, shown);
    EXPECT_EQ(TErrorDisplay::Dropped() - droppedBefore, ticks - shown);
}

} // namespace
