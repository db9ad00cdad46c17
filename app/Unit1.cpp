#include "Unit1.h"

#include "AutoSize.h"
#include "ErrorDisplay.h"
#include "SortedListBox.h"
#include "WindowLayout.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <type_traits>

TForm1* Form1 = nullptr;

namespace {

template <class W> W* Place(QWidget* AParent, const TControlLayout& ALayout) {
    auto* widget = new W(AParent);
    widget->setObjectName(QString::fromLatin1(ALayout.Name));
    widget->setGeometry(ALayout.Left, ALayout.Top, ALayout.Width, ALayout.Height);
    widget->setVisible(ALayout.Shown);
    return widget;
}

template <class W> W* PlaceWithText(QWidget* AParent, const TControlLayout& ALayout) {
    W* widget = Place<W>(AParent, ALayout);
    widget->setText(QString::fromLatin1(ALayout.Text));
    if constexpr (std::is_base_of_v<QLabel, W> || std::is_base_of_v<QCheckBox, W>) {
        GrowToText(widget);
    }
    return widget;
}

} // namespace

// The sink is bound to the log view once the controls exist.
TForm1::TForm1(QWidget* AParent) : QWidget(AParent), FSink(nullptr) {
    setWindowTitle(QString::fromLatin1(WindowCaption));
    move(WindowLeft, WindowTop);
    resize(WindowClientWidth, WindowClientHeight);
    // The design's font first; then faces of the same metrics (Arial's), which Debian has in
    // fonts-urw-base35 as Nimbus Sans; the style hint covers a system with none of them.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(WindowFontPixels);
    setFont(font);

    CreateControls();
    FSink = TLogSink(RichEdit1);
    TErrorDisplay::SetParent(this);

    connect(Button_clrlogs, &QPushButton::clicked, this,
            Guarded([this] { Button_clrlogsClick(); }));

    // Ticks from the start, in every layout; the game command poller hooks in here.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(Timer1Interval);
    Timer1->start();
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
    // Created in declaration order, which is also the keyboard focus order.
    Label1 = PlaceWithText<QLabel>(this, Control("Label1"));
    Button_connect = PlaceWithText<QPushButton>(this, Control("Button_connect"));
    Button_join = PlaceWithText<QPushButton>(this, Control("Button_join"));
    Edit1 = PlaceWithText<QLineEdit>(this, Control("Edit1"));
    Button_clrlogs = PlaceWithText<QPushButton>(this, Control("Button_clrlogs"));
    ch_autoscroll = PlaceWithText<QCheckBox>(this, Control("ch_autoscroll"));
    ch_autoscroll->setChecked(true);

    RichEdit1 = Place<QPlainTextEdit>(this, Control("RichEdit1"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setUndoRedoEnabled(false); // a log has nothing to undo; keeps memory flat
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    ed_nick = PlaceWithText<QLineEdit>(this, Control("ed_nick"));
    ed_serv = PlaceWithText<QLineEdit>(this, Control("ed_serv"));
    ed_port = PlaceWithText<QLineEdit>(this, Control("ed_port"));
    Label2 = PlaceWithText<QLabel>(this, Control("Label2"));
    Label3 = PlaceWithText<QLabel>(this, Control("Label3"));
    Label4 = PlaceWithText<QLabel>(this, Control("Label4"));
    Label5 = PlaceWithText<QLabel>(this, Control("Label5"));
    ed_channel = PlaceWithText<QLineEdit>(this, Control("ed_channel"));
    RichEdit3 = Place<QPlainTextEdit>(this, Control("RichEdit3"));
    // One line high; scroll bars would fill it (the design's view has none).
    RichEdit3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    RichEdit3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListBox2 = Place<TSortedListBox>(this, Control("ListBox2"));
    CheckBox1 = PlaceWithText<QCheckBox>(this, Control("CheckBox1"));
    CheckBox1->setChecked(true);

    Memo1 = Place<QPlainTextEdit>(this, Control("Memo1"));
    Memo1->setPlainText(QString::fromLatin1(Memo1Text));
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    // Kept as needed rather than none: a stand-in font taller than the design's would
    // otherwise hide the notice's last lines for good.
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Flat, in the window's own background colour, so it reads as a notice, not an input.
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    Memo1->setPalette(palette);
}

void TForm1::Addline(const std::string& ALine) {
    FSink.ShowLine(ALine, CheckBox1->isChecked(), ch_autoscroll->isChecked());
    FSink.WriteExchangeFiles();
}

void TForm1::Button_clrlogsClick() {
    FSink.ClearLog();
    SaveLog();
}

void TForm1::FormClose() {
    try {
        Addline("***SESSION END***");
    } catch (...) {
        TErrorDisplay::ShowCurrentException();
    }
    try {
        SaveLog();
    } catch (...) {
        TErrorDisplay::ShowCurrentException();
    }
}

void TForm1::closeEvent(QCloseEvent* AEvent) {
    FormClose();
    AEvent->accept();
}

void TForm1::SaveLog() {
    const QRect g = RichEdit1->geometry();
    TLogViewState state;
    state.Left = g.left();
    state.Top = g.top();
    state.Width = g.width();
    state.Height = g.height();
    state.TabOrder = RichEdit1TabOrder;
    state.Visible = !RichEdit1->isHidden();
    FSink.SaveLog(state);
}
