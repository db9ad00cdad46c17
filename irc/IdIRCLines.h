// How text becomes wire lines: no CR, LF or NUL inside a line, and no relayed line over the
// protocol's 512 bytes. Pure functions over bytes, used by the component's outbound commands.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace IdIRCLines {

// The longest line the protocol allows, CR LF included.
inline constexpr size_t kMaxLine = 512;
// What a server puts before a line it relays: ":" nick "!" user "@" host " ". The user and
// host parts are taken at their usual worst: 10 bytes of user name, 63 of host name.
inline constexpr size_t kRelayUserLength = 10;
inline constexpr size_t kRelayHostLength = 63;
size_t RelayPrefixLength(size_t ANickLength);

// One line as given to SendLine, made safe for the wire:
//  - NUL cannot travel in a line: each is dropped.
//  - A line break inside the trailing parameter (after the first " :") ends a piece: each
//    piece becomes a line of its own with everything up to and including that " :" repeated,
//    so "PRIVMSG #c :a\nb" is two messages to #c. Empty pieces (a trailing break, CR LF,
//    blank lines) send nothing, but a line whose text is empty as a whole still goes once.
//  - A line break before the trailing parameter cannot be a second command: each run of CR
//    and LF there becomes one blank.
std::vector<std::string> WireLines(std::string_view ALine);

// A message text cut into pieces that each fit ABudget bytes: split at line breaks as above
// (NUL dropped, empty pieces skipped, one empty piece for an empty text), then every piece
// longer than ABudget is cut, never inside a UTF-8 sequence. Text that is not UTF-8 (the
// 8-bit text of older clients) is cut at the budget when no sequence start is near.
std::vector<std::string> TextPieces(std::string_view AText, size_t ABudget);

} // namespace IdIRCLines
