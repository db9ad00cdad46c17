// Connect, Join Channel and the input line, and what the join and chat controls say about
// the session: whether the client is in the channel, and whether the connection still lives.
//
// Text typed into the window goes to the wire and to the game's file as UTF-8.
#include "AutoSize.h"
#include "ErrorDisplay.h"
#include "SortedListBox.h"
#include "Unit1.h"

#include <IdException.h>
#include <IdIRC.h>
#include <IdIRCCaseFold.h>
#include <IdMainThreadQueue.h>
#include <IdSSLIOHandlerSocket.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace {

// The class library's conversion error.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Utf8(const QString& AText) {
    return AText.toUtf8().toStdString();
}

// A decimal integer of 32 bits, with an optional sign and nothing else.
int32_t StrToInt(const std::string& AText) {
    const auto invalid = [&] {
        return EConvertError("'" + AText + "' is not a valid integer value");
    };
    const size_t digits = !AText.empty() && (AText[0] == '+' || AText[0] == '-') ? 1 : 0;
    if (AText.size() <= digits ||
        AText.find_first_not_of("0123456789", digits) != std::string::npos) {
        throw invalid();
    }
    errno = 0;
    const long long value = std::strtoll(AText.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        throw invalid();
    }
    return int32_t(value);
}

// An error's text as a clause of the one-line status: a socket error's code and message are
// on two lines, and the status puts its own full stop.
std::string Clause(std::string_view AText) {
    std::string line;
    for (size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (c == '\n' && i > 0 && AText[i - 1] == '\r') {
            continue; // CR LF is one break
        }
        line += c == '\r' || c == '\n' ? ' ' : c;
    }
    while (!line.empty() && (line.back() == '.' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

} // namespace

std::string ChannelProblem(const std::string& AText) {
    static constexpr std::string_view prefixes = "#&+!";
    if (AText.empty() || prefixes.find(AText.front()) == std::string_view::npos) {
        return "'" + AText +
               "' is not a channel: a channel's name starts with #, &, + or ! (for example #" +
               AText + ").";
    }
    if (AText.size() == 1) {
        return "'" + AText + "' is not a channel: the name needs more than its prefix.";
    }
    for (unsigned char c : AText) {
        if (c == ' ' || c == ',' || c == 7 || c < 32) {
            return "'" + AText +
                   "' is not a channel: a channel's name holds no blanks, commas or control "
                   "characters.";
        }
    }
    return std::string();
}

namespace {

// The refusals a server answers a JOIN with: the channel is their second parameter.
bool RefusesJoin(const std::string& ANumeric) {
    static constexpr std::array<std::string_view, 10> refusals = {
        "403", "405", "437", "471", "473", "474", "475", "476", "477", "489"};
    for (std::string_view numeric : refusals) {
        if (ANumeric == numeric) {
            return true;
        }
    }
    return false;
}

} // namespace

TPortChoice PortChoice(const std::string& AText) {
    const bool plus = !AText.empty() && AText[0] == '+';
    const std::string digits = plus ? AText.substr(1) : AText;
    // "+" is the mark of TLS, not a sign: "++6697" and "+-1" are no ports.
    if (plus && (digits.empty() || digits[0] < '0' || digits[0] > '9')) {
        throw EConvertError("'" + AText + "' is not a valid integer value");
    }
    const int32_t port = StrToInt(digits);
    if (port < 1 || port > 65535) {
        throw EConvertError("'" + AText + "' is not a port: a port is a number from 1 to 65535.");
    }
    return {port, plus || port == 6697};
}

std::string TForm1::Channel() const {
    return Utf8(ed_channel->text());
}

bool TForm1::SameChannel(const std::string& AName) const {
    return IRCSameName(AName, Channel());
}

void TForm1::Button_connectClick() {
    const QString nick = ed_nick->text();
    if (nick == QLatin1String("Brisal")) {
        throw std::runtime_error("Please, change your nickname!");
    }
    IRCbot->SetNick(Utf8(nick));
    IRCbot->SetHost(Utf8(ed_serv->text()));
    const TPortChoice port = PortChoice(Utf8(ed_port->text()));
    IRCbot->SetPort(port.Port);
    // Chosen once: the connect layout never comes back, and reconnects keep the handler.
    FEncrypted = port.TLS;
    IRCbot->SetIOHandler(port.TLS ? FTLSHandler.get() : nullptr);

    // Hidden for good: nothing ever shows them again (the button's own click is running).
    for (QWidget* gone : {static_cast<QWidget*>(ed_nick), static_cast<QWidget*>(ed_serv),
                          static_cast<QWidget*>(ed_port), static_cast<QWidget*>(Label2),
                          static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                          static_cast<QWidget*>(Button_connect)}) {
        gone->hide();
    }
    Label5->show();
    ed_channel->show();
    Button_join->show();
    ed_channel->setFocus();

    try {
        IRCbot->Connect(100);
    } catch (...) {
        SetChatState(chConnectionEnded, "Could not connect to IRC server.");
        throw;
    }
}

void TForm1::IRCbotConnect(TIdComponent*) {
    SetCaption(Label1, FEncrypted ? QStringLiteral("Connected to IRC server! The connection is "
                                                   "encrypted (%1).")
                                        .arg(QString::fromStdString(FTLSHandler->Cipher()))
                                  : QStringLiteral("Connected to IRC server!"));
    SetChatState(chConnected);
}

void TForm1::Button_joinClick() {
    const std::string channel = Channel();
    if (const std::string problem = ChannelProblem(channel); !problem.empty()) {
        ed_channel->setFocus();
        throw std::runtime_error(problem);
    }
    FJoinAsked = true;
    ed_channel->hide();
    Button_join->hide();
    RichEdit1->show();
    Edit1->show();
    Memo1->hide();
    if (FChatState == chConnected) {
        // A JOIN before the server's welcome is refused and never repeated; it waits.
        if (IRCbot->State() == csLoggedIn) {
            SendJoin();
        } else {
            SetChatState(chJoinHeld);
        }
    } else {
        SetChatState(FChatState); // says why nothing can be sent
    }
}

void TForm1::SendJoin() {
    SetChatState(chJoining);
    IRCbot->Join(Channel());
}

void TForm1::IRCbotStateChange(TIdComponent* Sender) {
    if (static_cast<TIdIRC*>(Sender)->State() != csLoggedIn) {
        return;
    }
    FLoggedIn = true;
    FReconnectAttempt = 0; // logged in again: the next loss waits the shortest time again
    if (FChatState == chJoinHeld) {
        SendJoin();
    }
}

void TForm1::IRCbotJoined(TIdIRC*, TIdIRCChannel* AChannel) {
    if (AChannel != nullptr && SameChannel(AChannel->Name())) {
        SetChatState(chInChannel);
    }
}

void TForm1::IRCbotKicked(TIdIRC*, TIdIRCUser* AUser, TIdIRCChannel* AChannel) {
    const std::string kicker = AUser != nullptr ? AUser->Nick() : std::string();
    const std::string name = AChannel != nullptr ? AChannel->Name() : std::string();
    if (SameChannel(name)) {
        SetChatState(chNotInChannel, "kicked by " + kicker);
    }
    Addline("**You have been kicked off of " + name + " by " + kicker + ".");
}

// A refusal's text is "nick channel :reason".
void TForm1::IRCbotError(TIdIRC*, TIdIRCUser*, const std::string& ANumeric,
                         const std::string& AError) {
    if (!RefusesJoin(ANumeric) || (FChatState != chJoining && FChatState != chJoinHeld)) {
        return;
    }
    const size_t channelAt = AError.find(' ');
    if (channelAt == std::string::npos) {
        return;
    }
    const size_t channelEnd = AError.find(' ', channelAt + 1);
    const std::string channel = AError.substr(channelAt + 1, channelEnd - channelAt - 1);
    if (!SameChannel(channel)) {
        return;
    }
    std::string reason;
    if (const size_t colon = AError.find(" :"); colon != std::string::npos) {
        reason = AError.substr(colon + 2);
    } else if (channelEnd != std::string::npos) {
        reason = AError.substr(channelEnd + 1);
    }
    SetChatState(chNotInChannel, reason);
    Addline("**Cannot join " + channel + ": " + reason);
}

void TForm1::Edit1KeyUp(int AKey) {
    if (AKey != Qt::Key_Return && AKey != Qt::Key_Enter) {
        return;
    }
    if (FChatState != chInChannel) {
        return; // the field is disabled and says why; nothing is sent, nothing echoed
    }
    const std::string text = Utf8(Edit1->text());
    IRCbot->Say(Channel(), text);
    Edit1->clear(); // sent: an echo that cannot be written must not invite a second Enter
    Addline("(*" + IRCbot->Nick() + "*) " + text);
}

void TForm1::CheckConnection() {
    if (FChatState == chNotConnected || FChatState == chConnectionEnded ||
        FChatState == chReconnectWait) {
        return;
    }
    if (IRCbot->Connected() && !IRCbot->ReadThreadEnded()) {
        return;
    }
    if (!IRCbot->ReadThreadEnded()) {
        // The reader still hands over what arrived before the close, and those lines come
        // first: a JOIN among them must not land after the loss is shown. It ends soon.
        QTimer::singleShot(20, this, [this] { CheckConnection(); });
        return;
    }
    if (!FLoggedIn) {
        // Never logged in: a wrong server or port, which trying again will not mend.
        SetChatState(chConnectionEnded, IRCbot->LostReason().empty()
                                            ? "Disconnected from IRC server."
                                            : "Connection lost: " + EndReason() + ".");
        return;
    }
    ListBox2->clear(); // a WHO meanwhile must not list who was there; the rejoin refills it
    std::string why = "Connection lost: " + EndReason() + ".";
    const size_t unsent = IRCbot->UnsentCount() + IRCbot->SendQueueCount();
    if (unsent > 0) {
        why += " " + std::to_string(unsent) + " waiting line(s) were not sent.";
    }
    ScheduleReconnect(why);
}

std::string TForm1::EndReason() const {
    std::string why = IRCbot->LostReason();
    if (why.empty()) {
        why = IRCbot->ReadThreadEndedWith();
    }
    why = Clause(why);
    return why.empty() ? "the connection ended" : why;
}

void TForm1::ScheduleReconnect(const std::string& AWhy) {
    ++FReconnectAttempt;
    const size_t step = std::min<size_t>(
        size_t(FReconnectAttempt) - 1, FReconnectDelays.empty() ? 0 : FReconnectDelays.size() - 1);
    const int32_t wait = FReconnectDelays.empty() ? 0 : FReconnectDelays[step];
    SetChatState(chReconnectWait, AWhy + " Reconnecting in " + std::to_string((wait + 999) / 1000) +
                                      " s (attempt " + std::to_string(FReconnectAttempt) + ")...");
    ReconnectTimer->start(wait);
}

void TForm1::Reconnect() {
    const std::string attempt = "attempt " + std::to_string(FReconnectAttempt);
    SetCaption(Label1, QString::fromStdString("Reconnecting (" + attempt + ")..."));
    try {
        // The nick the player typed (the component keeps it), with its fallbacks.
        IRCbot->Connect();
    } catch (const std::exception& e) {
        ScheduleReconnect("Reconnect " + attempt + " failed: " + Clause(e.what()) + ".");
        return;
    }
    if (FJoinAsked) {
        SetChatState(chJoinHeld); // joined again once the server logs the client in
    }
}

void TForm1::SendQueued() {
    try {
        IRCbot->SendDue();
    } catch (const EIdException&) {
        // The connection went while lines waited: the loss is shown, not a socket error.
        CheckConnection();
        return;
    }
    if (const int32_t delay = IRCbot->SendDelay(); delay >= 0) {
        SendTimer->start(delay);
    }
}

void TForm1::SetChatState(TChatState AState, const std::string& AReason) {
    FChatState = AState;
    const QString channel = ed_channel->text();
    QString says;
    switch (AState) {
    case chNotConnected:
        says = QStringLiteral("Not connected: nothing typed here is sent.");
        break;
    case chConnected:
    case chInChannel:
        break;
    case chJoinHeld:
        says =
            QStringLiteral("Waiting for the server to log us in, then joining %1...").arg(channel);
        break;
    case chJoining:
        says = QStringLiteral("Joining %1...").arg(channel);
        break;
    case chNotInChannel:
        says = QStringLiteral("Not in %1 (%2): nothing typed here is sent.")
                   .arg(channel, QString::fromUtf8(AReason));
        break;
    case chConnectionEnded:
        SetCaption(Label1, QString::fromUtf8(AReason));
        says = QStringLiteral("%1 Nothing typed here is sent.").arg(QString::fromUtf8(AReason));
        Button_join->setEnabled(false);
        break;
    case chReconnectWait:
        SetCaption(Label1, QString::fromUtf8(AReason));
        says = QStringLiteral("Disconnected, waiting to reconnect: nothing typed here is sent.");
        break;
    }
    Edit1->setPlaceholderText(says);
    Edit1->setEnabled(AState == chInChannel);
    if (AState == chInChannel && Edit1->isVisible()) {
        Edit1->setFocus();
    }
}
