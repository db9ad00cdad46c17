// Small helpers and constants shared by the whole transport.
#pragma once

#include <cstdint>
#include <string>

namespace Id {

// Time-out arguments are milliseconds, or one of these two marks.
inline constexpr int TimeoutDefault = -1;  // use the connection's own setting
inline constexpr int TimeoutInfinite = -2; // wait without limit

// printf-style formatting into a std::string. Used for the fixed message texts that carry
// a value ("Invalid Port Range (%d - %d)"), so the texts keep their printf form in one place.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace Id
