#include "Unit1.h"

#include "AutoSize.h"
#include "CommandPoller.h"
#include "ErrorDisplay.h"
#include "SortedListBox.h"
#include "WindowLayout.h"

#include <IdIRC.h>
#include <IdMainThreadQueue.h>
#include <IdSSLIOHandlerSocket.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <vector>

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

// An event handler of the window as the component calls it: whatever it throws is shown from
// the event loop afterwards, and never reaches the component, whose reader would end on it.
template <class... A> auto Shielded(TForm1* AForm, void (TForm1::*AHandler)(A...)) {
    return [AForm, AHandler](A... AArgs) {
        try {
            (AForm->*AHandler)(AArgs...);
        } catch (...) {
            TErrorDisplay::ShowCurrentExceptionLater(AForm);
        }
    };
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
    // One window is one run of the program: the poller starts from its first tick.
    ResetCommandPoller();

    connect(Button_clrlogs, &QPushButton::clicked, this,
            Guarded([this] { Button_clrlogsClick(); }));
    connect(Button_connect, &QPushButton::clicked, this,
            Guarded([this] { Button_connectClick(); }));
    connect(Button_join, &QPushButton::clicked, this, Guarded([this] { Button_joinClick(); }));
    Edit1->installEventFilter(this);

    CreateIRCbot();

    // Ticks from the start, in every layout: the game's commands are served before and
    // without a connection.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(Timer1Interval);
    connect(Timer1, &QTimer::timeout, this, Guarded([this] { Timer1Timer(); }));
    Timer1->start();

    ReconnectTimer = new QTimer(this);
    ReconnectTimer->setSingleShot(true);
    connect(ReconnectTimer, &QTimer::timeout, this, Guarded([this] { Reconnect(); }));
    SendTimer = new QTimer(this);
    SendTimer->setSingleShot(true);
    connect(SendTimer, &QTimer::timeout, this, Guarded([this] { SendQueued(); }));
}

TForm1::~TForm1() {
    ReconnectTimer->stop();
    SendTimer->stop();
    // The component's own disconnect raises its state change while the pointer is being
    // reset; the window has nothing to show for it any more.
    IRCbot->OnStateChange = nullptr;
    IRCbot.reset(); // waits for the reader, so nothing calls the wake-up below for it again
    TIdMainThreadQueue::Instance().SetWakeUp(nullptr);
}

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
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Flat, in the window's own background colour, so it reads as a notice, not an input.
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    Memo1->setPalette(palette);
    FitMemo1();

    // Tab leaves the text views instead of typing a tab into them, so the keyboard reaches
    // every control.
    for (QPlainTextEdit* view : {RichEdit1, RichEdit3, Memo1}) {
        view->setTabChangesFocus(true);
    }
    // Qt paints later siblings over earlier ones. Labels go to the bottom, so a label never
    // hides a field or a view it overlaps (Label5 lies inside the chat layout's log, and a
    // caption grown for a stand-in font may reach into its field).
    for (QLabel* label : {Label1, Label2, Label3, Label4, Label5}) {
        label->lower();
    }
}

namespace {

// The height the text takes in AFont at AWidth, as the view lays it out, and whether each of
// its lines took one row.
qreal TextHeight(const QString& AText, const QFont& AFont, qreal AWidth, bool& VOneRowEach) {
    VOneRowEach = true;
    qreal height = 0;
    for (const QString& text : AText.split(QLatin1Char('\n'))) {
        QTextLayout layout(text, AFont);
        layout.beginLayout();
        int rows = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(AWidth);
            // Each row's full height: the view scrolls by whole blocks of such rows.
            height += line.height();
            ++rows;
        }
        layout.endLayout();
        VOneRowEach = VOneRowEach && rows <= 1;
    }
    return height;
}

} // namespace

// The warning's lines were designed to fill the box's width one row each, in the design's
// font, and its fourteen rows overflow the designed height even then. A stand-in font runs a
// few per cent wider and taller, and a scroll bar taking its width wraps the longest lines
// into orphans. So the box keeps its place and width, has no scroll bar, and grows downwards
// (as far as the status line) to show every row whole; where the stand-in font is too big
// for that, the warning alone takes the largest pixel size, down to 8, at which it fits.
void TForm1::FitMemo1() {
    const QString text = Memo1->toPlainText();
    const qreal margin = Memo1->document()->documentMargin();
    const int frame = Memo1->height() - Memo1->contentsRect().height();
    const qreal width = Memo1->contentsRect().width() - 2 * margin;
    const int limit = Control("Label1").Top - 4 - Memo1->y() - frame;
    QFont font = Memo1->font();
    for (int pixels = font.pixelSize(); pixels >= 8; --pixels) {
        font.setPixelSize(pixels);
        bool oneRowEach = false;
        // The view counts its last pixel row out and the bottom margin in.
        const qreal height = 2 * margin + 1 + TextHeight(text, font, width, oneRowEach);
        if (oneRowEach && height <= limit) {
            if (pixels != Memo1->font().pixelSize()) {
                Memo1->setFont(font);
            }
            Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            Memo1->resize(Memo1->width(),
                          std::max(Memo1->height(), int(std::ceil(height)) + frame));
            return;
        }
    }
    // Nothing fits: all the room there is, and the scroll bar for the rest.
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Memo1->resize(Memo1->width(), limit + frame);
}

