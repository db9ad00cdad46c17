// Where every logged line goes: the on-screen log, the game output text and its file, the
// hidden upper-cased list, and the flag file the game watches.
//
// `TForm1::Addline` is `ShowLine` followed by `WriteExchangeFiles`. The split lets a failed
// file write leave the screen and the in-memory stores already updated, and lets the
// benchmark time the two parts separately.
#pragma once

#include "GameOutput.h"
#include "LogFile.h"
#include "LogLines.h"

#include <string>
#include <string_view>
#include <vector>

class QPlainTextEdit;

class TLogSink {
public:
    // Paths relative to the working directory, which is the game's directory.
    static constexpr const char* TaloFile = "data/talofile.txt";
    static constexpr const char* CommFile = "data/comm.bin";
    static constexpr const char* LogFile = "IRC.log";

    explicit TLogSink(QPlainTextEdit* AView) : FView(AView) {}

    // Appends the line to the view (never re-setting its text), adds its entry to the game
    // output text and its upper-cased form to the hidden list, and with AAutoscroll moves
    // the view's caret to the end and scrolls it into view. Cannot fail.
    void ShowLine(std::string_view ALine, bool ABackwards, bool AAutoscroll);
    // Rewrites the game output file, then sets the flag byte. Raises the file errors.
    void WriteExchangeFiles() const;

    // Empties the view, its lines and the hidden list; the game output text stays.
    void ClearLog();
    void SaveLog(const TLogViewState& AState) const;

    const TLogLines& LogLines() const { return FLogLines; }
    const TGameOutput& GameOutput() const { return FGameOutput; }
    const std::vector<std::string>& HiddenList() const { return FHiddenList; }

private:
    QPlainTextEdit* FView;
    TLogLines FLogLines;
    TGameOutput FGameOutput;
    std::vector<std::string> FHiddenList;
};
