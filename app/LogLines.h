// The logical lines of the on-screen log, as the original bytes.
//
// The log's text grows by CR LF + line for every logged line. Its lines are what a string
// list makes of that text: split at every CR LF, lone CR or lone LF, with a break at the very
// end not starting one more line. So the first line is always empty once anything was
// logged, an empty text has no lines, and a line holding a break of its own counts as two.
// Kept here rather than read back from the widget, whose rows are wrapped display rows and
// whose text is already decoded.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TLogLines {
public:
    // Appends CR LF + ALine to the text. Returns the pieces the text gained: the parts of
    // ALine between its own breaks, each the start of a new row of the view.
    std::vector<std::string_view> Append(std::string_view ALine);
    void Clear();

    size_t Count() const;
    const std::string& operator[](size_t AIndex) const { return FPieces[AIndex]; }

private:
    // The text split at every break; the last piece is what follows the last break (empty
    // when the text ends in one). An empty text is one empty piece.
    std::vector<std::string> FPieces{std::string()};
};
