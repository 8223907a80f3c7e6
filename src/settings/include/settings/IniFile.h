// The settings file: an INI file read and written one value at a time.
#pragma once

#include "base/Exception.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

// A write that the file system refused: "Unable to write to %s" with the file's name.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// The name of the settings file: the current directory as the system reports it, however long,
// followed by the platform's separator and "DORVEX.ini". When the system cannot tell the current
// directory (it was removed), the name is relative, "./DORVEX.ini" (".\DORVEX.ini" on Windows):
// reads then give the defaults and writes are refused.
std::string SettingsPath();

// One settings file, by name. Making the object opens nothing; every read reads the file. Writes
// are gathered and reach the file together, in one rewrite, when Flush is called: so a write
// that fails changes nothing, not even the values written before it in the same object.
//
// A rewrite respects the file it replaces:
// - A file that this process may not write (or read, as its other lines would be lost), a file
//   marked read-only (no write permission for anyone, or the read-only attribute on Windows), a
//   folder, a FIFO, a device (NUL, CON on Windows), a link that leads nowhere, is not replaced:
//   the write is refused and the file stays as it was.
// - A symbolic link is written through: its target gets the new text and the link stays.
// - The new text goes to a new file in the same folder, which is synced and then renamed over
//   the old one (on Windows: put in its place by ReplaceFile), so a crash, a full disk or a
//   power cut leaves either the old file or the new one. The new file takes the old one's owner,
//   group and permissions first (on Windows: its security, its attributes such as hidden, and
//   its creation time). Where it cannot (the old file belongs to another user, or the folder
//   takes no new file, or refuses the rename) the file is rewritten in place instead, which
//   keeps all of them and its identity.
// - A new file's lines end in LF, on Windows in CR LF; an existing file keeps its own endings.
class TIniFile : public TObject {
public:
    explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
    // Flushes what is still gathered; a failure then goes unreported, so a caller that must know
    // calls Flush itself. Destroyed while a failure unwinds the caller, it drops the gathered
    // writes instead: the caller's writes were cut short, and a part of them must not reach the
    // file.
    ~TIniFile() override;
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const { return FFileName; }

    // The key's value by the reading rules of IniText::Lookup, or fallback with its trailing
    // blanks removed when the file, the section or the key is missing or the file cannot be
    // read; at most 2047 characters either way. Writes not yet flushed count.
    std::string ReadText(const std::string& section, const std::string& key,
                         const std::string& fallback) const;

    // ReadText with an empty default; a text longer than two characters that starts with "0x"
    // or "0X" has those two replaced by "$"; then the integer text rule, fallback when it fails.
    int32_t ReadInt(const std::string& section, const std::string& key, int32_t fallback) const;

    // Sets the key's value, creating the file or the section when missing, at the next Flush.
    // Raises EIniFileException "Unable to write to %s" at once when the section, the key or the
    // value holds a line break (it would split the line).
    void WriteText(const std::string& section, const std::string& key, const std::string& value);

    // Writes everything gathered since the last Flush to the file, all of it or nothing, and
    // makes it last (synced to the disk). Raises EIniFileException "Unable to write to %s" when
    // the file cannot be written as described above; the file is then left as it was and the
    // gathered writes are dropped.
    void Flush();

private:
    struct TWrite {
        std::string Section;
        std::string Key;
        std::string Value;
    };
    // text with every gathered write applied, in order.
    std::string Apply(std::string text) const;

    std::string FFileName;
    std::vector<TWrite> FWrites;
    int FUnwindingAtStart = std::uncaught_exceptions();
};
