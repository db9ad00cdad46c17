#include "LogLines.h"

std::vector<std::string_view> TLogLines::Append(std::string_view ALine) {
    // The CR LF in front closes the current last piece. A CR at the end of ALine cannot pair
    // with an LF of the next call, because the next call's break starts with CR: so each
    // line splits on its own.
    std::vector<std::string_view> added;
    size_t start = 0;
    for (size_t i = 0; i < ALine.size(); ++i) {
        if (ALine[i] == '\r' || ALine[i] == '\n') {
            added.push_back(ALine.substr(start, i - start));
            if (ALine[i] == '\r' && i + 1 < ALine.size() && ALine[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    added.push_back(ALine.substr(start));
    for (std::string_view piece : added) {
        FPieces.emplace_back(piece);
    }
    return added;
}

void TLogLines::Clear() {
    FPieces.assign(1, std::string());
}

size_t TLogLines::Count() const {
    return FPieces.back().empty() ? FPieces.size() - 1 : FPieces.size();
}
