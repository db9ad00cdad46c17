#include "IdRFCReply.h"

#include "IdGlobal.h"

void TIdRFCReply::SetNumericCode(int32_t AValue) {
    FNumericCode = AValue;
    if (AValue > 0) {
        FTextCode = std::to_string(AValue);
    }
}

void TIdRFCReply::SetTextCode(const std::string& AValue) {
    FTextCode = AValue;
    if (!AValue.empty()) {
        int32_t code = 0;
        FNumericCode = Id::TryStrToInt(AValue, code) ? code : 0;
    }
}

void TIdRFCReply::Clear() {
    FNumericCode = 0;
    FText.clear();
    FTextCode.clear();
}

void TIdRFCReply::Assign(const TIdRFCReply& ASource) {
    if (&ASource == this) {
        return;
    }
    FNumericCode = ASource.FNumericCode;
    FText = ASource.FText;
    FTextCode = ASource.FTextCode;
}

void TIdRFCReply::ParseResponse(const std::vector<std::string>& ALines) {
    Clear();
    if (ALines.empty()) {
        return;
    }
    std::string code = Id::Trim(ALines.front().substr(0, 4));
    if (code.size() == 4 && code[3] == '-') {
        code.resize(3);
    }
    SetTextCode(code);
    for (const std::string& line : ALines) {
        FText.push_back(line.size() > 4 ? line.substr(4) : std::string());
    }
}

std::string TIdRFCReply::TextWithLineBreaks() const {
    std::string result;
    for (const std::string& line : FText) {
        result += line;
        result += "\r\n";
    }
    return result;
}

EIdProtocolReplyError TIdRFCReply::ReplyError() const {
    return EIdProtocolReplyError(FNumericCode, TextWithLineBreaks());
}
