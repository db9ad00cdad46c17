// The four texts the component answers CTCP queries with.
#pragma once

#include <string>

class TIdIRCReplies {
public:
    // Version and ClientInfo identify the component; Finger and UserInfo start empty.
    TIdIRCReplies();

    // Copies all four texts. The component's Replies is assigned this way, so the object it
    // owns is never replaced.
    void Assign(const TIdIRCReplies& ASource);

    const std::string& Finger() const { return FFinger; }
    void SetFinger(const std::string& AValue) { FFinger = AValue; }
    const std::string& Version() const { return FVersion; }
    void SetVersion(const std::string& AValue) { FVersion = AValue; }
    const std::string& UserInfo() const { return FUserInfo; }
    void SetUserInfo(const std::string& AValue) { FUserInfo = AValue; }
    const std::string& ClientInfo() const { return FClientInfo; }
    void SetClientInfo(const std::string& AValue) { FClientInfo = AValue; }

private:
    std::string FFinger;
    std::string FVersion;
    std::string FUserInfo;
    std::string FClientInfo;
};
