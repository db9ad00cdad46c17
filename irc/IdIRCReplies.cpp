#include "IdIRCReplies.h"

namespace {
const char* const kIdentification = "TIdIRC 1.061";
} // namespace

TIdIRCReplies::TIdIRCReplies()
    : FVersion(kIdentification),
      FClientInfo(std::string(kIdentification) +
                  " IRC client component: ACTION PING FINGER USERINFO VERSION CLIENTINFO TIME") {}

void TIdIRCReplies::Assign(const TIdIRCReplies& ASource) {
    if (&ASource == this) {
        return;
    }
    FFinger = ASource.FFinger;
    FVersion = ASource.FVersion;
    FUserInfo = ASource.FUserInfo;
    FClientInfo = ASource.FClientInfo;
}
