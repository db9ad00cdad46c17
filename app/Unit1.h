// The bridge's one window: its controls, the IRC component it drives, the log sink every line
// passes through, and the handlers of the window, the timer and the component's events.
//
// The handlers live in three files beside this one, by concern:
//   ChatActions.cpp   Connect, Join Channel, the input line, and the state of the session
//   CommandPoller.cpp the game's command file, read once a second
//   EventLines.cpp    the component's events turned into log lines and the nick list
#pragma once

#include "LogSink.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QCloseEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TIdComponent;
class TIdIRC;
class TIdIRCChannel;
class TIdIRCUser;
class TIdIRCUsers;
class TIdSSLIOHandlerSocket;
class TSortedListBox;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* AParent = nullptr);
    ~TForm1() override;

    // Logs one line: the screen and the stores first, then the two game files. A file
    // failure raises after the screen and the stores are already updated.
    void Addline(const std::string& ALine);

    void Button_clrlogsClick();
    // Logs "***SESSION END***" and saves "IRC.log". Failures are shown, and never stop the
    // rest of the close: a missing data directory must not trap the user in the window.
    void FormClose();

    // --- Connect, join and send (ChatActions.cpp) -------------------------------------
    void Button_connectClick();
    void IRCbotConnect(TIdComponent* Sender);
    void Button_joinClick();
    void Edit1KeyUp(int AKey);

    // Where the session stands, as the join and chat controls show it.
    enum TChatState {
        chNotConnected,    // before Connect, or a connect that failed
        chConnected,       // registering or logged in, no channel asked for yet
        chJoinHeld,        // Join clicked before the server logged the client in
        chJoining,         // JOIN sent, the server has not confirmed it yet
        chInChannel,       // the server confirmed the client's own JOIN
        chNotInChannel,    // the join was refused, or the client was kicked or parted
        chConnectionEnded, // the server closed the connection or the reader stopped
        chReconnectWait    // a logged-in connection ended; the next attempt is timed
    };
    TChatState ChatState() const { return FChatState; }
    // The handler of a TLS connection (a port typed with "+", or 6697). It trusts the system's
    // store; tests point it at their own authority.
    TIdSSLIOHandlerSocket& TLSHandler() { return *FTLSHandler; }

    // A connection that had logged in and ends without the player ending it is tried again
    // after each of these waits in turn, then after the last one for good; a connection that
    // logs in again starts from the first. Settable so that tests need not wait minutes.
    void SetReconnectDelays(std::vector<int32_t> AMilliseconds) {
        FReconnectDelays = std::move(AMilliseconds);
    }
    int32_t ReconnectAttempt() const { return FReconnectAttempt; }

    // --- The game's command file (CommandPoller.cpp) ----------------------------------
    void Timer1Timer();

    // --- The component's events (EventLines.cpp) --------------------------------------
    void IRCbotMessage(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                       const std::string& Content);
    void IRCbotAction(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                      const std::string& Content);
    void IRCbotNotice(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                      const std::string& Content);
    void IRCbotJoin(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel);
    void IRCbotPart(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel);
    void IRCbotParted(TIdIRC* Sender, TIdIRCChannel* AChannel);
    void IRCbotKick(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCUser* AVictim,
                    TIdIRCChannel* AChannel);
    void IRCbotTopic(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                     const std::string& AChanName, const std::string& ATopic);
    void IRCbotAway(TIdIRC* Sender, TIdIRCUser* AUser);
    void IRCbotUnAway(TIdIRC* Sender, const std::string& AContent);
    void IRCbotOp(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel, TIdIRCUser* ATarget);
    void IRCbotDeop(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                    TIdIRCUser* ATarget);
    void IRCbotVoice(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                     TIdIRCUser* ATarget);
    void IRCbotDevoice(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                       TIdIRCUser* ATarget);
    void IRCbotBan(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                   const std::string& AHostmask);
    void IRCbotUnban(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel,
                     const std::string& AHostmask);
    void IRCbotUserMode(TIdIRC* Sender, const std::string& AModes);
    void IRCbotUserModeChanged(TIdComponent* Sender);
    void IRCbotNames(TIdIRC* Sender, TIdIRCUsers* AUsers, TIdIRCChannel* AChannel);
    // The session's own events: the client's own join and kick, refused joins, the login.
    void IRCbotJoined(TIdIRC* Sender, TIdIRCChannel* AChannel);
    void IRCbotKicked(TIdIRC* Sender, TIdIRCUser* AUser, TIdIRCChannel* AChannel);
    void IRCbotError(TIdIRC* Sender, TIdIRCUser* AUser, const std::string& ANumeric,
                     const std::string& AError);
    void IRCbotStateChange(TIdComponent* Sender);

    // The controls, in the order the window declares them. The window owns them all.
    QLabel* Label1;
    QPushButton* Button_connect;
    QPushButton* Button_join;
    QLineEdit* Edit1;
    QPushButton* Button_clrlogs;
    std::unique_ptr<TIdIRC> IRCbot;
    QCheckBox* ch_autoscroll;
    QPlainTextEdit* RichEdit1;
    QLineEdit* ed_nick;
    QLineEdit* ed_serv;
    QLineEdit* ed_port;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLineEdit* ed_channel;
    QTimer* Timer1;
    // Single-shot: the next reconnect attempt, and the next paced line.
    QTimer* ReconnectTimer;
    QTimer* SendTimer;
    QPlainTextEdit* RichEdit3;
    TSortedListBox* ListBox2;
    QCheckBox* CheckBox1;
    QPlainTextEdit* Memo1;

    // The two stores the user never sees: the upper-cased copy of every log line, and the
    // game output text. Plain data, not widgets.
    const std::vector<std::string>& ListBox1() const { return FSink.HiddenList(); }
    const TGameOutput& RichEdit2() const { return FSink.GameOutput(); }
    const TLogLines& LogLines() const { return FSink.LogLines(); }
    TLogSink& Sink() { return FSink; }

    // The channel typed into ed_channel, as the bytes that go to the wire (UTF-8).
    std::string Channel() const;

