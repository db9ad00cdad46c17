#include "LogFile.h"

#include "ComponentWriter.h"
#include "DisplayText.h"
#include "FileWrite.h"
#include "LogLines.h"

std::string LogViewStream(const TLogLines& ALines, const TLogViewState& AState) {
    TComponentWriter w;
    w.WriteSignature();
    w.WriteStr("TRichEdit");
    w.WriteStr("RichEdit1");
    const auto integer = [&w](const char* AName, int AValue) {
        w.WriteStr(AName);
        w.WriteInteger(AValue);
    };
    integer("Left", AState.Left);
    integer("Top", AState.Top);
    integer("Width", AState.Width);
    integer("Height", AState.Height);
    if (ALines.Count() > 0) {
        w.WriteStr("Lines.Strings");
        w.WriteListBegin();
        for (size_t i = 0; i < ALines.Count(); ++i) {
            w.WriteString(DisplayUtf8(ALines[i]));
        }
        w.WriteListEnd();
    }
    w.WriteStr("ScrollBars");
    w.WriteIdent("ssVertical");
    integer("TabOrder", AState.TabOrder);
    if (!AState.Visible) {
        w.WriteStr("Visible");
        w.WriteBoolean(false);
    }
    w.WriteListEnd(); // properties
    w.WriteListEnd(); // contained objects: none
    return w.Bytes();
}

void SaveLogView(const std::string& APath, const TLogLines& ALines, const TLogViewState& AState) {
    WriteWholeFile(APath, LogViewStream(ALines, AState));
}
