#include "IdIRCTokenizer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

using TSpan = TIdIRCLineSplit::TSpan;

// The first ch in [from, end), or end. Eight bytes at a time while eight remain, then byte by
// byte: the words of a line are short, and for them a call of the library's vectorised
// search costs more than the search itself. This runs for every line of a flood.
[[gnu::always_inline]] inline uint32_t Find(const char* line, uint32_t from, uint32_t end,
                                            char ch) {
    static_assert(std::endian::native == std::endian::little, "the first byte is the lowest");
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    const uint64_t pattern = kOnes * uint8_t(ch);
    while (end - from >= 8) {
        uint64_t word;
        std::memcpy(&word, line + from, 8);
        const uint64_t x = word ^ pattern; // a zero byte where ch is
        // The lowest byte flagged here is the first zero byte (a flag above it may be false).
        if (const uint64_t zero = (x - kOnes) & ~x & kHighs; zero != 0) {
            return from + uint32_t(__builtin_ctzll(zero) / 8);
        }
        from += 8;
    }
    while (from != end && line[from] != ch) {
        ++from;
    }
    return from;
}

// What remains from a separator on is cut to IRCLineCut characters.
uint32_t CutEnd(uint32_t from, uint32_t end) {
    return end - from > IRCLineCut ? from + uint32_t(IRCLineCut) : end;
}

// Sized and then filled rather than assigned: within the kept capacity (a field of a flood's
// lines is mostly as long as the last one) that is a length check and a copy, without
// assign's handling of a source inside the string itself, which showed in a flood.
[[gnu::noinline]] void Resize(std::string& out, size_t length) {
    out.resize(length);
}

void Put(std::string& out, std::string_view line, TSpan span) {
    const size_t length = span.End - span.Begin;
    if (out.size() != length) {
        Resize(out, length); // kept out of line, so that the usual case inlines
    }
    std::memcpy(out.data(), line.data() + span.Begin, length);
}

std::string_view View(std::string_view line, TSpan span) {
    return line.substr(span.Begin, span.End - span.Begin);
}

} // namespace

void SplitIRCLine(std::string_view ALine, TIdIRCLineSplit& out) {
    const char* line = ALine.data();
    uint32_t p = 0;
    uint32_t end = uint32_t(ALine.size());

    out.SenderNick = {};
    out.SenderAddress = {};
    out.Tokens[0] = {};
    if (p != end && line[p] == ':') {
        const uint32_t blank = Find(line, p, end, ' ');
        if (blank == end) {
            end = CutEnd(p, end); // no prefix: the whole line is the command
        } else {
            const TSpan prefix{p + 1, blank};
            p = blank + 1;
            end = CutEnd(p, end);
            out.Tokens[0] = prefix;
            const uint32_t bang = Find(line, prefix.Begin, prefix.End, '!');
            if (bang == prefix.End) {
                out.SenderAddress = prefix;
            } else {
                out.SenderNick = {prefix.Begin, bang};
                out.SenderAddress = {bang + 1, CutEnd(bang + 1, prefix.End)};
            }
        }
    }

    const uint32_t blank = Find(line, p, end, ' ');
    // Stored from a local, not chained: reading back a span just stored as two halves stalls
    // on the store, which cost a flood's reader about a third of its split.
    const TSpan command{p, blank};
    out.Command = command;
    out.Tokens[1] = command;
    if (blank == end) {
        p = end;
    } else {
        p = blank + 1;
        end = CutEnd(p, end);
    }
    out.Content = {p, end};

    size_t slot = 2;
    for (; slot < TokenCount && p != end; ++slot) {
        if (line[p] == ':') {
            out.Tokens[slot] = {p + 1, end};
            p = end;
            continue;
        }
        const uint32_t next = Find(line, p, end, ' ');
        // More parameters than slots: the last slot keeps them all (see the header).
        const bool lastTakesRest = slot == TokenCount - 1 && next != end && next + 1 != end;
        if (lastTakesRest || next == end) {
            out.Tokens[slot] = {p, end};
            p = end;
        } else {
            out.Tokens[slot] = {p, next};
            p = next + 1;
            end = CutEnd(p, end);
        }
    }
    out.Filled = slot;
}

void TIdIRCLineFields::Reset(std::string_view ALine, const TIdIRCLineSplit& ASplit) {
    // Only the slots the line filled: the split's own array is mostly unused.
    FSplit.SenderNick = ASplit.SenderNick;
    FSplit.SenderAddress = ASplit.SenderAddress;
    FSplit.Command = ASplit.Command;
    FSplit.Content = ASplit.Content;
    std::copy_n(ASplit.Tokens.begin(), ASplit.Filled, FSplit.Tokens.begin());
    FSplit.Filled = ASplit.Filled;
    FLine = ALine;
    CopyFields();
}

void TIdIRCLineFields::Reset(std::string_view ALine) {
    SplitIRCLine(ALine, FSplit);
    FLine = ALine;
    CopyFields();
}

void TIdIRCLineFields::CopyFields() {
    FCopied = 0;
    Put(SenderNick, FLine, FSplit.SenderNick);
    Put(SenderAddress, FLine, FSplit.SenderAddress);
    Put(Command, FLine, FSplit.Command);
    Put(Content, FLine, FSplit.Content);
}

std::string_view TIdIRCLineFields::TokenView(size_t ASlot) const {
    if (ASlot >= FSplit.Filled) {
        return {};
    }
    return View(FLine, FSplit.Tokens[ASlot]);
}

std::string_view TIdIRCLineFields::SenderNickView() const {
    return View(FLine, FSplit.SenderNick);
}

std::string_view TIdIRCLineFields::SenderAddressView() const {
    return View(FLine, FSplit.SenderAddress);
}

std::string_view TIdIRCLineFields::CommandView() const {
    return View(FLine, FSplit.Command);
}

const std::string& TIdIRCLineFields::Token(size_t ASlot) const {
    const uint32_t bit = uint32_t(1) << ASlot;
    if ((FCopied & bit) == 0) {
        const std::string_view text = TokenView(ASlot);
        FTokens[ASlot].assign(text.data(), text.size());
        FCopied |= bit;
    }
    return FTokens[ASlot];
}

const std::array<std::string, TokenCount>& TIdIRCLineFields::Tokens() const {
    for (size_t slot = 0; slot < TokenCount; ++slot) {
        Token(slot);
    }
    return FTokens;
}
