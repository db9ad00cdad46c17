#include "FormFixture.h"
#include "SortedListBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <stdexcept>

namespace {

using WindowTest = FormFixture;

// The design's table, kept apart from the program's own copy so a slip in either shows.
const struct {
    const char* Name;
    const char* Kind;
    const char* Text; // null: checked line for line below
    bool Shown;
    QRect Geometry;
} Rows[] = {
    {"Label1", "QLabel", "Status", true, {8, 616, 30, 13}},
    {"Button_connect", "QPushButton", "Connect", true, {480, 312, 75, 25}},
    {"Button_join", "QPushButton", "Join Channel", false, {293, 360, 75, 25}},
    {"Edit1", "QLineEdit", "", false, {8, 592, 873, 21}},
    {"Button_clrlogs", "QPushButton", "Clear Logs", true, {6, 8, 75, 25}},
    {"ch_autoscroll", "QCheckBox", "Autoscroll", true, {680, 0, 97, 17}},
    {"RichEdit1", "QPlainTextEdit", "", false, {16, 40, 737, 545}},
    {"ed_nick", "QLineEdit", "Brisal", true, {432, 232, 169, 21}},
    {"ed_serv", "QLineEdit", "irc.libera.chat", true, {432, 256, 169, 21}},
    {"ed_port", "QLineEdit", "6667", true, {432, 280, 169, 21}},
    {"Label2", "QLabel", "Nickname", true, {382, 236, 48, 13}},
    {"Label3", "QLabel", "Server", true, {398, 261, 31, 13}},
    {"Label4", "QLabel", "Port", true, {410, 283, 19, 13}},
    {"Label5", "QLabel", "Channel", false, {382, 363, 39, 13}},
    {"ed_channel", "QLineEdit", "#velmor", false, {424, 360, 169, 21}},
    {"RichEdit3", "QPlainTextEdit", "", true, {88, 8, 577, 25}},
    {"ListBox2", "QListWidget", "", true, {760, 40, 121, 545}},
    {"CheckBox1", "QCheckBox", "Backwards Write (for TALO output)", true, {680, 16, 201, 17}},
    {"Memo1", "QPlainTextEdit", nullptr, true, {16, 400, 729, 153}},
};

TEST_F(WindowTest, OpensInTheConnectLayoutWithEveryControlWhereTheDesignPutsIt) {
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Brisal v2.3"));
    EXPECT_EQ(Form->pos(), QPoint(515, 150));
    EXPECT_EQ(Form->font().pixelSize(), 11);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const QRect client = Form->rect();
    for (const auto& row : Rows) {
        SCOPED_TRACE(row.Name);
        auto* widget = Form->findChild<QWidget*>(QString::fromLatin1(row.Name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), Form.get());
        EXPECT_TRUE(widget->inherits(row.Kind)) << widget->metaObject()->className();
        if (widget->inherits("QLabel") || widget->inherits("QCheckBox")) {
            // Sized to their text: the designed place and height, at least the designed
            // width, and wide enough for the text in the font actually used.
            EXPECT_EQ(widget->pos(), row.Geometry.topLeft());
            EXPECT_EQ(widget->height(), row.Geometry.height());
            EXPECT_GE(widget->width(), row.Geometry.width());
            EXPECT_GE(widget->width(), widget->sizeHint().width());
        } else if (QString::fromLatin1(row.Name) == QLatin1String("Memo1")) {
            // Grown downwards to whole rows (see the warning's test), never shrunk.
            EXPECT_EQ(widget->pos(), row.Geometry.topLeft());
            EXPECT_EQ(widget->width(), row.Geometry.width());
            EXPECT_GE(widget->height(), row.Geometry.height());
        } else {
            EXPECT_EQ(widget->geometry(), row.Geometry);
        }
        EXPECT_EQ(widget->isVisible(), row.Shown);
        EXPECT_TRUE(client.contains(widget->geometry())) << "outside the client area";
        if (row.Text) { // labels, buttons and fields have "text"; the views "plainText"
            const QVariant text = widget->property("text");
            EXPECT_EQ((text.isValid() ? text : widget->property("plainText")).toString(),
                      QString::fromLatin1(row.Text));
        }
    }
    // A caption grown to its text must not run into the field it names.
    EXPECT_LT(Form->Label2->geometry().right(), Form->ed_nick->x());
    EXPECT_LT(Form->Label3->geometry().right(), Form->ed_serv->x());
    EXPECT_LT(Form->Label4->geometry().right(), Form->ed_port->x());
    EXPECT_TRUE(Form->ch_autoscroll->isChecked());
    EXPECT_TRUE(Form->CheckBox1->isChecked());
    EXPECT_TRUE(Form->Timer1->isActive() && Form->Timer1->interval() == 1000);
    EXPECT_LE(client.height(), 664) << "the design's two stores must lie below the client area";
}

TEST_F(WindowTest, Memo1HoldsTheFloodgateWarningLineForLine) {
    const QStringList expected = {
        "Warning.",
        "If the program keeps responding with '!!!FLOODGATE!!!', the Floodgate has been activaed "
        "for that line, preventing it from being transmitted to the IRC ",
        "channel.",
        "The floodgate is activated when both the line you're trying to transmit is equal to the "
        "previous one, and the time between both lines is a second or less.",
        "The floodgate has been designed to combat situations where Orbel's file becomes blocked "
        "(can't be deleted), and thus causes you to flood the channel ",
        "with the same line over and over again.",
        "The floodgate automatically deactivates itself.",
        "",
        "If the floodgate is being activated without you accidentally trying to say the same "
        "thing twice rapidly, something is wrong (tm). You might want to try telling ",
        "us about it, if you want Brisal to be improved.",
        "",
        "VISTA USERS:",
        "The floodgate might be activated if either Velmor (the windows port) or Brisal isn't "
        "being ran with Windows XP compatibility mode (we're not sure ",
        "which needs to be put into compatibility mode, as of yet).",
    };
    EXPECT_EQ(Form->Memo1->toPlainText().split(QLatin1Char('\n')), expected);
}

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
