// TIdIRC's client-to-client requests: CTCP queries (in a PRIVMSG) with their automatic answers,
// CTCP replies (in a NOTICE), actions, and DCC offers decoded into events. The framing, the
// answer texts and the DCC fields are the pure functions of IdIRCCTCP; this file decides what
// is raised and what is sent.
#include "IdIRC.h"

#include "IdIRCCTCP.h"

void TIdIRC::HandleCTCPQuery() {
    const Id::TIdIRCCTCPRequest request = Id::SplitCTCP(Param(2));
    // The sender's entry, held once more for the length of the query.
    TIdIRCUser* user = FUsers.Add(FLine.SenderNickView(), FLine.SenderAddressView());
    const THeldUser held(*this, user);
    TIdIRCChannel* channel = FChannels.Get(Param(1));
    const int index = Id::CTCPIndex(request.Command);
    if (index == Id::ctcpAction) {
        RaiseEvent(OnAction, this, user, channel, request.Arguments);
        return;
    }
    if (index == Id::ctcpDCC) {
        HandleDCC(request.Arguments);
        return;
    }
    bool suppress = false;
    RaiseEvent(OnCTCPQuery, this, user, channel, request.Command, request.Arguments, suppress);
    if (suppress || !held.Alive()) {
        return;
    }
    const std::tm now = index == Id::ctcpTime ? Id::LocalTimeNow() : std::tm{};
    const std::optional<std::string> answer = Id::CTCPAnswer(
        request.Command, request.Arguments,
        {FReplies.Finger(), FReplies.Version(), FReplies.UserInfo(), FReplies.ClientInfo()}, now);
    // To the sender's nick even for a query to a channel; a burst of queries is answered as
    // far as the rate limit allows and the rest is dropped, so a channel full of VERSION
    // queries cannot get the client thrown off for flooding.
    // An answer that finds the send queue full is dropped like one over the rate limit: it
    // is the client's own, and the player's lines have the queue's room.
    if (answer && FCTCPLimiter.Allow(FLine.SenderNick)) {
        try {
            CTCPReply(FLine.SenderNick, request.Command, *answer);
        } catch (const EIdIRCSendQueueFull&) {
        }
    }
}

void TIdIRC::HandleCTCPReply() {
    const Id::TIdIRCCTCPRequest request = Id::SplitCTCP(Param(2));
    // A DCC offer has no business in a NOTICE: dropped. No reply is ever answered.
    if (!OnCTCPReply || Id::CTCPIndex(request.Command) == Id::ctcpDCC) {
        return;
    }
    TIdIRCUser* user = FUsers.Add(FLine.SenderNickView(), FLine.SenderAddressView());
    const THeldUser held(*this, user);
    OnCTCPReply(this, user, FChannels.Get(Param(1)), request.Command, request.Arguments);
}

// An offer with a field missing (or cut out empty) is dropped whole: an address without its
// port cannot be acted on, and passing empty strings would make the application connect to
// nothing. Fields are passed as received; nothing is converted, so no number is too large.
void TIdIRC::HandleDCC(const std::string& AArguments) {
    if (!OnDCCSend && !OnDCCChat && !OnDCCResume && !OnDCCAccept) {
        return;
    }
    const std::optional<Id::TIdIRCDCCOffer> offer = Id::DecodeDCC(AArguments);
    if (!offer) {
        return;
    }
    const std::string& nick = FLine.SenderNick;
    switch (offer->Kind) {
    case Id::dccSend:
        RaiseEvent(OnDCCSend, this, nick, offer->Ip, offer->Port, offer->FileName, offer->FileSize);
        break;
    case Id::dccChat:
        RaiseEvent(OnDCCChat, this, nick, offer->Ip, offer->Port);
        break;
    case Id::dccResume:
        RaiseEvent(OnDCCResume, this, nick, offer->Port, offer->FileName, offer->Position);
        break;
    case Id::dccAccept:
        RaiseEvent(OnDCCAccept, this, nick, offer->Port, offer->FileName, offer->Position);
        break;
    }
}
