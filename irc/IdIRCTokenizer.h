// Splitting one received server line into its sender, command and parameters.
//
// Grammar, as this client reads it (the line arrives without its CR LF):
//
//     line    = [ ":" prefix " " ] command [ " " params ]
//     prefix  = nick "!" user-and-host  |  server-name
//     params  = *( middle " " ) [ middle | ":" trailing ]
//
// Tolerance rules, each deliberate:
//   - Only the blank separates. Tabs and other white space are ordinary characters, because
//     the server's reading of the line is the one that counts and it splits at blanks alone.
//   - Every blank separates: two blanks in a row give an empty parameter between them, a line
//     that starts with a blank has an empty command. One blank at the end adds no parameter.
//   - ":" opens the trailing parameter only at the start of a parameter; "a:b" is one word.
//   - A line that starts with ":" but has no blank has an empty prefix, and the whole line,
//     colon included, is the command: nothing is thrown away that a handler might show.
//   - After the prefix, after the command and after each parameter, what remains is cut to
//     its first 512 characters (the protocol's line limit), so a flood of a line costs at
//     most 512 characters per slot; the sender's address after "!" is cut the same way.
//   - Slots: 0 the prefix without ":", 1 the command, 2 to 29 the parameters; every slot not
//     filled is emptied, so nothing of an earlier line survives.
//   - More than 28 parameters (IRC itself sends at most 15): the last slot takes the rest of
//     the parameters as they stand, blanks included, as if it were the trailing one. That
//     never writes past the slots, and a malformed line loses none of its text; dropping the
//     extra words would hide them from every handler.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t TokenCount = 30;
constexpr size_t IRCLineCut = 512;

// Where the fields of a line lie, as offsets into it: the tokenizer's findings without its
// copies. The reader's thread splits each line as it reads it, so that the window's thread
// only copies the fields out.
struct TIdIRCLineSplit {
    struct TSpan {
        uint32_t Begin = 0;
        uint32_t End = 0;
    };
    TSpan SenderNick, SenderAddress, Command, Content;
    std::array<TSpan, TokenCount> Tokens; // only those below Filled are set
    size_t Filled = 2;
};

void SplitIRCLine(std::string_view ALine, TIdIRCLineSplit& out);

// The line the component is handling, as its handlers read it. The sender, command and
// content are copied out at once: every line needs them. A parameter slot is copied out only
// when first asked for, as most lines of a busy channel are looked at for their sender and
// command alone. The line is the caller's and must stay as it is until the next Reset.
class TIdIRCLineFields {
public:
    std::string SenderNick;
    std::string SenderAddress;
    std::string Command;
    std::string Content;

    // For a line split already (by the reader's thread), or one to split here.
    void Reset(std::string_view ALine, const TIdIRCLineSplit& ASplit);
    void Reset(std::string_view ALine);
    // A slot's text; an empty one past the slots the line filled.
    const std::string& Token(size_t ASlot) const;
    // The same, without a copy: for a look that keeps nothing.
    std::string_view TokenView(size_t ASlot) const;
    // The sender and the command read from the line rather than from their copies above: for
    // the comparisons made on every line. A comparison reads a string in wide loads, which
    // cannot take bytes from the small stores that have just made the copy and so wait for
    // them: in a flood that wait was the costliest step of a line's handling.
    std::string_view SenderNickView() const;
    std::string_view SenderAddressView() const;
    std::string_view CommandView() const;
    // Every slot, all copied out: for the few lines that walk them (modes, numeric replies).
    const std::array<std::string, TokenCount>& Tokens() const;

private:
    void CopyFields();

    std::string_view FLine;
    TIdIRCLineSplit FSplit;
    mutable std::array<std::string, TokenCount> FTokens;
    mutable uint32_t FCopied = 0; // bit n: slot n holds this line's text
    static_assert(TokenCount <= 32);
};
