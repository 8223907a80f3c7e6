#include "app/IniText.h"

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

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.push_back(Classify(text.substr(start), text.substr(text.size())));
            break;
        }
        size_t bodyEnd = lf;
        if (bodyEnd > start && text[bodyEnd - 1] == '\r') {
            --bodyEnd;
        }
        lines.push_back(
            Classify(text.substr(start, bodyEnd - start), text.substr(bodyEnd, lf + 1 - bodyEnd)));
        start = lf + 1;
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

// The ending put after a last line that has none. A lone CR is an ordinary character of the
// line, so a LF straight after it would turn it into a CR LF ending and take it off the line's
// value; such a line is closed with CR LF instead, which keeps its CR.
std::string_view EndingAfter(std::string_view body, std::string_view eol) {
    return !body.empty() && body.back() == '\r' ? "\r\n" : eol;
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
                  std::string_view value) {
    const std::vector<Line> lines = SplitLines(text);
    const std::string_view eol = (!lines.empty() && lines.front().Ending == "\r\n") ? "\r\n" : "\n";
    std::string keyLine = std::string(key) + "=" + std::string(value);

    // Offsets into text: every line's body begins where the previous line's ending stops.
    auto offsetOf = [&](size_t index) {
        return static_cast<size_t>(lines[index].Body.data() - text.data());
    };
    auto endOf = [&](size_t index) {
        return static_cast<size_t>(lines[index].Ending.data() - text.data()) +
               lines[index].Ending.size();
    };

    std::string result;
    const size_t header = FindSection(lines, section);
    if (header == lines.size()) {
        result.assign(text);
        if (!result.empty() && result.back() != '\n') {
            result += EndingAfter(result, eol);
        }
        result += "[" + std::string(section) + "]";
        result += eol;
        result += keyLine;
        result += eol;
        return result;
    }

    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].Kind == LineKind::Key && SameTextIgnoringCase(lines[i].Name, key)) {
            result.assign(text.substr(0, offsetOf(i)));
            result += keyLine;
            result += text.substr(offsetOf(i) + lines[i].Body.size());
            return result;
        }
    }

    size_t last = header;
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].Kind != LineKind::Blank && lines[i].Kind != LineKind::Comment) {
            last = i;
        }
    }
    result.assign(text.substr(0, endOf(last)));
    if (lines[last].Ending.empty()) {
        result += EndingAfter(lines[last].Body, eol);
    }
    result += keyLine;
    result += eol;
    result += text.substr(endOf(last));
    return result;
}

} // namespace IniText
