#include "IdIRCModeSyntax.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// ngircd 26's announcement, as it sends it.
const std::vector<std::string> kNgircd = {"RFC2812",
                                          "IRCD=ngIRCd",
                                          "CHARSET=UTF-8",
                                          "CASEMAPPING=ascii",
                                          "PREFIX=(qaohv)~&@%+",
                                          "CHANTYPES=#&+",
                                          "CHANMODES=beI,k,l,imMnOPQRstVz",
                                          "are supported on this server"};

TIdIRCModeSyntax Ngircd() {
    TIdIRCModeSyntax syntax;
    syntax.ApplyTokens(kNgircd);
    return syntax;
}

// A walk written compactly: "+o=alice" per change, "+o!" for a missing parameter, "+t" for a
// flag.
std::string Walk(const TIdIRCModeSyntax& ASyntax, const std::string& AModes,
                 const std::vector<std::string>& AParameters) {
    std::string text;
    for (const TIdIRCModeChange& change : ASyntax.Walk(AModes, AParameters)) {
        text += text.empty() ? "" : " ";
        text += change.Set ? '+' : '-';
        text += change.Letter;
        if (change.MissingParameter) {
            text += "!";
        } else if (!change.Parameter.empty()) {
            text += "=" + change.Parameter;
        }
    }
    return text;
}

} // namespace

TEST(ModeSyntax, EachLetterTakesOnlyItsOwnParameter) {
    const TIdIRCModeSyntax common;
    const TIdIRCModeSyntax ngircd = Ngircd();
    struct Case {
        const char* why;
        const TIdIRCModeSyntax& syntax;
        std::string modes;
        std::vector<std::string> parameters;
        std::string expected;
    };
    const Case cases[] = {
        {"op, voice and unban in order",
         common,
         "+ov-b",
         {"alice", "bob", "mask"},
         "+o=alice +v=bob -b=mask"},
        {"an announced half-op takes its own nick, so the op goes to bob",
         ngircd,
         "+ho",
         {"alice", "bob"},
         "+h=alice +o=bob"},
        {"without the announcement h is a flag and the op goes to alice",
         common,
         "+ho",
         {"alice", "bob"},
         "+h +o=alice"},
        {"owner and admin modes are announced prefixes too",
         ngircd,
         "+qa",
         {"alice", "bob"},
         "+q=alice +a=bob"},
        {"an exception mask is not a ban", common, "+eb", {"m1", "m2"}, "+e=m1 +b=m2"},
        {"invite exceptions are lists too", ngircd, "-I+b", {"m1", "m2"}, "-I=m1 +b=m2"},
        {"removing a key consumes the key", common, "-ko", {"key", "alice"}, "-k=key -o=alice"},
        {"a key set and removed takes one each", common, "+k-k", {"new", "old"}, "+k=new -k=old"},
        {"a limit takes its number only when set",
         common,
         "+l-lo",
         {"5", "alice"},
         "+l=5 -l -o=alice"},
        {"flags between letters take nothing", ngircd, "+tnzo", {"alice"}, "+t +n +z +o=alice"},
        {"letters nobody announced are flags", common, "+Xo", {"alice"}, "+X +o=alice"},
        {"the sign starts as plus", common, "o", {"alice"}, "+o=alice"},
        {"signs alone change nothing", common, "+-+", {"alice"}, ""},
        {"parameters left over are ignored", common, "+t", {"alice", "bob"}, "+t"},
        {"an op past the last parameter has no nick", common, "+oo", {"alice"}, "+o=alice +o!"},
        {"a ban without any parameter has no mask", common, "+b", {}, "+b!"},
        {"an empty parameter counts as none", common, "+ov", {"", "bob"}, "+o! +v=bob"},
        {"a byte outside ASCII is a flag", common, "+\xe9o", {"alice"}, "+\xe9 +o=alice"},
        {"no modes at all", common, "", {"alice"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Walk(c.syntax, c.modes, c.parameters), c.expected);
    }
}

TEST(ModeSyntax, TheAnnouncementReplacesOnlyWhatItDescribes) {
    struct Case {
        const char* why;
        std::vector<std::string> tokens;
        std::string letters;  // the letters checked, in order
        std::string expected; // for each: F flag, P prefix, L list, A always, S when set
        std::string prefixSymbols;
    };
    const Case cases[] = {
        {"nothing announced: the common set", {}, "ovbeIklhqt", "PPLLLASFFF", "@+"},
        {"ngircd's announcement", kNgircd, "qaohvbeIklzt", "PPPPPLLLASFF", "~&@%+"},
        {"fewer groups: the rest are flags", {"CHANMODES=b,k"}, "beIklt", "LFFAFF", "@+"},
        {"a fifth group is not defined: its letters stay flags",
         {"CHANMODES=b,k,l,imnpst,XY"},
         "bklXY",
         "LASFF",
         "@+"},
        {"a status mode also listed as a list is still a status mode",
         {"CHANMODES=bo,k,l,t"},
         "ob",
         "PL",
         "@+"},
        {"letters and symbols differing in number: ignored", {"PREFIX=(ohv)@+"}, "oh", "PF", "@+"},
        {"no parentheses: ignored", {"PREFIX=ov@+"}, "ov", "PP", "@+"},
        {"an empty prefix list: no status modes", {"PREFIX="}, "ov", "FF", ""},
        {"withdrawn: the common set again",
         {"PREFIX=(qo)~@", "CHANMODES=,,,", "-PREFIX", "-CHANMODES"},
         "qovbkl",
         "FPPLAS",
         "@+"},
        {"other tokens and the closing text change nothing",
         {"NICKLEN=9", "CHANMODES", "prefix=(h)%", "are supported"},
         "hob",
         "FPL",
         "@+"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TIdIRCModeSyntax syntax;
        syntax.ApplyTokens(c.tokens);
        std::string classes;
        for (const char letter : c.letters) {
            classes += "FPLAS"[syntax.ClassOf(letter)];
        }
        EXPECT_EQ(classes, c.expected);
        EXPECT_EQ(syntax.PrefixSymbols(), c.prefixSymbols);
    }
}

TEST(ModeSyntax, ResetForgetsTheLastServer) {
    TIdIRCModeSyntax syntax = Ngircd();
    syntax.Reset();
    EXPECT_EQ(Walk(syntax, "+ho", {"alice", "bob"}), "+h +o=alice");
}

TEST(ModeSyntax, NamesEntriesLoseOnlyTheirStatusSymbols) {
    const TIdIRCModeSyntax ngircd = Ngircd();
    struct Case {
        const char* why;
        std::string entry;
        std::string nick;
        std::string modes;
    };
    const Case cases[] = {
        {"plain nick", "alice", "alice", ""},
        {"half-op", "%alice", "alice", "h"},
        {"several symbols (multi-prefix)", "~@+alice", "alice", "qov"},
        {"a symbol inside the nick stays", "al+ice", "al+ice", ""},
        {"only symbols", "@+", "", "ov"},
        {"empty", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::string modes;
        EXPECT_EQ(ngircd.NickOfNamesEntry(c.entry, &modes), c.nick);
        EXPECT_EQ(modes, c.modes);
    }
}
