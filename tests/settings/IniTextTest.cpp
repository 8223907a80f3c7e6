#include "settings/IniText.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct LookupCase {
    const char* Name;
    std::string Text;
    const char* Section;
    const char* Key;
    std::optional<std::string> Expected;
};

class IniLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(IniLookup, FindsTheValueByTheReadingRules) {
    const LookupCase& c = GetParam();
    EXPECT_EQ(IniText::Lookup(c.Text, c.Section, c.Key), c.Expected) << c.Name;
}

const std::string Long3000(3000, 'v');

INSTANTIATE_TEST_SUITE_P(
    Cases, IniLookup,
    testing::Values(
        LookupCase{"plain", "[Data]\nIP=1.2.3.4\n", "Data", "IP", "1.2.3.4"},
        LookupCase{"other letter case", "[DATA]\nip=10.0.0.7\n", "Data", "IP", "10.0.0.7"},
        LookupCase{"blanks and tabs around", "[Data]\n  IP \t=  \t1 2  \t\n", "Data", "IP", "1 2"},
        LookupCase{"header with blanks", "  [ Data ]  \nIP=1\n", "Data", "IP", "1"},
        LookupCase{"double quotes", "[Data]\nPath=\" a b \"\n", "Data", "Path", " a b "},
        LookupCase{"single quotes", "[Data]\nPath='x'\n", "Data", "Path", "x"},
        LookupCase{"one pair only", "[Data]\nPath=\"\"x\"\"\n", "Data", "Path", "\"x\""},
        LookupCase{"unmatched quotes", "[Data]\nPath=\"x'\n", "Data", "Path", "\"x'"},
        LookupCase{"a lone quote", "[Data]\nPath=\"\n", "Data", "Path", "\""},
        LookupCase{"empty quotes", "[Data]\nPath=''\n", "Data", "Path", ""},
        LookupCase{"present and empty", "[Data]\nIP=\n", "Data", "IP", ""},
        LookupCase{"equals in the value", "[Data]\nPath=a=b\n", "Data", "Path", "a=b"},
        LookupCase{"CRLF endings", "[Data]\r\nIP=1\r\nPath=p\r\n", "Data", "Path", "p"},
        LookupCase{"lone CR ends a line", "[Data]\nIP=1\r2\n", "Data", "IP", "1"},
        LookupCase{"CR endings only", "[Data]\rIP=1\rPath=p\r", "Data", "Path", "p"},
        LookupCase{"mixed endings", "[A]\rX=1\r\n[Data]\nIP=1\r\rPath=p", "Data", "Path", "p"},
        LookupCase{"byte-order mark before the header", "\xEF\xBB\xBF[Data]\r\nIP=1\r\n", "Data",
                   "IP", "1"},
        LookupCase{"byte-order mark later is text", "[Data]\n\xEF\xBB\xBFIP=1\n", "Data", "IP",
                   std::nullopt},
        LookupCase{"last line without ending", "[Data]\nIP=9", "Data", "IP", "9"},
        LookupCase{"missing key", "[Data]\nPath=p\n", "Data", "IP", std::nullopt},
        LookupCase{"missing section", "[Debug]\nIP=1\n", "Data", "IP", std::nullopt},
        LookupCase{"key of the next section", "[Data]\n[Other]\nIP=1\n", "Data", "IP",
                   std::nullopt},
        LookupCase{"key before any section", "IP=1\n[Data]\n", "Data", "IP", std::nullopt},
        LookupCase{"semicolon comment", "[Data]\n;IP=1\n", "Data", "IP", std::nullopt},
        LookupCase{"hash comment", "[Data]\n  # IP=1\n", "Data", "IP", std::nullopt},
        LookupCase{"first of repeated keys", "[Data]\nIP=1\nip=2\n", "Data", "IP", "1"},
        LookupCase{"only the first of repeated sections", "[Data]\nA=1\n[data]\nIP=2\n", "Data",
                   "IP", std::nullopt},
        LookupCase{"bracket without close is no header", "[Data\nIP=1\n", "Data", "IP",
                   std::nullopt},
        LookupCase{"text after the header", "[Data] trailing\nIP=1\n", "Data", "IP", "1"},
        LookupCase{"empty text", "", "Data", "IP", std::nullopt},
        LookupCase{"long value cut", "[Data]\nPath=" + Long3000 + "\n", "Data", "Path",
                   std::string(2047, 'v')},
        LookupCase{"value of exactly the maximum", "[Data]\nPath=" + std::string(2047, 'w'), "Data",
                   "Path", std::string(2047, 'w')},
        LookupCase{"other bytes match exactly", "[D\xC4TA]\nIP=1\n", "D\xE4ta", "IP",
                   std::nullopt}),
    [](const testing::TestParamInfo<LookupCase>& info) { return std::to_string(info.index); });

