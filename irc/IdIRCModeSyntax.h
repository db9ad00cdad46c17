// Which channel mode letters take a parameter, as the server announces them in its feature
// list (numeric 5: CHANMODES=A,B,C,D and PREFIX=(modes)symbols), and a walk over a mode change
// that pairs each letter with its parameter.
//
// Without the announcement the common set holds: member-status modes o and v (shown as "@" and
// "+"), list modes b, e and I, k with a parameter either way, l with a parameter when set, and
// every other letter a flag. A letter the parser did not know would otherwise shift every
// parameter after it ("+ho alice bob" would op alice).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// How a channel mode letter uses parameters.
enum TIdIRCModeClass {
    mcFlag,        // none (CHANMODES group D, and every letter nobody announced)
    mcPrefix,      // a member-status mode (PREFIX): a nick, set and unset
    mcList,        // a list mode (group A): a mask, set and unset
    mcAlwaysParam, // group B: set and unset
    mcSetParam,    // group C: when set only
};

// One letter of a mode change with its sign and, for a letter that takes a parameter here,
// the parameter.
struct TIdIRCModeChange {
    bool Set;
    char Letter;
    TIdIRCModeClass Class;
    // The letter takes a parameter but none was left, or the one left was empty. The walk
    // never reads past the last parameter; the caller decides what such a change does (an op
    // without a nick must not fall on whoever has the empty nick).
    bool MissingParameter = false;
    std::string Parameter;
};

class TIdIRCModeSyntax {
public:
    TIdIRCModeSyntax() { Reset(); }

    void Reset(); // back to the common set, for a new connection

    // Applies one token of the feature list: CHANMODES and PREFIX replace what they describe,
    // "-CHANMODES" and "-PREFIX" (withdrawn) bring back the common set of it; other tokens, and
    // malformed ones (a PREFIX whose letters and symbols differ in number), change nothing.
    // Returns whether the token changed anything.
    bool ApplyToken(std::string_view AToken);
    void ApplyTokens(std::span<const std::string> ATokens);

    TIdIRCModeClass ClassOf(char ALetter) const;
    bool TakesParameter(char ALetter, bool ASet) const;

    // Member-status modes in order of rank, and their symbols in the same order.
    const std::string& PrefixModes() const { return FPrefixModes; }
    const std::string& PrefixSymbols() const { return FPrefixSymbols; }
    // The nick of a names-list entry without its leading status symbols ("@%alice" is alice);
    // the modes of the symbols found are appended to AModes when it is given.
    std::string_view NickOfNamesEntry(std::string_view AEntry, std::string* AModes = nullptr) const;

    // Walks AModes ("+ov-b"; the sign starts as "+") and hands each letter that takes a
    // parameter the next of AParameters, in order. Parameters left over are ignored.
    std::vector<TIdIRCModeChange> Walk(std::string_view AModes,
                                       std::span<const std::string> AParameters) const;

private:
    std::array<uint8_t, 128> FClass{}; // by ASCII letter; prefix modes are kept apart
    std::string FPrefixModes;
    std::string FPrefixSymbols;
};
