// The INI text itself, with no file behind it: looking a value up in the text of a settings file,
// and the text that results from setting one value. TIniFile is a thin layer of file reading and
// writing on top of these two functions, so they can be fed any text directly.
//
// The format: a file of lines. A line whose first non-blank character is "[" and that holds a
// "]" opens the section named by the text between them. Inside a section, a line holding "="
// gives the key before the first "=" the value after it. Blanks (space and tab) around names
// and values do not count. Names match regardless of letter case (ASCII letters; other bytes
// must be equal).
//
// What the format leaves open, settled here:
// - A line whose first non-blank character is ";" or "#" is a comment: never a key, never a
//   section, kept untouched by a write.
// - Repeated sections or keys: the first one counts. A read looks only in the first section of
//   that name and takes the first matching key in it; a write replaces that same first key, or
//   adds the key to that first section.
// - What editors put around the lines: a UTF-8 byte-order mark before the first line is no
//   part of it, and a line ends with CR LF, LF or a lone CR, in any mix. A write keeps the mark
//   and every line's own ending. A line it adds takes the ending of the line it follows; a last
//   line without an ending is first closed with the ending of the text's first line (the
//   caller's new-line ending for a text without one: LF unless told otherwise).
// - Lines before the first section, lines without "=" and blank lines are kept untouched and
//   belong to no key.
// - A key added to an existing section goes right after the section's last line that is neither
//   blank nor a comment, so blank lines and comments in front of the next section stay there.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace IniText {

// The longest value a read returns; longer values are cut to it.
inline constexpr size_t MaxValueLength = 2047;

// The value of key in the first section named section: blanks around it dropped, then one
// pair of enclosing single or double quotation marks removed, then cut to MaxValueLength
// characters. Nothing when the section or the key is missing.
std::optional<std::string> Lookup(std::string_view text, std::string_view section,
                                  std::string_view key);

// text with the line "key=value" written into section: an existing key's line is replaced where
// it stands (keeping its line ending), a missing key is added at the end of its section, and a
// missing section is added at the end of the text, with the key as its only line. Everything
// else in the text stays byte for byte as it was. newLine ends the lines added to a text that
// has no line ending of its own (an empty text, or one line without an ending).
std::string Write(std::string_view text, std::string_view section, std::string_view key,
                  std::string_view value, std::string_view newLine = "\n");

// True when the text holds a carriage return or a line feed: written into a line it would split
// that line and could inject keys.
bool HoldsLineBreak(std::string_view text);

} // namespace IniText
