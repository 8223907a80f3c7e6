#include "settings/IniText.h"

#include "base/TextCase.h"

#include <vector>

namespace IniText {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

enum class LineKind { Other, Blank, Comment, Section, Key };

struct Line {
    std::string_view Body;   // without its line ending
    std::string_view Ending; // "\n", "\r\n" or empty for a last line without one
    LineKind Kind = LineKind::Other;
    std::string_view Name;  // section or key name, trimmed
    std::string_view Value; // key value, trimmed
};

Line Classify(std::string_view body, std::string_view ending) {
    Line line;
    line.Body = body;
    line.Ending = ending;
    const std::string_view trimmed = Trim(body);
    if (trimmed.empty()) {
        line.Kind = LineKind::Blank;
    } else if (trimmed.front() == ';' || trimmed.front() == '#') {
        line.Kind = LineKind::Comment;
    } else if (trimmed.front() == '[') {
        const size_t close = trimmed.find(']');
        if (close != std::string_view::npos) {
            line.Kind = LineKind::Section;
            line.Name = Trim(trimmed.substr(1, close - 1));
        }
    } else if (const size_t eq = trimmed.find('='); eq != std::string_view::npos) {
        line.Kind = LineKind::Key;
        line.Name = Trim(trimmed.substr(0, eq));
        line.Value = Trim(trimmed.substr(eq + 1));
    }
    return line;
}

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// The lines of the text, after its byte-order mark. A CR directly followed by LF is one CR LF
// ending; any other CR ends its line by itself.
std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t start = text.substr(0, ByteOrderMark.size()) == ByteOrderMark ? ByteOrderMark.size() : 0;
    while (start < text.size()) {
        const size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string_view::npos) {
            lines.push_back(Classify(text.substr(start), text.substr(text.size())));
            break;
        }
        const size_t length = text.substr(stop, 2) == "\r\n" ? 2 : 1;
        lines.push_back(Classify(text.substr(start, stop - start), text.substr(stop, length)));
        start = stop + length;
    }
    return lines;
}

// The index of the first header of the section, or lines.size().
size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].Kind == LineKind::Section && SameTextIgnoringCase(lines[i].Name, section)) {
            return i;
        }
    }
    return lines.size();
}

// The index of the line after the last one of the section whose header is at index header.
size_t SectionEnd(const std::vector<Line>& lines, size_t header) {
    size_t i = header + 1;
    while (i < lines.size() && lines[i].Kind != LineKind::Section) {
        ++i;
    }
    return i;
}

std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, MaxValueLength));
}

} // namespace

bool HoldsLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::optional<std::string> Lookup(std::string_view text, std::string_view section,
                                  std::string_view key) {
    const std::vector<Line> lines = SplitLines(text);
    const size_t header = FindSection(lines, section);
    if (header == lines.size()) {
        return std::nullopt;
    }
    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].Kind == LineKind::Key && SameTextIgnoringCase(lines[i].Name, key)) {
            return Unquote(lines[i].Value);
        }
    }
    return std::nullopt;
}

std::string Write(std::string_view text, std::string_view section, std::string_view key,
                  std::string_view value, std::string_view newLine) {
    const std::vector<Line> lines = SplitLines(text);
    const std::string keyLine = std::string(key) + "=" + std::string(value);
    const size_t header = FindSection(lines, section);
    const size_t end = header == lines.size() ? header : SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].Kind == LineKind::Key && SameTextIgnoringCase(lines[i].Name, key)) {
            // Every line's body begins where the previous line's ending stops.
            const auto at = static_cast<size_t>(lines[i].Body.data() - text.data());
            return std::string(text.substr(0, at)) + keyLine +
                   std::string(text.substr(at + lines[i].Body.size()));
        }
    }

    // The new lines go after the section's last line that is neither blank nor a comment, so
    // that blank lines and comments in front of the next section stay there; a missing section
    // goes at the end of the text.
    size_t after = lines.size();
    if (header < lines.size()) {
        after = header;
        for (size_t i = header + 1; i < end; ++i) {
            if (lines[i].Kind != LineKind::Blank && lines[i].Kind != LineKind::Comment) {
                after = i;
            }
        }
    } else if (!lines.empty()) {
        after = lines.size() - 1;
    }
    std::string result;
    std::string_view ending = newLine;
    size_t rest = text.size();
    if (after == lines.size()) {
        result.assign(text); // nothing but a byte-order mark, if anything
    } else {
        const Line& previous = lines[after];
        rest = static_cast<size_t>(previous.Ending.data() - text.data()) + previous.Ending.size();
        result.assign(text.substr(0, rest));
        ending = previous.Ending;
        if (ending.empty()) {
            // Only the last line can lack an ending: it is closed first.
            ending = lines.front().Ending.empty() ? newLine : lines.front().Ending;
            result += ending;
        }
    }
    if (header == lines.size()) {
        result += "[" + std::string(section) + "]";
        result += ending;
    }
    result += keyLine;
    result += ending;
    result += text.substr(rest);
    return result;
}

} // namespace IniText
