// The game's command file through the window's poller: the input is the text of data/X.txt,
// and the poller's tick runs twice, so that the floodgate sees a file found on two ticks in a
// row. The window is not connected: SAY and ACTION are logged as they are before a connect,
// into the game's files in a fresh game directory. The log is emptied now and then, so that a
// long run measures the poller, not an ever longer log.
//
// What must hold: no crash, no exception out of a tick, and no error box (the folder is there).
//
// The target works in a game directory of its own, its working directory from the first input
// on: give it corpus and artifact paths that are absolute (scripts/fuzz.sh does).
#include "ErrorDisplay.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QApplication>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

struct Window {
    Window() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        Application = std::make_unique<QApplication>(Argc, Argv);
        Dir.ChangeInto();
        std::filesystem::create_directory(Dir.Path() / "data");
        TErrorDisplay::SetPresenter([](const QString& AText) {
            std::fprintf(stderr, "error shown: %s\n", AText.toLocal8Bit().constData());
            std::abort();
        });
        Form = std::make_unique<TForm1>();
        Form->Timer1->stop(); // ticked here
    }
    int Argc = 1;
    char Name[16] = "CommandFileFuzz";
    char* Argv[2] = {Name, nullptr};
    std::unique_ptr<QApplication> Application;
    TempDir Dir;
    std::unique_ptr<TForm1> Form;
    uint32_t Runs = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    static Window window;
    {
        std::ofstream file("data/X.txt", std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(AData), std::streamsize(ASize));
    }
    window.Form->Timer1Timer();
    window.Form->Timer1Timer();
    std::filesystem::remove("data/X.txt");
    if (++window.Runs % 256 == 0) {
        window.Form->Button_clrlogsClick();
    }
    return 0;
}
