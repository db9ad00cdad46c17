// The one case folding of nicknames and channel names. The registry indexes every name by its
// folded form and compares names only through it, so lookups and comparisons never disagree.
//
// Which letters fold. Names are bytes; a name is read the way the window shows it: as UTF-8
// when it is valid UTF-8, as Windows-1252 otherwise. Under either reading the same letters
// fold, upper case to lower case:
//   - ASCII A-Z;
//   - the Latin-1 capitals U+00C0-U+00DE except the multiplication sign U+00D7
//     (Windows-1252 bytes 0xC0-0xDE, UTF-8 C3 80 - C3 9E);
//   - the four other capitals of Windows-1252: S caron, OE ligature, Z caron, Y diaeresis
//     (bytes 0x8A, 0x8C, 0x8E, 0x9F; UTF-8 C5 A0, C5 92, C5 BD, C5 B8).
// Every other byte compares exactly; sharp s and the micro sign have no one-byte capital.
// Folding never changes a name's length. Reading a UTF-8 name byte by byte as Windows-1252
// would merge names that differ (UTF-8 continuation bytes 0x8A and 0x9A, for instance, belong
// to different Cyrillic and Latin letters), which is why the encoding is decided per name.
//
// IRC's own mapping of { } | ~ onto [ ] \ ^ is not applied. Servers announce whether they use
// it, and this client does not read that announcement; folding those characters would merge
// two people that an "ascii" server keeps apart, and handing one person's references and
// channel flags to another is worse than keeping two entries for one person.
#pragma once

#include <string>
#include <string_view>

// Writes the folded form of name into out, reusing out's storage.
void IRCFoldName(std::string_view name, std::string& out);
std::string IRCFoldName(std::string_view name);
// True when the two names fold to the same text.
bool IRCSameName(std::string_view a, std::string_view b);
