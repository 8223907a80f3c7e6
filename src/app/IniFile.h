// The settings file: an INI file read and written one value at a time.
#pragma once

#include "base/Exception.h"

#include <cstdint>
#include <string>

// A write that the file system refused: "Unable to write to %s" with the file's name.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// The name of the settings file: the current directory as the system reports it, however long,
// followed by "/DORVEX.ini". When the system cannot tell the current directory (it was
// removed), the name is relative, "./DORVEX.ini": reads then give the defaults and writes are
// refused.
std::string SettingsPath();

// One settings file, by name. Making the object opens nothing; every read reads the file and
// every write rewrites it.
//
// A write never leaves the file broken: the new text goes to a new file in the same folder,
// which is synced and then renamed over the old one, so a crash, a full disk or a power cut
// leaves either the old file or the new one. The new file keeps the old one's permissions (and
// owner, where the process may set it). Only where the folder refuses a new file but the file
// itself is writable is the file rewritten in place. A settings file that is a symbolic link is
// written through the link.
class TIniFile : public TObject {
public:
    explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
    ~TIniFile() override { Flush(); }
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const { return FFileName; }

    // The key's value by the reading rules of IniText::Lookup, or fallback with its trailing
    // blanks removed when the file, the section or the key is missing or the file cannot be
    // read; at most 2047 characters either way.
    std::string ReadText(const std::string& section, const std::string& key,
                         const std::string& fallback) const;

    // ReadText with an empty default; a text longer than two characters that starts with "0x"
    // or "0X" has those two replaced by "$"; then the integer text rule, fallback when it fails.
    int32_t ReadInt(const std::string& section, const std::string& key, int32_t fallback) const;

    // Sets the key's value, creating the file or the section when missing. Raises
    // EIniFileException "Unable to write to %s" when the file cannot be written, when the file
    // exists but cannot be read (its other contents would be lost), and when the section, the
    // key or the value holds a line break (it would split the line). A refused write leaves the
    // file as it was.
    void WriteText(const std::string& section, const std::string& key, const std::string& value);

    // Every write is on the disk when WriteText returns, so there is nothing left to do.
    void Flush() {}

private:
    std::string FFileName;
};
