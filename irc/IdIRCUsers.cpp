#include "IdIRCUsers.h"

TIdIRCUser::TIdIRCUser(TIdIRCUsers* AOwner, const std::string& ANick, const std::string& AAddress)
    : FOwner(AOwner), FClient(AOwner->Client()), FNick(ANick), FAddress(AAddress) {}

void TIdIRCUser::SetNick(const std::string& AValue) {
    FOwner->FItems.Rename(this, AValue);
    FNick = AValue;
}

TIdIRCUser* TIdIRCUsers::Add(const std::string& ANick, const std::string& AAddress) {
    if (TIdIRCUser* user = FItems.Find(ANick)) {
        ++user->FCount;
        if (!AAddress.empty() && AAddress != user->FAddress) {
            user->FAddress = AAddress;
        }
        return user;
    }
    return FItems.Append(std::unique_ptr<TIdIRCUser>(new TIdIRCUser(this, ANick, AAddress)), ANick);
}

void TIdIRCUsers::Release(TIdIRCUser* AUser) {
    if (AUser == nullptr) {
        return;
    }
    --AUser->FCount;
    if (AUser->FCount == 0 && FItems.IsFirstOfItsName(AUser)) {
        FItems.Extract(AUser);
    }
}

bool TIdIRCUsers::Find(std::string_view ANick, int32_t& AIndex) const {
    const TIdIRCUser* user = FItems.Find(ANick);
    AIndex = user == nullptr ? -1 : FItems.PositionOf(user);
    return user != nullptr;
}
