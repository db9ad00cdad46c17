// Logs 100,000 lines of 40 bytes through the window's log sink, as a long session would, and
// prints what one call costs near the start and near the end, split into the part that
// updates the screen and the in-memory stores and the part that writes the two game files.
// The floor is a bare rewrite of a file of the same size (open, truncate, one write, close),
// measured in the same run right after each sampled call.
//
// Addline is exactly ShowLine followed by WriteExchangeFiles (the output file, then the flag
// file); the sampled calls alternate between timing those parts separately and timing Addline
// as a whole.
//
//   AddlineBench [DIR]   the game directory is made under DIR (default: the system's temporary
//                        directory); give /dev/shm to leave the disk's write-back out of it.
#include "FileWrite.h"
#include "LogSink.h"
#include "Unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration ADuration) {
    return std::chrono::duration<double, std::micro>(ADuration).count();
}

double Median(std::vector<double> AValues) {
    std::sort(AValues.begin(), AValues.end());
    return AValues.empty() ? 0 : AValues[AValues.size() / 2];
}

void BareRewrite(const char* APath, std::string_view ABytes) {
    const int fd = ::open(APath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 ||
        ::write(fd, ABytes.data(), ABytes.size()) != static_cast<ssize_t>(ABytes.size())) {
        std::perror("bare rewrite");
        std::exit(1);
    }
    ::close(fd);
}

struct Window {
    const char* Name;
    int First, Last; // sampled line numbers, 0-based, half-open
    std::vector<double> Screen, Files, Talo, Comm, Whole, Bare;
    size_t FileBytes = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    const std::filesystem::path base =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    std::string dir = (base / "brisal-bench-XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    std::filesystem::current_path(dir);
    std::filesystem::create_directory("data");

    constexpr int Lines = 100000;
    Window windows[] = {{"near the start", 1000, 2000, {}, {}, {}, {}, {}, {}},
                        {"near the end", Lines - 1000, Lines, {}, {}, {}, {}, {}, {}}};

    {
        // The chat layout: the log view is shown, autoscroll and Backwards Write are ticked
        // (newest entry first is the costlier order for the in-memory text).
        TForm1 form;
        form.show();
        form.RichEdit1->show();
        QApplication::processEvents();
        TLogSink& sink = form.Sink();

        const auto started = Clock::now();
        for (int i = 0; i < Lines; ++i) {
            char line[41];
            std::snprintf(line, sizeof line, "(nick%05d) the quick brown fox jumps ov", i);
            if (std::strlen(line) != 40) {
                std::fprintf(stderr, "line is not 40 bytes\n");
                return 1;
            }
            Window* sample = nullptr;
            for (Window& w : windows) {
                if (i >= w.First && i < w.Last) {
                    sample = &w;
                }
            }
            if (!sample) {
                form.Addline(line);
            } else if (i % 2 == 0) {
                const auto t0 = Clock::now();
                sink.ShowLine(line, form.CheckBox1->isChecked(), form.ch_autoscroll->isChecked());
                const auto t1 = Clock::now();
                WriteWholeFile(TLogSink::TaloFile, form.RichEdit2().Text());
                const auto t2 = Clock::now();
                WriteFlagByte(TLogSink::CommFile);
                const auto t3 = Clock::now();
                sample->Screen.push_back(Micros(t1 - t0));
                sample->Files.push_back(Micros(t3 - t1));
                sample->Talo.push_back(Micros(t2 - t1));
                sample->Comm.push_back(Micros(t3 - t2));
            } else {
                const auto t0 = Clock::now();
                form.Addline(line);
                const auto t1 = Clock::now();
                sample->Whole.push_back(Micros(t1 - t0));
            }
            if (sample) {
                const std::string_view text = form.RichEdit2().Text();
                const auto t0 = Clock::now();
                BareRewrite("bare.bin", text);
                const auto t1 = Clock::now();
                sample->Bare.push_back(Micros(t1 - t0));
                sample->FileBytes = text.size();
            }
            // Let the window paint now and then, as the event loop would between lines.
            if (i % 500 == 0) {
                QApplication::processEvents();
            }
        }
        const double total = std::chrono::duration<double>(Clock::now() - started).count();
        std::printf("Addline: %d lines of 40 bytes, Backwards Write and Autoscroll on, "
                    "log view shown, in %s; %.1f s in all\n",
                    Lines, dir.c_str(), total);
        std::printf("median microseconds per call      %16s %16s\n", windows[0].Name,
                    windows[1].Name);
        std::printf("  game output file size (bytes)    %16zu %16zu\n", windows[0].FileBytes,
                    windows[1].FileBytes);
        const auto row = [&](const char* ALabel, std::vector<double> Window::*AField) {
            std::printf("  %-32s %16.2f %16.2f\n", ALabel, Median(windows[0].*AField),
                        Median(windows[1].*AField));
        };
        row("screen and memory (steps 1-4)", &Window::Screen);
        row("game files (steps 5-6)", &Window::Files);
        row("  of which data/talofile.txt", &Window::Talo);
        row("  of which data/comm.bin", &Window::Comm);
        row("whole Addline", &Window::Whole);
        row("bare rewrite, same size (floor)", &Window::Bare);
        for (const Window& w : windows) {
            std::printf("  whole Addline / bare rewrite %s: %.2f\n", w.Name,
                        Median(w.Whole) / Median(w.Bare));
        }
        benchmark::DoNotOptimize(form.RichEdit2().Length());
        form.hide();
    }
    {
        // The same lines through the screen part alone. Near the end each call above writes
        // megabytes, which evicts the view's data from the caches between two calls; without
        // the writes, what is left is the growth of the work itself.
        TForm1 form;
        form.show();
        form.RichEdit1->show();
        QApplication::processEvents();
        std::vector<double> start, end;
        for (int i = 0; i < Lines; ++i) {
            char line[41];
            std::snprintf(line, sizeof line, "(nick%05d) the quick brown fox jumps ov", i);
            const auto t0 = Clock::now();
            form.Sink().ShowLine(line, true, true);
            const double us = Micros(Clock::now() - t0);
            if (i >= windows[0].First && i < windows[0].Last) {
                start.push_back(us);
            } else if (i >= windows[1].First) {
                end.push_back(us);
            }
            if (i % 500 == 0) {
                QApplication::processEvents();
            }
        }
        std::printf("  %-32s %16.2f %16.2f\n", "screen and memory, no file writes", Median(start),
                    Median(end));
        form.hide();
    }
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}
