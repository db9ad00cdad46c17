// Small helpers and constants shared by the whole transport.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Id {

// Time-out arguments are milliseconds, or one of these two marks.
inline constexpr int TimeoutDefault = -1;  // use the connection's own setting
inline constexpr int TimeoutInfinite = -2; // wait without limit

// printf-style formatting into a std::string. Used for the fixed message texts that carry
// a value ("Invalid Port Range (%d - %d)"), so the texts keep their printf form in one place.
// With mingw-w64 the C++ library formats through the C99-conforming printf (%zu, %lld), which
// its compiler checks as gnu_printf; plain printf would be checked as Microsoft's.
#ifdef __MINGW32__
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

// Strict decimal conversion: an optional sign and one or more digits, nothing else (no
// blanks, no trailing characters), within the 32-bit signed range. Used wherever text must be
// a whole number (address parts, service names, reply codes), so "12abc" never reads as 12.
bool TryStrToInt(std::string_view text, int32_t& value);
// The same, raising std::invalid_argument when the text is not such a number.
int32_t StrToInt(std::string_view text);

// AText without the blanks and control characters (every byte up to the space) around it.
std::string Trim(std::string_view AText);

// Splits AText at the first ADelim: returns what stands before it and, when ADelete, leaves
// what follows it in AText. Not found: returns all of AText and, when ADelete, empties it.
// Without ACaseSensitive ASCII letters match either case.
std::string FetchToken(std::string& AText, const std::string& ADelim = " ", bool ADelete = true,
                       bool ACaseSensitive = true);

} // namespace Id
