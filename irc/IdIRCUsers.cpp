#include "IdIRCUsers.h"

#include "IdIRCSameBytes.h"

TIdIRCUser::TIdIRCUser(TIdIRCUsers* AOwner, std::string_view ANick, std::string_view AAddress)
    : FOwner(AOwner), FClient(AOwner->Client()), FNick(ANick), FAddress(AAddress) {}

void TIdIRCUser::Renew(std::string_view ANick, std::string_view AAddress) {
    FNick = ANick;
    FAddress = AAddress;
    FReason.clear();
    FCount = 1;
}

void TIdIRCUser::SetNick(const std::string& AValue) {
    FOwner->FItems.Rename(this, AValue);
    FNick = AValue;
}

TIdIRCUser* TIdIRCUsers::Add(std::string_view ANick, std::string_view AAddress) {
    if (TIdIRCUser* user = FItems.Find(ANick)) {
        ++user->FCount;
        if (!AAddress.empty() && !SameBytes(AAddress, user->FAddress)) {
            user->FAddress = AAddress;
        }
        return user;
    }
    if (FSpare) {
        FSpare->Renew(ANick, AAddress);
        return FItems.AppendMissed(std::move(FSpare));
    }
    return FItems.AppendMissed(std::unique_ptr<TIdIRCUser>(new TIdIRCUser(this, ANick, AAddress)));
}

void TIdIRCUsers::Release(TIdIRCUser* AUser) {
    if (AUser == nullptr) {
        return;
    }
    --AUser->FCount;
    if (AUser->FCount == 0) {
        if (std::unique_ptr<TIdIRCUser> freed = FItems.ExtractIfFirstOfItsName(AUser)) {
            FSpare = std::move(freed);
        }
    }
}

bool TIdIRCUsers::Find(std::string_view ANick, int32_t& AIndex) const {
    const TIdIRCUser* user = FItems.Find(ANick);
    AIndex = user == nullptr ? -1 : FItems.PositionOf(user);
    return user != nullptr;
}
