// Text from outside the program (a device's error packet, a host list, the command line) made
// safe to show: nothing in it can move the cursor, repaint the screen or start a line of its own.
#pragma once

#include <string>
#include <string_view>

// For a terminal or a log line: printable characters of valid UTF-8 are kept; control characters
// (C0 with tab, CR and LF, DEL, and the C1 range U+0080..U+009F, which terminals also obey), the
// characters that show nothing or turn the text around (zero-width and direction marks, the
// byte-order mark) and every byte that is not part of valid UTF-8 become \xHH, one per byte; the
// backslash is doubled, so that no escape can be forged.
std::string TerminalText(std::string_view text);

// A JSON string literal, quotes included (RFC 8259 section 7): the quote, the backslash and the
// control characters escaped; a byte that is not part of valid UTF-8 is read as the Latin-1
// character of its value, so that the document is always valid UTF-8.
std::string JsonString(std::string_view text);
