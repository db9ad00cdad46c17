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

// AText cut at every blank; an empty text is no piece at all.
std::vector<std::string> Words(const std::string& AText) {
    std::vector<std::string> words;
    for (size_t from = 0; from < AText.size();) {
        const size_t at = std::min(AText.find(' ', from), AText.size());
        words.push_back(AText.substr(from, at - from));
        from = at + 1;
    }
    return words;
}

} // namespace

// A walk written as "+o=alice" per change, "+o!" for a missing parameter, "+t" for a flag.
TEST(ModeSyntax, EachLetterTakesOnlyItsOwnParameter) {
    TIdIRCModeSyntax ngircd;
    ngircd.ApplyTokens(kNgircd);
    const TIdIRCModeSyntax common;
    const struct {
        const char* why;
        bool announced; // ngircd's letters, else the common set
        std::string modes, parameters, expected;
    } cases[] = {
        {"an announced half-op takes its own nick", true, "+ho", "alice bob", "+h=alice +o=bob"},
        {"without the announcement h is a flag", false, "+ho", "alice bob", "+h +o=alice"},
        {"an exception mask is not a ban", false, "+eb", "m1 m2", "+e=m1 +b=m2"},
        {"invite exceptions are lists too", true, "-I+b", "m1 m2", "-I=m1 +b=m2"},
        {"removing a key consumes the key", false, "-ko", "key alice", "-k=key -o=alice"},
        {"a key set and removed takes one each", false, "+k-k", "new old", "+k=new -k=old"},
        {"a limit takes its number only when set", false, "+l-lo", "5 alice", "+l=5 -l -o=alice"},
        {"flags between letters take nothing", true, "+tnzo", "alice", "+t +n +z +o=alice"},
        {"letters nobody announced are flags", false, "+Xo", "alice", "+X +o=alice"},
        {"the sign starts as plus", false, "o", "alice", "+o=alice"},
        {"signs alone change nothing", false, "+-+", "alice", ""},
        {"parameters left over are ignored", false, "+t", "alice bob", "+t"},
        {"an op past the last parameter has no nick", false, "+oo", "alice", "+o=alice +o!"},
        {"an empty parameter counts as none", false, "+ov", " bob", "+o! +v=bob"},
        {"a byte outside ASCII is a flag", false, "+\xe9o", "alice", "+\xe9 +o=alice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string text;
        for (const TIdIRCModeChange& change :
             (c.announced ? ngircd : common).Walk(c.modes, Words(c.parameters))) {
            text += std::string(text.empty() ? "" : " ") + (change.Set ? '+' : '-') + change.Letter;
            text += change.MissingParameter    ? "!"
                    : change.Parameter.empty() ? ""
                                               : "=" + change.Parameter;
        }
        EXPECT_EQ(text, c.expected);
    }
    ngircd.Reset(); // forgets the last server
    EXPECT_EQ(ngircd.ClassOf('h'), mcFlag);
}

TEST(ModeSyntax, TheAnnouncementReplacesOnlyWhatItDescribes) {
    const struct {
        const char* why;
        std::vector<std::string> tokens;
        std::string letters;  // the letters checked, in order
        std::string expected; // for each: F flag, P prefix, L list, A always, S when set
        std::string prefixSymbols;
    } cases[] = {
        {"nothing announced: the common set", {}, "ovbeIklhqt", "PPLLLASFFF", "@+"},
        {"ngircd's announcement", kNgircd, "qaohvbeIklzt", "PPPPPLLLASFF", "~&@%+"},
        {"fewer groups: the rest are flags", {"CHANMODES=b,k"}, "beIklt", "LFFAFF", "@+"},
        {"a fifth group's letters stay flags",
         {"CHANMODES=b,k,l,imnpst,XY"},
         "bklXY",
         "LASFF",
         "@+"},
        {"a status mode listed as a list too stays one", {"CHANMODES=bo,k,l,t"}, "ob", "PL", "@+"},
        {"letters and symbols differing in number: ignored", {"PREFIX=(ohv)@+"}, "oh", "PF", "@+"},
        {"no parentheses: ignored", {"PREFIX=ov@+"}, "ov", "PP", "@+"},
        {"an empty prefix list: no status modes", {"PREFIX="}, "ov", "FF", ""},
        {"withdrawn: the common set again",
         {"PREFIX=(qo)~@", "CHANMODES=,,,", "-PREFIX", "-CHANMODES"},
         "qovbkl",
         "FPPLAS",
         "@+"},
        {"other tokens change nothing",
         {"NICKLEN=9", "CHANMODES", "prefix=(h)%"},
         "hob",
         "FPL",
         "@+"},
    };
    for (const auto& c : cases) {
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
