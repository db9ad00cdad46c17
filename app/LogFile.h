// "IRC.log": the on-screen log view saved as a component stream, replacing the file.
#pragma once

#include <string>

class TLogLines;

// What of the view the file records besides its lines.
struct TLogViewState {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    int TabOrder = 0;
    bool Visible = true;
};

// The stream of the view "RichEdit1" (class "TRichEdit"): Left, Top, Width, Height, then
// Lines.Strings (only when there is a line), ScrollBars, TabOrder, and Visible (only while
// hidden). Each line is stored in its display form, so UTF-8 input is not encoded twice.
std::string LogViewStream(const TLogLines& ALines, const TLogViewState& AState);

// Writes the stream to APath, raising the file errors of FileWrite.h.
void SaveLogView(const std::string& APath, const TLogLines& ALines, const TLogViewState& AState);
