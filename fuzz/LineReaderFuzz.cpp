// The line reader fed bytes in receipts of fuzzed sizes, with a fuzzed line limit and either
// limit action. The first bytes choose: the limit (1 to 256), the action, and the receipt
// sizes (one byte each, cycled); the rest is what the peer sends, then it closes.
//
// What must hold: every line read is in the input, in order (nothing invented, reordered or
// garbled), holds no LF, and with the split action is never longer than the limit; the only
// ways reading ends are the peer's close and, with the exception action, a line too long.
#include "IdException.h"
#include "IdTCPConnection.h"
#include "ScriptedIOHandler.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool AHolds, const char* AWhat) {
    if (!AHolds) {
        std::fprintf(stderr, "line reader: %s\n", AWhat);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    if (ASize < 3) {
        return 0;
    }
    const int32_t limit = 1 + AData[0];
    const bool split = (AData[1] & 1) != 0;
    const size_t sizeCount = 1 + (AData[1] >> 1) % 8;
    if (ASize < 2 + sizeCount) {
        return 0;
    }
    const std::vector<uint8_t> sizes(AData + 2, AData + 2 + sizeCount);
    const std::string input(reinterpret_cast<const char*>(AData + 2 + sizeCount),
                            ASize - 2 - sizeCount);

    ScriptedConnection peer;
    peer.Conn.SetMaxLineLength(limit);
    peer.Conn.SetMaxLineAction(split ? maSplit : maException);
    for (size_t from = 0, i = 0; from < input.size(); ++i) {
        const size_t size = std::max<size_t>(1, sizes[i % sizes.size()]);
        peer.Handler->Receipt(input.substr(from, size));
        from += size;
    }
    peer.Handler->EndOfData();

    size_t at = 0;
    std::string line;
    for (;;) {
        try {
            peer.Conn.ReadLnInto(line);
        } catch (const EIdReadLnMaxLineLengthExceeded&) {
            Check(!split, "a line too long raised with the split action");
            break;
        } catch (const EIdException&) {
            break; // the peer's close
        }
        Check(line.find('\n') == std::string::npos, "a line holds LF");
        Check(!split || line.size() <= size_t(limit), "a split line over the limit");
        const size_t found = input.find(line, at);
        Check(found != std::string::npos, "a line that is not in the input, in order");
        at = found + line.size();
    }
    return 0;
}
