// The bridge's one window: its controls, the log sink every line passes through, and the
// handlers of Clear Logs and of closing.
#pragma once

#include "LogSink.h"

#include <QWidget>

#include <string>
#include <vector>

class QCheckBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TSortedListBox;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* AParent = nullptr);
    ~TForm1() override;

    // Logs one line: the screen and the stores first, then the two game files. A file
    // failure raises after the screen and the stores are already updated.
    void Addline(const std::string& ALine);

    void Button_clrlogsClick();
    // Logs "***SESSION END***" and saves "IRC.log". Failures are shown, and never stop the
    // rest of the close: a missing data directory must not trap the user in the window.
    void FormClose();

    // The controls, in the order the window declares them. The window owns them all.
    QLabel* Label1;
    QPushButton* Button_connect;
    QPushButton* Button_join;
    QLineEdit* Edit1;
    QPushButton* Button_clrlogs;
    QCheckBox* ch_autoscroll;
    QPlainTextEdit* RichEdit1;
    QLineEdit* ed_nick;
    QLineEdit* ed_serv;
    QLineEdit* ed_port;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLineEdit* ed_channel;
    QTimer* Timer1;
    QPlainTextEdit* RichEdit3;
    TSortedListBox* ListBox2;
    QCheckBox* CheckBox1;
    QPlainTextEdit* Memo1;

    // The two stores the user never sees: the upper-cased copy of every log line, and the
    // game output text. Plain data, not widgets.
    const std::vector<std::string>& ListBox1() const { return FSink.HiddenList(); }
    const TGameOutput& RichEdit2() const { return FSink.GameOutput(); }
    const TLogLines& LogLines() const { return FSink.LogLines(); }
    TLogSink& Sink() { return FSink; }

protected:
    void closeEvent(QCloseEvent* AEvent) override;

private:
    void CreateControls();
    void SaveLog();

    TLogSink FSink;
};

// The main window, set by the program's entry while the window exists.
extern TForm1* Form1;
