#include "GameOutput.h"

#include <algorithm>
#include <cstring>

std::string UpperCaseAscii(std::string_view ALine) {
    std::string upper(ALine);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

namespace {

// Blanks that fill a text of ALength bytes to the end of its last row.
size_t PaddingFor(size_t ALength) {
    const size_t k = TGameOutput::RowWidth - ALength % TGameOutput::RowWidth;
    return k == TGameOutput::RowWidth ? 0 : k;
}

} // namespace

void TGameOutput::Add(std::string_view AUpper, bool ABackwards) {
    if (ABackwards) {
        std::string entry(AUpper);
        entry.append(PaddingFor(AUpper.size()), ' ');
        entry.append(Separator);
        Prepend(entry);
    } else {
        // The padding is counted over the whole text; as the text is whole rows, that comes
        // to the same as the line's own length.
        Append(AUpper);
        Append(std::string(PaddingFor(Length()), ' '));
        Append(Separator);
    }
}

void TGameOutput::Prepend(std::string_view ABytes) {
    if (ABytes.empty()) {
        return; // an empty view may carry a null pointer, which memcpy must not get
    }
    if (FBegin < ABytes.size()) {
        Regrow(ABytes.size(), 0);
    }
    FBegin -= ABytes.size();
    std::memcpy(FBuffer.data() + FBegin, ABytes.data(), ABytes.size());
}

void TGameOutput::Append(std::string_view ABytes) {
    if (ABytes.empty()) {
        return;
    }
    if (FBuffer.size() - FEnd < ABytes.size()) {
        Regrow(0, ABytes.size());
    }
    std::memcpy(FBuffer.data() + FEnd, ABytes.data(), ABytes.size());
    FEnd += ABytes.size();
}

// Moves the text into a new buffer with at least the asked room in front and behind; the
// room doubles with the text, so growth at either end costs amortised constant time per byte.
void TGameOutput::Regrow(size_t AFront, size_t ABack) {
    const size_t length = Length();
    const size_t spare = std::max<size_t>(length, 4096);
    const size_t front = std::max(AFront, FBegin < AFront ? spare : FBegin);
    const size_t back =
        std::max(ABack, FBuffer.size() - FEnd < ABack ? spare : FBuffer.size() - FEnd);
    std::vector<char> grown(front + length + back);
    if (length > 0) {
        std::memcpy(grown.data() + front, FBuffer.data() + FBegin, length);
    }
    FBuffer.swap(grown);
    FBegin = front;
    FEnd = front + length;
}