protected:
    void closeEvent(QCloseEvent* AEvent) override;
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
    void CreateControls();
    void CreateIRCbot();
    void SaveLog();
    void FitMemo1();
    // Whether AName is the channel typed into ed_channel (IRC names ignore letter case).
    bool SameChannel(const std::string& AName) const;
    // The join and chat controls follow the session's state.
    void SetChatState(TChatState AState, const std::string& AReason = std::string());
    // Notices a connection that has ended (the server closed it, the reader stopped).
    void CheckConnection();
    void SendJoin();
    // Why the connection ended, as the component or its reader tells it.
    std::string EndReason() const;
    void ScheduleReconnect(const std::string& AWhy);
    void Reconnect();
    void SendQueued();

    TLogSink FSink;
    std::unique_ptr<TIdSSLIOHandlerSocket> FTLSHandler; // the component's handler when chosen
    bool FEncrypted = false;                            // the player chose TLS
    TChatState FChatState = chNotConnected;
    std::vector<int32_t> FReconnectDelays{5000, 15000, 30000, 60000};
    int32_t FReconnectAttempt = 0; // of the current run of attempts; 0 while none runs
    bool FLoggedIn = false;        // a connection of this session has logged in
    bool FJoinAsked = false;       // the player asked for the channel: a reconnect rejoins it
};

// Why AText cannot be joined as a channel (a clear message for the user), or empty when it
// can: a channel's name starts with #, &, + or ! and holds no blank, comma or control byte.
std::string ChannelProblem(const std::string& AText);

// The port the player typed: decimal, 1 to 65535, with a leading "+" for TLS (the form many IRC
// clients use); 6697 is TLS as typed, since nothing else uses it. Raises a clear message for
// anything else.
struct TPortChoice {
    int32_t Port = 0;
    bool TLS = false;
};
TPortChoice PortChoice(const std::string& AText);

// The main window, set by the program's entry while the window exists.
extern TForm1* Form1;
