#include "IdIRCTokenizer.h"

namespace {

std::string_view Cut(std::string_view text) {
    return text.substr(0, IRCLineCut);
}

} // namespace

void TokenizeIRCLine(std::string_view ALine, TIdIRCLineTokens& out) {
    std::string_view rest = ALine;
    out.SenderNick.clear();
    out.SenderAddress.clear();

    if (!rest.empty() && rest.front() == ':') {
        const size_t blank = rest.find(' ');
        std::string_view prefix;
        if (blank == std::string_view::npos) {
            rest = Cut(rest);
        } else {
            prefix = rest.substr(1, blank - 1);
            rest = Cut(rest.substr(blank + 1));
        }
        out.Tokens[0].assign(prefix);
        const size_t bang = prefix.find('!');
        if (bang == std::string_view::npos) {
            out.SenderAddress.assign(prefix);
        } else {
            out.SenderNick.assign(prefix.substr(0, bang));
            out.SenderAddress.assign(Cut(prefix.substr(bang + 1)));
        }
    } else {
        out.Tokens[0].clear();
    }

    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) {
        out.Command.assign(rest);
        rest = {};
    } else {
        out.Command.assign(rest.substr(0, blank));
        rest = Cut(rest.substr(blank + 1));
    }
    out.Tokens[1].assign(out.Command);
    out.Content.assign(rest);

    size_t slot = 2;
    for (; slot < TokenCount && !rest.empty(); ++slot) {
        std::string& token = out.Tokens[slot];
        const size_t next = rest.find(' ');
        // More parameters than slots: the last slot keeps them all (see the header).
        const bool lastTakesRest =
            slot == TokenCount - 1 && next != std::string_view::npos && next + 1 < rest.size();
        if (rest.front() == ':') {
            token.assign(rest.substr(1));
            rest = {};
        } else if (lastTakesRest || next == std::string_view::npos) {
            token.assign(Cut(rest));
            rest = {};
        } else {
            token.assign(rest.substr(0, next));
            rest = Cut(rest.substr(next + 1));
        }
    }
    for (; slot < TokenCount; ++slot) {
        out.Tokens[slot].clear();
    }
}
