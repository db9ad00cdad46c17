#include "IdIRCLines.h"

namespace IdIRCLines {

namespace {

bool IsBreak(char c) {
    return c == '\r' || c == '\n';
}

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Calls APiece for every non-empty piece between line breaks, NUL dropped; returns how many.
template <typename F> size_t ForEachPiece(std::string_view AText, F&& APiece) {
    size_t count = 0;
    std::string piece;
    auto flush = [&] {
        if (!piece.empty()) {
            APiece(piece);
            ++count;
            piece.clear();
        }
    };
    for (char c : AText) {
        if (IsBreak(c)) {
            flush();
        } else if (c != '\0') {
            piece += c;
        }
    }
    flush();
    return count;
}

// Where to cut ARest so the first part has at most ABudget bytes: back over at most three
// continuation bytes to the start of the sequence that would be split.
size_t CutAt(std::string_view ARest, size_t ABudget) {
    size_t cut = ABudget;
    for (int step = 0; step < 3 && cut > 0 && IsContinuation(ARest[cut]); ++step) {
        --cut;
    }
    if (cut == 0 || IsContinuation(ARest[cut])) {
        return ABudget; // not UTF-8 here: any cut is as good as another
    }
    return cut;
}

} // namespace

size_t RelayPrefixLength(size_t ANickLength) {
    return 1 + ANickLength + 1 + kRelayUserLength + 1 + kRelayHostLength + 1;
}

std::vector<std::string> WireLines(std::string_view ALine) {
    const size_t trailing = ALine.find(" :");
    const std::string_view tail =
        trailing == std::string_view::npos ? std::string_view() : ALine.substr(trailing + 2);
    std::string head;
    bool inBreak = false;
    for (char c :
         ALine.substr(0, trailing == std::string_view::npos ? ALine.size() : trailing + 2)) {
        if (IsBreak(c)) {
            if (!inBreak) {
                head += ' ';
            }
            inBreak = true;
            continue;
        }
        inBreak = false;
        if (c != '\0') {
            head += c;
        }
    }
    std::vector<std::string> lines;
    if (trailing == std::string_view::npos) {
        lines.push_back(std::move(head));
        return lines;
    }
    if (ForEachPiece(tail, [&](const std::string& piece) { lines.push_back(head + piece); }) == 0) {
        lines.push_back(std::move(head));
    }
    return lines;
}

std::vector<std::string> TextPieces(std::string_view AText, size_t ABudget) {
    if (ABudget == 0) {
        ABudget = 1;
    }
    std::vector<std::string> pieces;
    const size_t count = ForEachPiece(AText, [&](const std::string& piece) {
        std::string_view rest = piece;
        while (rest.size() > ABudget) {
            const size_t cut = CutAt(rest, ABudget);
            pieces.emplace_back(rest.substr(0, cut));
            rest.remove_prefix(cut);
        }
        pieces.emplace_back(rest);
    });
    if (count == 0) {
        pieces.emplace_back();
    }
    return pieces;
}

} // namespace IdIRCLines
