#include "IdRFCReply.h"

#include "IdGlobal.h"

namespace {

// Blanks are spaces and control characters (a stray tab or CR around the code).
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) {
        ++first;
    }
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

} // namespace

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
    std::string code = Trim(ALines.front().substr(0, 4));
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
