// Line reading throughput: 1,000,000 IRC-sized lines (60 bytes with CR LF) from a loopback
// server through TIdTCPClient::ReadLn, next to a floor measured on the same data in the same
// run: a plain loop of 32 KiB receives on a socket, counting lines with memchr. The goal is
// ReadLn at half the floor or better, ReadLnInto at 0.6 or better in every round. The first
// argument is the number of rounds (default 5); each round's ratios are printed as a spread. ReadLn
// is measured both ways a caller can take its lines: a fresh string per line, and ReadLnInto one
// string kept for every line (as the IRC reader keeps its last line), which leaves the per-line
// allocation out.
#include "IdException.h"
#include "IdStack.h"
#include "IdTCPClient.h"
#include "LoopbackServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLines = 1000000;

// Heap allocations (operator new) made by the reading thread while it reads: the line path is
// to make none per line or per receipt once it has warmed up.
thread_local bool tCounting = false;
thread_local long tAllocations = 0;

} // namespace

// The replacements pair malloc with free; GCC cannot see that new and delete here are both
// replaced and warns of a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t ASize) {
    if (tCounting) {
        ++tAllocations;
    }
    if (void* p = std::malloc(ASize != 0 ? ASize : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* APointer) noexcept {
    std::free(APointer);
}
void operator delete(void* APointer, std::size_t) noexcept {
    std::free(APointer);
}

namespace {

// The reading thread's own CPU time: on a loaded machine the wall clock also counts time
// spent waiting for a core, which hurts both loops alike but not evenly.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Figures {
    double LinesPerSecond = 0;
    double CpuNanosPerLine = 0;
    double AllocationsPerLine = 0;
    void Keep(const Figures& other) {
        AllocationsPerLine = std::max(AllocationsPerLine, other.AllocationsPerLine);
        LinesPerSecond = std::max(LinesPerSecond, other.LinesPerSecond);
        CpuNanosPerLine = CpuNanosPerLine == 0 ? other.CpuNanosPerLine
                                               : std::min(CpuNanosPerLine, other.CpuNanosPerLine);
    }
};

std::string MakeLines() {
    std::string data;
    data.reserve(size_t(kLines) * 60);
    char line[64];
    for (int i = 0; i < kLines; ++i) {
        // 58 bytes of text, then CR LF.
        std::snprintf(line, sizeof line,
                      ":nick!user@host PRIVMSG #chan :message %07d xxxxxxxxxxx\r\n", i);
        data += line;
    }
    return data;
}

// The floor: the stack's receive (a bare recv) in 32 KiB blocks, lines found with memchr.
// With AMakeStrings each line is also handed out as a std::string without its CR LF, which
// is what a caller of ReadLn receives: that allocation and copy is a fixed cost per line no
// line reader returning strings avoids.
Figures Floor(const std::string& data, bool AMakeStrings) {
    LoopbackServer server;
    server.Send(data);
    TIdTCPClient keepStack; // keeps the socket stack alive
    TIdStack* stack = ActiveStack();
    TIdStackSocketHandle socket = stack->NewSocketHandle(Id_SOCK_STREAM, 0);
    auto start = Clock::now();
    double cpuStart = ThreadCpuSeconds();
    if (stack->Connect(socket, Id_PF_INET, LoopbackServer::Host(), server.Port()) != 0) {
        std::fprintf(stderr, "floor: connect failed\n");
        return {};
    }
    std::vector<char> block(32768);
    long lines = 0;
    std::string carry; // the start of a line that continues in the next block
    size_t text = 0;
    while (lines < kLines) {
        int32_t n = stack->Recv(socket, block.data(), int32_t(block.size()), 0);
        if (n <= 0) {
            break;
        }
        const char* p = block.data();
        const char* end = p + n;
        while (const void* found = std::memchr(p, '\n', size_t(end - p))) {
            const char* at = static_cast<const char*>(found);
            if (AMakeStrings) {
                std::string line;
                if (carry.empty()) {
                    line.assign(p, size_t(at - p));
                } else {
                    carry.append(p, size_t(at - p));
                    line.swap(carry);
                    carry.clear();
                }
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                text += line.size();
            }
            ++lines;
            p = at + 1;
        }
        if (AMakeStrings && p < end) {
            carry.append(p, size_t(end - p));
        }
    }
    if (AMakeStrings && text != size_t(kLines) * 58) {
        std::fprintf(stderr, "floor: %zu bytes of text\n", text);
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = ThreadCpuSeconds() - cpuStart;
    stack->CloseSocket(socket);
    if (lines != kLines) {
        std::fprintf(stderr, "floor: %ld lines\n", lines);
    }
    return {double(lines) / seconds, cpu * 1e9 / double(lines)};
}

Figures ReadLn(const std::string& data, bool AReuseString) {
    LoopbackServer server;
    server.Send(data);
    TIdTCPClient client;
    client.SetHost(LoopbackServer::Host());
    client.SetPort(server.Port());
    auto start = Clock::now();
    double cpuStart = ThreadCpuSeconds();
    client.Connect();
    size_t bytes = 0;
    std::string line;
    long allocations = 0;
    for (int i = 0; i < kLines; ++i) {
        // Counted after the first receipts, when the buffer and the kept string have grown.
        if (i == 10000) {
            tAllocations = 0;
            tCounting = true;
        }
        if (AReuseString) {
            client.ReadLnInto(line);
            bytes += line.size();
        } else {
            bytes += client.ReadLn().size();
        }
    }
    tCounting = false;
    allocations = tAllocations;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = ThreadCpuSeconds() - cpuStart;
    if (bytes != size_t(kLines) * 58) {
        std::fprintf(stderr, "readln: %zu bytes of text\n", bytes);
    }
    client.Disconnect();
    return {kLines / seconds, cpu * 1e9 / kLines, double(allocations) / (kLines - 10000)};
}

// The spread of a ratio over the rounds: lowest, median and highest.
void PrintSpread(const char* AName, std::vector<double> ARatios) {
    std::sort(ARatios.begin(), ARatios.end());
    std::printf("%-29s: %5.2f min  %5.2f median  %5.2f max  over %zu rounds\n", AName,
                ARatios.front(), ARatios[ARatios.size() / 2], ARatios.back(), ARatios.size());
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string data = MakeLines();
    Figures floor, floorStrings, readln, readlnInto;
    // Each round's ratios against the floor of the same round, so the spread shows how far
    // one run can be trusted on this machine.
    std::vector<double> readlnRatio, intoRatio, intoCpuRatio;
    // Best of the rounds each, interleaved, so a busy moment on the machine hurts both alike.
    for (int round = 0; round < rounds; ++round) {
        const Figures f = Floor(data, false);
        const Figures fs = Floor(data, true);
        const Figures r = ReadLn(data, false);
        const Figures ri = ReadLn(data, true);
        floor.Keep(f);
        floorStrings.Keep(fs);
        readln.Keep(r);
        readlnInto.Keep(ri);
        readlnRatio.push_back(r.LinesPerSecond / f.LinesPerSecond);
        intoRatio.push_back(ri.LinesPerSecond / f.LinesPerSecond);
        intoCpuRatio.push_back(f.CpuNanosPerLine / ri.CpuNanosPerLine);
    }
    std::printf("floor  (32 KiB recv + memchr): %12.0f lines/s  %6.1f ns CPU/line\n",
                floor.LinesPerSecond, floor.CpuNanosPerLine);
    std::printf("floor with a string per line : %12.0f lines/s  %6.1f ns CPU/line\n",
                floorStrings.LinesPerSecond, floorStrings.CpuNanosPerLine);
    std::printf("ReadLn (TIdTCPClient)        : %12.0f lines/s  %6.1f ns CPU/line\n",
                readln.LinesPerSecond, readln.CpuNanosPerLine);
    std::printf("ReadLnInto (one kept string) : %12.0f lines/s  %6.1f ns CPU/line\n",
                readlnInto.LinesPerSecond, readlnInto.CpuNanosPerLine);
    std::printf("heap allocations per line    : %12.4f ReadLn, %.4f ReadLnInto (most of a round)\n",
                readln.AllocationsPerLine, readlnInto.AllocationsPerLine);
    std::printf("ReadLn / floor               : %12.2f (target >= 0.50)\n",
                readln.LinesPerSecond / floor.LinesPerSecond);
    std::printf("ReadLnInto / floor           : %12.2f (target >= 0.60)\n",
                readlnInto.LinesPerSecond / floor.LinesPerSecond);
    std::printf("ReadLn / floor with strings  : %12.2f\n",
                readln.LinesPerSecond / floorStrings.LinesPerSecond);
    std::printf("Per round, against that round's floor:\n");
    PrintSpread("ReadLn / floor (lines/s)", readlnRatio);
    PrintSpread("ReadLnInto / floor (lines/s)", intoRatio);
    PrintSpread("ReadLnInto / floor (CPU)", intoCpuRatio);
    return 0;
}
