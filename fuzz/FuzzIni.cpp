// The settings text: any file text is read without failing, and a value written then reads back
// as written while every other key keeps its value, every other line stays a line of its own and
// a byte-order mark stays in front. The input is the file text, a NUL, then the value to write;
// the names are drawn from a small set in mixed letter case, as a hand-edited settings file has
// them. TIniFile is exercised on a file under the system's temporary folder: it reads what the
// text layer reads, and its write leaves the file holding exactly the text layer's result.
#include "FuzzCheck.h"
#include "base/IntegerText.h"
#include "settings/IniFile.h"
#include "settings/IniText.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 4> Sections = {"Data", "DATA", "debug", "Other"};
constexpr std::array<std::string_view, 5> Keys = {"IP", "ip", "Path", "EnableWrite", "x"};

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// A value that the reading rules give back unchanged: no line break, no blank at either end, not
// enclosed in a pair of quotation marks, not longer than a read returns.
bool ReadsBackUnchanged(std::string_view value) {
    if (IniText::HoldsLineBreak(value) || value.size() > IniText::MaxValueLength) {
        return false;
    }
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (!value.empty() && (blank(value.front()) || blank(value.back()))) {
        return false;
    }
    return !(value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
             value.back() == value.front());
}

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// The lines of a text, by the endings editors write: CR LF, LF or a lone CR.
size_t LineCount(std::string_view text) {
    if (text.substr(0, ByteOrderMark.size()) == ByteOrderMark) {
        text.remove_prefix(ByteOrderMark.size());
    }
    size_t count = 0;
    size_t at = 0;
    while (at < text.size()) {
        ++count;
        const size_t stop = text.find_first_of("\r\n", at);
        if (stop == std::string_view::npos) {
            break;
        }
        at = stop + (text.substr(stop, 2) == "\r\n" ? 2 : 1);
    }
    return count;
}

void WriteFile(const std::string& name, std::string_view text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string& ScratchFile() {
    static const std::string path =
        ((std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                    : std::filesystem::temp_directory_path()) /
         ("zeb40-fuzz-ini-" + std::to_string(::getpid()) + ".ini"))
            .string();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string_view text = input.substr(0, split);
    const std::string_view value =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    const size_t pick = size == 0 ? 0 : data[size - 1];
    const std::string_view section = Sections[pick % Sections.size()];
    const std::string_view key = Keys[(pick / Sections.size()) % Keys.size()];

    // Every lookup of the text, before the write.
    std::array<std::array<std::optional<std::string>, Keys.size()>, Sections.size()> before;
    for (size_t s = 0; s < Sections.size(); ++s) {
        for (size_t k = 0; k < Keys.size(); ++k) {
            before[s][k] = IniText::Lookup(text, Sections[s], Keys[k]);
            if (before[s][k]) {
                FUZZ_CHECK(before[s][k]->size() <= IniText::MaxValueLength, "reads are bounded");
            }
        }
    }

    if (!IniText::HoldsLineBreak(value)) {
        const std::string written = IniText::Write(text, section, key, value);
        const std::optional<std::string> back = IniText::Lookup(written, section, key);
        FUZZ_CHECK(back.has_value(), "a written key is found");
        if (ReadsBackUnchanged(value)) {
            FUZZ_CHECK(*back == value, "a written value reads back as written");
        }
        for (size_t s = 0; s < Sections.size(); ++s) {
            for (size_t k = 0; k < Keys.size(); ++k) {
                if (SameName(Sections[s], section) && SameName(Keys[k], key)) {
                    continue;
                }
                FUZZ_CHECK(IniText::Lookup(written, Sections[s], Keys[k]) == before[s][k],
                           "a write leaves every other key's value");
            }
        }
        // Writing the same value again changes nothing.
        FUZZ_CHECK(IniText::Write(written, section, key, value) == written,
                   "a repeated write is a no-op");
        // A replaced key keeps its line; a missing one adds its line, and its section's header
        // when that is missing too. No line is merged with another or split.
        const std::optional<std::string>& had =
            before[pick % Sections.size()][(pick / Sections.size()) % Keys.size()];
        const size_t added = LineCount(written) - LineCount(text);
        FUZZ_CHECK(LineCount(written) >= LineCount(text) &&
                       (had ? added == 0 : (added == 1 || added == 2)),
                   "a write adds only its own lines");
        FUZZ_CHECK(text.substr(0, ByteOrderMark.size()) != ByteOrderMark ||
                       std::string_view(written).substr(0, ByteOrderMark.size()) == ByteOrderMark,
                   "the byte-order mark stays in front");

        WriteFile(ScratchFile(), text);
        TIniFile file(ScratchFile());
        file.WriteText(std::string(section), std::string(key), std::string(value));
        file.Flush();
        FUZZ_CHECK(ReadFile(ScratchFile()) == written, "the file holds what the text layer wrote");
    }

    // The file layer on the same text: what it reads is what the text layer reads, and ReadInt
    // follows the integer rules on it.
    WriteFile(ScratchFile(), text);
    const TIniFile ini(ScratchFile());
    const std::string read = ini.ReadText(std::string(section), std::string(key), "dflt ");
    const std::optional<std::string>& expected =
        before[pick % Sections.size()][(pick / Sections.size()) % Keys.size()];
    FUZZ_CHECK(read == expected.value_or("dflt"), "ReadText is the lookup, or the trimmed default");
    const int32_t number = ini.ReadInt(std::string(section), std::string(key), -99);
    std::string forInt = expected.value_or("");
    if (forInt.size() > 2 && forInt[0] == '0' && (forInt[1] == 'x' || forInt[1] == 'X')) {
        forInt.replace(0, 2, "$");
    }
    int32_t converted = 0;
    FUZZ_CHECK(number == (TryTextToInt(forInt, converted) ? converted : -99),
               "ReadInt follows the integer rules");
    return 0;
}
