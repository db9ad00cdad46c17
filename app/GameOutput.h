// The game output text: the upper-cased log in rows of 21 characters, each entry followed by
// a separator row, newest entry first while "Backwards Write" is ticked.
//
// The text only ever grows, at either end, and the whole of it is written to the game's
// output file after every line. It is kept in one contiguous buffer with spare room at both
// ends, so putting an entry in front costs the entry, not a copy of everything behind it,
// and the file write is one contiguous block.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The line with a to z turned into A to Z; every other byte stays as it is.
std::string UpperCaseAscii(std::string_view ALine);

class TGameOutput {
public:
    static constexpr size_t RowWidth = 21;
    static constexpr std::string_view Separator = "---------------------";

    // Adds the entry for one upper-cased line: the line, blanks up to the end of its last
    // row, then the separator row. ABackwards puts it in front of the existing text.
    void Add(std::string_view AUpper, bool ABackwards);

    std::string_view Text() const { return {FBuffer.data() + FBegin, FEnd - FBegin}; }
    size_t Length() const { return FEnd - FBegin; }

private:
    void Prepend(std::string_view ABytes);
    void Append(std::string_view ABytes);
    void Regrow(size_t AFront, size_t ABack);

    std::vector<char> FBuffer;
    size_t FBegin = 0;
    size_t FEnd = 0;
};
