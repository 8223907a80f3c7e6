// The rules of the settings file, the same on every platform: reads through the text layer, writes
// gathered and applied to the file's whole text at Flush. The file system itself is the
// platform's (IniFilePosix.cpp, IniFileWin32.cpp).
#include "settings/IniFile.h"

#include "base/Format.h"
#include "base/IntegerText.h"
#include "settings/IniFileSystem.h"
#include "settings/IniText.h"

#include <optional>

namespace {

#if defined(_WIN32)
constexpr const char* FileTitle = "\\DORVEX.ini";
// The lines of a new file end as the system's own INI writer ends them, and as Windows editors
// expect.
constexpr const char* NewLine = "\r\n";
#else
constexpr const char* FileTitle = "/DORVEX.ini";
constexpr const char* NewLine = "\n";
#endif

EIniFileException Refused(const std::string& name) {
    return EIniFileException(Format("Unable to write to %s", name.c_str()));
}

std::string TrimTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.pop_back();
    }
    return text;
}

} // namespace

std::string SettingsPath() {
    const std::optional<std::string> folder = IniFileSystem::CurrentDirectory();
    return (folder ? *folder : std::string(".")) + FileTitle;
}

TIniFile::~TIniFile() {
    if (std::uncaught_exceptions() > FUnwindingAtStart) {
        return;
    }
    try {
        Flush();
    } catch (...) {
        // Told only to a caller of Flush.
    }
}

std::string TIniFile::Apply(std::string text) const {
    for (const TWrite& write : FWrites) {
        text = IniText::Write(text, write.Section, write.Key, write.Value, NewLine);
    }
    return text;
}

std::string TIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
    std::string text;
    if (IniFileSystem::ReadWhole(FFileName, text) != IniFileSystem::TReadOutcome::Failed) {
        if (std::optional<std::string> value = IniText::Lookup(Apply(text), section, key)) {
            return *value;
        }
    }
    std::string result = TrimTrailingBlanks(fallback);
    if (result.size() > IniText::MaxValueLength) {
        result.resize(IniText::MaxValueLength);
    }
    return result;
}

int32_t TIniFile::ReadInt(const std::string& section, const std::string& key,
                          int32_t fallback) const {
    std::string text = ReadText(section, key, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.replace(0, 2, "$");
    }
    return TextToIntDef(text, fallback);
}

void TIniFile::WriteText(const std::string& section, const std::string& key,
                         const std::string& value) {
    if (IniText::HoldsLineBreak(section) || IniText::HoldsLineBreak(key) ||
        IniText::HoldsLineBreak(value)) {
        throw Refused(FFileName);
    }
    FWrites.push_back({section, key, value});
}

void TIniFile::Flush() {
    if (FWrites.empty()) {
        return;
    }
    const bool written = IniFileSystem::Rewrite(
        FFileName, [this](std::string text) { return Apply(std::move(text)); });
    FWrites.clear();
    if (!written) {
        throw Refused(FFileName);
    }
}
