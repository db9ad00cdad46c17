// A numeric protocol reply ("250-first line", "250 last line"): its code, both as a number
// and as text, and its text lines without the code.
#pragma once

#include "IdException.h"

#include <cstdint>
#include <string>
#include <vector>

class TIdRFCReply {
public:
    int32_t NumericCode() const { return FNumericCode; }
    // A code above 0 also sets TextCode to its decimal text; 0 or below leaves TextCode.
    void SetNumericCode(int32_t AValue);

    const std::vector<std::string>& Text() const { return FText; }
    std::vector<std::string>& Text() { return FText; }

    const std::string& TextCode() const { return FTextCode; }
    // A non-empty code also sets NumericCode to its value, or 0 when it is not a whole
    // number; an empty one leaves NumericCode.
    void SetTextCode(const std::string& AValue);

    void Clear();
    void Assign(const TIdRFCReply& ASource);

    // Fills the reply from the lines read off the wire. The code is the first line's first
    // four characters without surrounding blanks, cut to three when the fourth is the "-" of
    // a continued reply; each line adds its text from the fifth character on (an empty text
    // for a line of four characters or fewer).
    void ParseResponse(const std::vector<std::string>& ALines);

    // The text lines, each followed by CR LF: the message of a reply error.
    std::string TextWithLineBreaks() const;
    // The error that reports this reply: its numeric code and its text.
    EIdProtocolReplyError ReplyError() const;

private:
    int32_t FNumericCode = 0;
    std::vector<std::string> FText;
    std::string FTextCode;
};
