// The game's command file, "data/X.txt", looked for once a second by TForm1::Timer1Timer.
//
// The file's whole text is one command, recognised by its first characters (case-sensitive):
//   SAY <text>     sends the text, lower-cased, to the channel as a message
//   ACTION <text>  sends the text, lower-cased, to the channel as an action
//   WHO            logs "USERS ON CHANNEL:" and the nick list, nothing is sent
// Line breaks at the end of the text are dropped first (editors and games end files with one).
// A handled file is deleted; a file of any other text stays and is read again each second.
//
// The floodgate keeps a file that cannot be deleted from being sent again every second:
//   SAY is refused when its text repeats the last sent text and the previous file was found
//   on the previous tick; ACTION is refused when its text repeats the last sent text at all,
//   and whenever the previous file was found on the previous tick. Refused: "!!!FLOODGATE!!!"
//   is logged and nothing is sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char* CommandFile = "data/X.txt";
inline constexpr const char* FloodgateLine = "!!!FLOODGATE!!!";

// Ticks since the last tick that found the command file, counting the current one.
extern int32_t TimerTicks;
// The lower-cased text most recently sent to the channel by SAY or ACTION.
extern std::string LastSentLine;

// Back to the start of a run: no tick yet, nothing sent.
void ResetCommandPoller();

// The text with A to Z turned into a to z; every other byte stays.
std::string LowerCaseAscii(std::string_view AText);