struct WriteCase {
    const char* Name;
    std::string Text;
    const char* Section;
    const char* Key;
    const char* Value;
    std::string Expected;
};

class IniWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(IniWrite, ChangesOnlyTheOneLine) {
    const WriteCase& c = GetParam();
    EXPECT_EQ(IniText::Write(c.Text, c.Section, c.Key, c.Value), c.Expected) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWrite,
    testing::Values(
        WriteCase{"new text", "", "Data", "IP", "1", "[Data]\nIP=1\n"},
        WriteCase{"empty value", "[Data]\nIP=1\n", "Data", "Path", "", "[Data]\nIP=1\nPath=\n"},
        WriteCase{"replace where it stands", "[Data]\nIP=old\nPath=p\n", "Data", "IP", "new",
                  "[Data]\nIP=new\nPath=p\n"},
        WriteCase{"replace a blanked line of other case", "[DATA]\n  ip = old  \nX=1\n", "Data",
                  "IP", "n", "[DATA]\nIP=n\nX=1\n"},
        WriteCase{"replace keeps CRLF", "[Data]\r\nIP=old\r\nPath=p\r\n", "Data", "IP", "new",
                  "[Data]\r\nIP=new\r\nPath=p\r\n"},
        WriteCase{"replace the last line without ending", "[Data]\nIP=old", "Data", "IP", "new",
                  "[Data]\nIP=new"},
        WriteCase{"add before blank lines and the next section", "[Data]\nIP=1\n\n[Other]\nX=1\n",
                  "Data", "Path", "p", "[Data]\nIP=1\nPath=p\n\n[Other]\nX=1\n"},
        WriteCase{"add before a comment that leads the next section",
                  "[Data]\nIP=1\n; the next one\n[X]\n", "Data", "Path", "",
                  "[Data]\nIP=1\nPath=\n; the next one\n[X]\n"},
        WriteCase{"add after foreign lines of the section", "[Data]\nIP=1\nno equals\n", "Data",
                  "Path", "p", "[Data]\nIP=1\nno equals\nPath=p\n"},
        WriteCase{"add to an empty section", "[Data]\n[X]\nA=1\n", "Data", "IP", "1",
                  "[Data]\nIP=1\n[X]\nA=1\n"},
        WriteCase{"add after a header without ending", "[Data]", "Data", "IP", "1",
                  "[Data]\nIP=1\n"},
        WriteCase{"add after a last key without ending", "[Data]\nIP=1", "Data", "Path", "p",
                  "[Data]\nIP=1\nPath=p\n"},
        WriteCase{"add with CRLF", "[Data]\r\nIP=1\r\n", "Data", "Path", "p",
                  "[Data]\r\nIP=1\r\nPath=p\r\n"},
        WriteCase{"commented key is not replaced", "[Data]\n;IP=1\n", "Data", "IP", "2",
                  "[Data]\nIP=2\n;IP=1\n"},
        WriteCase{"section appended at the end", "; settings\n[Debug]\nEnableWrite=0\n", "Data",
                  "IP", "1", "; settings\n[Debug]\nEnableWrite=0\n[Data]\nIP=1\n"},
        WriteCase{"section appended after a last line without ending", "[X]\nA=1", "Data", "IP",
                  "1", "[X]\nA=1\n[Data]\nIP=1\n"},
        WriteCase{"section appended with CRLF", "[X]\r\nA=1\r\n", "Data", "IP", "1",
                  "[X]\r\nA=1\r\n[Data]\r\nIP=1\r\n"},
        WriteCase{"replace keeps a lone CR", "[Data]\nIP=1\nPath=/tmp/x.bin\r", "Data", "Path",
                  "/b", "[Data]\nIP=1\nPath=/b\r"},
        WriteCase{"add with CR endings", "[Data]\rIP=1\r", "Data", "Path", "p",
                  "[Data]\rIP=1\rPath=p\r"},
        WriteCase{"section appended after a last line ending in a lone CR", "[X]\nA='1'\r", "Data",
                  "IP", "1", "[X]\nA='1'\r[Data]\rIP=1\r"},
        WriteCase{"an added line takes the ending of the line before it",
                  "[A]\rX=1\r\n[Data]\nIP=1\r\n\r[B]\rY=2", "Data", "Path", "p",
                  "[A]\rX=1\r\n[Data]\nIP=1\r\nPath=p\r\n\r[B]\rY=2"},
        WriteCase{"a last line without ending closed by the first line's", "[A]\rX=1\n[Data]",
                  "Data", "IP", "1", "[A]\rX=1\n[Data]\rIP=1\r"},
        WriteCase{"byte-order mark kept", "\xEF\xBB\xBF[Data]\r\nIP=1\r\n", "Data", "IP", "2",
                  "\xEF\xBB\xBF[Data]\r\nIP=2\r\n"},
        WriteCase{"nothing but a byte-order mark", "\xEF\xBB\xBF", "Data", "IP", "1",
                  "\xEF\xBB\xBF[Data]\nIP=1\n"},
        WriteCase{"first of repeated keys", "[Data]\nIP=1\nIP=2\n", "Data", "IP", "3",
                  "[Data]\nIP=3\nIP=2\n"},
        WriteCase{"first of repeated sections", "[Data]\nA=1\n[Data]\nIP=2\n", "Data", "IP", "3",
                  "[Data]\nA=1\nIP=3\n[Data]\nIP=2\n"},
        WriteCase{"key of another section untouched", "[Other]\nIP=1\n[Data]\nPath=p\n", "Data",
                  "IP", "2", "[Other]\nIP=1\n[Data]\nPath=p\nIP=2\n"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::to_string(info.index); });

// The ending a new file's lines take (CR LF on Windows) never overrides the text's own.
TEST(IniText, TheCallersNewLineServesOnlyATextWithoutOneOfItsOwn) {
    const struct {
        const char* Text;
        const char* Expected;
    } cases[] = {
        {"", "[Data]\r\nIP=1\r\n"},
        {"\xEF\xBB\xBF", "\xEF\xBB\xBF[Data]\r\nIP=1\r\n"},
        {"[Data]", "[Data]\r\nIP=1\r\n"},
        {"[Data]\n", "[Data]\nIP=1\n"},
        {"[X]\rA=1", "[X]\rA=1\r[Data]\rIP=1\r"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniText::Write(c.Text, "Data", "IP", "1", "\r\n"), c.Expected) << c.Text;
    }
}

TEST(IniText, WhatIsWrittenReadsBackUnchangedAndLeavesTheRestAlone) {
    const std::string texts[] = {"", "[Data]\nIP=1\n", "x\r\n[Data]\r\n\r\n[B]\r\nk=v\r\n",
                                 "[B]\nIP=7\n[data]\nPath=\"q\"\n; end",
                                 "\xEF\xBB\xBF[B]\rIP=7\r\n[Data]\rPath=x\r\r"};
    const std::string values[] = {"", "192.168.1.100", "/home/a b/fw.bin", "C:\\fw\\a.bin", "x=y"};
    for (const std::string& text : texts) {
        for (const std::string& value : values) {
            const std::string written = IniText::Write(text, "Data", "Path", value);
            EXPECT_EQ(IniText::Lookup(written, "Data", "Path"), value) << text << value;
            EXPECT_EQ(IniText::Lookup(written, "B", "IP"), IniText::Lookup(text, "B", "IP"));
            EXPECT_EQ(IniText::Write(written, "Data", "Path", value), written);
        }
    }
}

} // namespace
