// Exact comparison of the short texts a server line is made of (a nick, a command), for the
// comparisons made on every line. The library's comparison spends its set-up on texts this
// short; two overlapping word loads cover any length from 4 to 16 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace IdIRCBytes {

// Whether n bytes at p and q agree, n being from sizeof(Word) to twice that: the first and the
// last word of each, which overlap when n is shorter than two words.
template <typename Word> bool SameEnds(const char* p, const char* q, size_t n) {
    Word p0, p1, q0, q1;
    std::memcpy(&p0, p, sizeof(Word));
    std::memcpy(&q0, q, sizeof(Word));
    std::memcpy(&p1, p + n - sizeof(Word), sizeof(Word));
    std::memcpy(&q1, q + n - sizeof(Word), sizeof(Word));
    return ((p0 ^ q0) | (p1 ^ q1)) == 0;
}

} // namespace IdIRCBytes

inline bool SameBytes(std::string_view a, std::string_view b) {
    const size_t n = a.size();
    if (n != b.size()) {
        return false;
    }
    if (n >= 8 && n <= 16) {
        return IdIRCBytes::SameEnds<uint64_t>(a.data(), b.data(), n);
    }
    if (n >= 4 && n < 8) {
        return IdIRCBytes::SameEnds<uint32_t>(a.data(), b.data(), n);
    }
    return a == b;
}
