// What TIniFile asks of the platform's file system: one implementation per platform, beside the
// rules (IniFilePosix.cpp, IniFileWin32.cpp). Only the settings library includes this.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace IniFileSystem {

enum class TReadOutcome { Read, Missing, Failed };

// The whole file into text: Missing when there is no file of that name, Failed when it cannot be
// read or is no regular file.
TReadOutcome ReadWhole(const std::string& name, std::string& text);

// Gives the file the text that edit makes of its current text (of the empty text when there is no
// file yet), respecting the file as TIniFile describes. False when the write is refused; the file
// is then as it was.
bool Rewrite(const std::string& name, const std::function<std::string(std::string)>& edit);

// The current directory as the system reports it, however long; nothing when the system cannot
// tell it (it was removed).
std::optional<std::string> CurrentDirectory();

} // namespace IniFileSystem
