// How a logged line's bytes become text on the screen and in "IRC.log".
//
// Lines arrive as raw bytes from the IRC server and the game, in no declared encoding. Modern
// IRC clients send UTF-8; the game and older clients send Windows-1252. A line is taken as
// UTF-8 when its bytes are well-formed UTF-8 and as Windows-1252 otherwise; the decision is
// made per line. The exchange files never see this: they get the original bytes.
#pragma once

#include <string>
#include <string_view>

class QString;

// Strictly well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// no truncated sequence.
bool IsValidUtf8(std::string_view ABytes);

// Every byte read as Windows-1252 and written as UTF-8. The five bytes that code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same value, as the
// Windows conversion does, so no byte is ever lost.
std::string Cp1252ToUtf8(std::string_view ABytes);

// The UTF-8 form of a line: the bytes themselves when valid UTF-8, else their 1252 reading.
std::string DisplayUtf8(std::string_view ABytes);

// The same as a QString for the widgets.
QString DisplayString(std::string_view ABytes);

// True when every byte is 7-bit ASCII.
bool IsAscii(std::string_view ABytes);
