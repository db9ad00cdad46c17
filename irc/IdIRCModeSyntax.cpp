#include "IdIRCModeSyntax.h"

namespace {

// The common set, written as a server would announce it.
constexpr std::string_view kCommonPrefix = "PREFIX=(ov)@+";
constexpr std::string_view kCommonChanModes = "CHANMODES=beI,k,l,";

bool IsAscii(char c) {
    return static_cast<unsigned char>(c) < 128;
}

} // namespace

void TIdIRCModeSyntax::Reset() {
    ApplyToken(kCommonChanModes);
    ApplyToken(kCommonPrefix);
}

bool TIdIRCModeSyntax::ApplyToken(std::string_view AToken) {
    if (AToken == "-PREFIX") {
        AToken = kCommonPrefix;
    } else if (AToken == "-CHANMODES") {
        AToken = kCommonChanModes;
    }

    if (AToken.starts_with("PREFIX=")) {
        std::string_view value = AToken.substr(7);
        std::string modes;
        std::string symbols;
        if (!value.empty()) {
            const size_t close = value.find(')');
            if (value[0] != '(' || close == std::string_view::npos) {
                return false;
            }
            modes = value.substr(1, close - 1);
            symbols = value.substr(close + 1);
            if (modes.size() != symbols.size()) {
                return false;
            }
        }
        const bool changed = modes != FPrefixModes || symbols != FPrefixSymbols;
        FPrefixModes = std::move(modes);
        FPrefixSymbols = std::move(symbols);
        return changed;
    }

    if (AToken.starts_with("CHANMODES=")) {
        std::array<uint8_t, 128> classes{}; // all mcFlag
        static constexpr TIdIRCModeClass kGroups[] = {mcList, mcAlwaysParam, mcSetParam};
        size_t group = 0;
        // Groups after the fourth are not defined; their letters stay flags.
        for (const char c : AToken.substr(10)) {
            if (c == ',') {
                ++group;
            } else if (group < std::size(kGroups) && IsAscii(c)) {
                classes[size_t(c)] = kGroups[group];
            }
        }
        const bool changed = classes != FClass;
        FClass = classes;
        return changed;
    }
    return false;
}

void TIdIRCModeSyntax::ApplyTokens(std::span<const std::string> ATokens) {
    for (const std::string& token : ATokens) {
        ApplyToken(token);
    }
}

TIdIRCModeClass TIdIRCModeSyntax::ClassOf(char ALetter) const {
    // A server that also lists a status mode in CHANMODES still means a nick by it.
    if (FPrefixModes.find(ALetter) != std::string::npos) {
        return mcPrefix;
    }
    return IsAscii(ALetter) ? TIdIRCModeClass(FClass[size_t(ALetter)]) : mcFlag;
}

bool TIdIRCModeSyntax::TakesParameter(char ALetter, bool ASet) const {
    switch (ClassOf(ALetter)) {
    case mcFlag:
        return false;
    case mcSetParam:
        return ASet;
    default:
        return true;
    }
}

std::string_view TIdIRCModeSyntax::NickOfNamesEntry(std::string_view AEntry,
                                                    std::string* AModes) const {
    size_t at = 0;
    for (; at < AEntry.size(); ++at) {
        const size_t symbol = FPrefixSymbols.find(AEntry[at]);
        if (symbol == std::string::npos) {
            break;
        }
        if (AModes != nullptr) {
            AModes->push_back(FPrefixModes[symbol]);
        }
    }
    return AEntry.substr(at);
}

std::vector<TIdIRCModeChange>
TIdIRCModeSyntax::Walk(std::string_view AModes, std::span<const std::string> AParameters) const {
    std::vector<TIdIRCModeChange> changes;
    bool set = true;
    size_t next = 0;
    for (const char letter : AModes) {
        if (letter == '+' || letter == '-') {
            set = letter == '+';
            continue;
        }
        TIdIRCModeChange change{set, letter, ClassOf(letter), false, {}};
        if (TakesParameter(letter, set)) {
            if (next < AParameters.size()) {
                change.Parameter = AParameters[next++];
            }
            change.MissingParameter = change.Parameter.empty();
        }
        changes.push_back(std::move(change));
    }
    return changes;
}
