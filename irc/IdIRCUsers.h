// The users the IRC client knows, reference-counted and found by nickname.
//
// Wiring by the component: `TIdIRCUsers FUsers(this)`. The registry keeps its client only to
// hand it out as Client(); it never calls it. Everything here runs on the window's thread.
#pragma once

#include "IdIRCEvents.h"
#include "IdIRCNamedList.h"

#include <cstdint>
#include <string>
#include <string_view>

class TIdIRCUser : public TIdIRCNamedItem {
public:
    TIdIRC* Client() const { return FClient; }
    const std::string& Nick() const { return FNick; }
    // Renames the user; its collection finds it under the new name from now on.
    void SetNick(const std::string& AValue);
    const std::string& Address() const { return FAddress; }
    void SetAddress(const std::string& AValue) { FAddress = AValue; }
    const std::string& Reason() const { return FReason; }
    void SetReason(const std::string& AValue) { FReason = AValue; }
    int32_t Count() const { return FCount; }

private:
    friend class TIdIRCUsers;
    TIdIRCUser(TIdIRCUsers* AOwner, std::string_view ANick, std::string_view AAddress);
    // A freed user taken up again as a new one.
    void Renew(std::string_view ANick, std::string_view AAddress);

    TIdIRCUsers* FOwner;
    TIdIRC* FClient;
    std::string FNick;
    std::string FAddress;
    std::string FReason;
    int32_t FCount = 1;
};

class TIdIRCUsers {
public:
    explicit TIdIRCUsers(TIdIRC* AClient) : FClient(AClient) {}
    TIdIRCUsers(const TIdIRCUsers&) = delete;
    TIdIRCUsers& operator=(const TIdIRCUsers&) = delete;

    TIdIRC* Client() const { return FClient; }
    int32_t Count() const { return FItems.Count(); }

    // Finds the user by nickname and counts one more reference, taking the address when it is
    // given and differs; or appends a new user with one reference.
    TIdIRCUser* Add(std::string_view ANick, std::string_view AAddress);
    // Counts one reference less. At 0 the user is freed, but only if a search by its nickname
    // finds this very user first: an entry shadowed by an earlier namesake stays, at 0.
    void Release(TIdIRCUser* AUser);
    // The first user under that nickname and its 0-based index; false and -1 when none.
    bool Find(std::string_view ANick, int32_t& AIndex) const;
    TIdIRCUser* Get(std::string_view ANick) const { return FItems.Find(ANick); }
    // Raises std::out_of_range outside 0 .. Count() - 1.
    TIdIRCUser* Items(int32_t AIndex) const { return FItems.At(AIndex); }
    // Frees every user: the start of a connect.
    void Clear() { FItems.Clear(); }

private:
    friend class TIdIRCUser;
    TIdIRC* FClient;
    TIdIRCNamedList<TIdIRCUser> FItems;
    // The last user freed, kept to be the next one added: the sender of every line is added
    // and released around it, and one who is in no channel comes and goes each time.
    std::unique_ptr<TIdIRCUser> FSpare;
};