void TForm1::CreateIRCbot() {
    FTLSHandler = std::make_unique<TIdSSLIOHandlerSocket>();
    IRCbot = std::make_unique<TIdIRC>();
    TIdIRC& bot = *IRCbot;
    bot.SetMaxLineAction(maException);
    bot.SetReadTimeout(0);
    bot.SetHost("irc.quakenet.org"); // replaced from ed_serv before every connect
    bot.SetNick("Rivozuzove");
    bot.SetAltNick("Rivozuzove_");
    bot.SetUsername("Rivozuzove");
    bot.SetRealName("Rivozuzove");
    bot.Replies().SetVersion("Vozorur2.3");
    bot.Replies().SetClientInfo("Vozorur2.3");
    bot.SetUserMode({});

    bot.OnMessage = Shielded(this, &TForm1::IRCbotMessage);
    bot.OnNotice = Shielded(this, &TForm1::IRCbotNotice);
    bot.OnAction = Shielded(this, &TForm1::IRCbotAction);
    bot.OnConnect = Shielded(this, &TForm1::IRCbotConnect);
    bot.OnJoin = Shielded(this, &TForm1::IRCbotJoin);
    bot.OnPart = Shielded(this, &TForm1::IRCbotPart);
    bot.OnParted = Shielded(this, &TForm1::IRCbotParted);
    bot.OnKick = Shielded(this, &TForm1::IRCbotKick);
    bot.OnTopic = Shielded(this, &TForm1::IRCbotTopic);
    bot.OnNames = Shielded(this, &TForm1::IRCbotNames);
    bot.OnAway = Shielded(this, &TForm1::IRCbotAway);
    bot.OnUnAway = Shielded(this, &TForm1::IRCbotUnAway);
    bot.OnOp = Shielded(this, &TForm1::IRCbotOp);
    bot.OnDeop = Shielded(this, &TForm1::IRCbotDeop);
    bot.OnBan = Shielded(this, &TForm1::IRCbotBan);
    bot.OnUnban = Shielded(this, &TForm1::IRCbotUnban);
    bot.OnVoice = Shielded(this, &TForm1::IRCbotVoice);
    bot.OnDevoice = Shielded(this, &TForm1::IRCbotDevoice);
    bot.OnUserMode = Shielded(this, &TForm1::IRCbotUserMode);
    bot.OnUserModeChanged = Shielded(this, &TForm1::IRCbotUserModeChanged);
    // What the session needs to know besides: its own join and kick, refused joins, the
    // login that releases a held join.
    bot.OnJoined = Shielded(this, &TForm1::IRCbotJoined);
    bot.OnKicked = Shielded(this, &TForm1::IRCbotKicked);
    bot.OnError = Shielded(this, &TForm1::IRCbotError);
    bot.OnStateChange = Shielded(this, &TForm1::IRCbotStateChange);
    // Lines over the burst wait in the component: the send timer lets them go when due.
    bot.OnSendQueued = [this](TIdComponent*) {
        if (!SendTimer->isActive()) {
            SendTimer->start(std::max(0, IRCbot->SendDelay()));
        }
    };
    // The one event that may come on the reader's thread (it notices the server's close
    // first): it only asks the window's thread to look.
    bot.OnDisconnected = [this](TIdComponent*) {
        QMetaObject::invokeMethod(
            this, [this] { CheckConnection(); }, Qt::QueuedConnection);
    };

    // The reader hands its lines to this thread through the queue; each post wakes Qt's
    // event loop with a queued call that runs what is pending. No polling, no busy loop.
    TIdMainThreadQueue& queue = TIdMainThreadQueue::Instance();
    queue.RegisterMainThread();
    queue.SetWakeUp([this] {
        QMetaObject::invokeMethod(
            this, [] { TIdMainThreadQueue::Instance().ProcessPending(); }, Qt::QueuedConnection);
    });
}

bool TForm1::eventFilter(QObject* AWatched, QEvent* AEvent) {
    if (AWatched == Edit1 && AEvent->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(AEvent)->key();
        Guarded([this, key] { Edit1KeyUp(key); })();
    }
    return QWidget::eventFilter(AWatched, AEvent);
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
    ReconnectTimer->stop(); // a closing window tries nothing more
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
