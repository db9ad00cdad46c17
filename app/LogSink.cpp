#include "LogSink.h"

#include "DisplayText.h"
#include "FileWrite.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

void TLogSink::ShowLine(std::string_view ALine, bool ABackwards, bool AAutoscroll) {
    // The view's rows mirror the log's pieces one to one: its first, empty block is the empty
    // first line, and each piece the text gains opens a new block at the end. Appending
    // costs the line, whatever the log already holds.
    QTextCursor end(FView->document());
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    for (std::string_view piece : FLogLines.Append(ALine)) {
        end.insertBlock();
        end.insertText(DisplayString(piece));
    }
    end.endEditBlock();

    std::string upper = UpperCaseAscii(ALine);
    FGameOutput.Add(upper, ABackwards);
    FHiddenList.push_back(std::move(upper));

    if (AAutoscroll) {
        QTextCursor caret = FView->textCursor();
        caret.movePosition(QTextCursor::End);
        FView->setTextCursor(caret);
        FView->ensureCursorVisible();
    }
}

void TLogSink::WriteExchangeFiles() const {
    WriteWholeFile(TaloFile, FGameOutput.Text());
    WriteFlagByte(CommFile);
}

void TLogSink::ClearLog() {
    FView->clear();
    FLogLines.Clear();
    FHiddenList.clear();
}

void TLogSink::SaveLog(const TLogViewState& AState) const {
    SaveLogView(LogFile, FLogLines, AState);
}
