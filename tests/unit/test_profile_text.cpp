// Profile text read and edited in memory, as files written by Windows editors
// and by hand come.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/profile_text.h"

namespace {

const char BOM[] = "\xEF\xBB\xBF";

std::string get(const std::string& text, const char* section, const char* key, size_t size = 80)
{
    std::vector<char> value(size + 1, '#');
    profile_text_get(text.data(), text.size(), section, key, "DEF", value.data(), size);
    EXPECT_EQ(value[size], '#') << "wrote past the caller's buffer";
    return size > 0 ? std::string(value.data()) : std::string();
}

std::string set(const std::string& text, const char* section, const char* key, const char* value)
{
    size_t capacity = profile_text_set_capacity(text.size(), section, key, value);
    std::string edited(capacity, '#');
    size_t length = profile_text_set(text.data(), text.size(), section, key, value, &edited[0]);
    EXPECT_LE(length, capacity);
    edited.resize(length);
    return edited;
}

// A small deterministic generator for malformed texts.
uint32_t next_random(uint32_t* state)
{
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

std::string random_text(uint32_t* state, size_t length)
{
    // Mostly the bytes that mean something to the parser, some of anything.
    static const char MEANINGFUL[] = "[]=\r\n \t\"';\x1A\v\fSettingsGain";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        uint32_t pick = next_random(state);
        text += pick % 4 == 0 ? static_cast<char>(pick >> 4) : MEANINGFUL[pick % (sizeof MEANINGFUL - 1)];
    }
    return text;
}

// An edit written to a string.
struct Edited {
    const std::string* old_text;
    std::string text;
};

bool copy_old_bytes(void* context, uint64_t from, uint64_t to)
{
    Edited* edited = static_cast<Edited*>(context);
    edited->text.append(*edited->old_text, from, to - from);
    return true;
}

bool put_new_bytes(void* context, const char* bytes, size_t count)
{
    static_cast<Edited*>(context)->text.append(bytes, count);
    return true;
}

}  // namespace

// A file as a Windows editor saves it: BOM, CRLF, comments, other sections.
TEST(ProfileTextGet, ReadsWindowsEditorFile)
{
    std::string text = std::string(BOM) +
                       "; head settings\r\n"
                       "[Other]\r\n"
                       "Range=10\r\n"
                       "\r\n"
                       "[Settings]\r\n"
                       "; the head's address\r\n"
                       "  IPAddress = 10.0.0.7  \r\n"
                       "Range\t=\t40\r\n"
                       "Gain=\"7\"\r\n";
    EXPECT_EQ(get(text, "Settings", "IPAddress"), "10.0.0.7");
    EXPECT_EQ(get(text, "Settings", "Range"), "40");
    EXPECT_EQ(get(text, "Settings", "Gain"), "7");
    EXPECT_EQ(get(text, "Other", "Range"), "10");
    EXPECT_EQ(get(text, "Settings", "Missing"), "DEF");
    EXPECT_EQ(get(text, "Missing", "Range"), "DEF");
    EXPECT_EQ(get("", "Settings", "Range"), "DEF");
}

// The BOM is skipped only at the very start, so a header right after it counts.
TEST(ProfileTextGet, ByteOrderMarkBeforeHeader)
{
    EXPECT_EQ(get(std::string(BOM) + "[Settings]\nGain=5", "Settings", "Gain"), "5");
    EXPECT_EQ(get(std::string(BOM), "Settings", "Gain"), "DEF");
}

// Line ends may be CR, LF or CRLF in any mix, and Ctrl-Z ends old DOS files.
TEST(ProfileTextGet, AnyLineEnds)
{
    std::string cr_only = "[Settings]\rRange=60\rGain=4\r";
    EXPECT_EQ(get(cr_only, "Settings", "Range"), "60");
    EXPECT_EQ(get(cr_only, "Settings", "Gain"), "4");
    std::string mixed = "[Other]\n\rGain=1\r\n[Settings]\n\rRange=80\r\r\nGain=2";
    EXPECT_EQ(get(mixed, "Settings", "Range"), "80");
    EXPECT_EQ(get(mixed, "Settings", "Gain"), "2");
    EXPECT_EQ(get("[Settings]\r\nGain=4\x1A", "Settings", "Gain"), "4");
    EXPECT_EQ(get("[Settings]\r\nGain=4\r\n\x1A", "Settings", "Gain"), "4");
    EXPECT_EQ(get("\v[Settings]\f\r\n\tGain=4 \x1A\x1A", "Settings", "Gain"), "4");
}

// Section and key names match regardless of ASCII letter case.
TEST(ProfileTextGet, NamesIgnoreCase)
{
    std::string text = "[sETTINGS]\nipaddress=1.2.3.4\nRANGE=20\n";
    EXPECT_EQ(get(text, "Settings", "IPAddress"), "1.2.3.4");
    EXPECT_EQ(get(text, "settings", "Range"), "20");
}

// Only the first section of a name is searched, and the first key in it wins.
TEST(ProfileTextGet, FirstSectionAndFirstKeyWin)
{
    std::string text = "[Settings]\nGain=1\nGAIN=2\n[Other]\nRange=5\n[SETTINGS]\nGain=3\nRange=50\n";
    EXPECT_EQ(get(text, "Settings", "Gain"), "1");
    EXPECT_EQ(get(text, "Settings", "Range"), "DEF");
    // Lines before any header belong to no section.
    EXPECT_EQ(get("Gain=9\n[Settings]\n", "Settings", "Gain"), "DEF");
}

// Header names run to the last "]" of the line, the rest ignored, and blank ones end a section too; a "["
// without "]" is no header but a line of the section it is in.
TEST(ProfileTextGet, SectionHeaderForms)
{
    EXPECT_EQ(get("[ Settings ] ; note\nGain=1\n", "Settings", "Gain"), "1");
    EXPECT_EQ(get("[a]b]\nGain=3\n", "a]b", "Gain"), "3");
    EXPECT_EQ(get("[Settings]\n[ \t]\nGain=4\n", "Settings", "Gain"), "DEF");
    EXPECT_EQ(get("[Settings\nGain=2\n", "Settings", "Gain"), "DEF");
    EXPECT_EQ(get("[Settings]\n[Other\nGain=2\n", "Settings", "Gain"), "2");
    EXPECT_EQ(get("[Settings]\n[Other=5\n", "Settings", "[Other"), "5");
}

// A key without "=" gives the default; an empty value is a value; ";" is text.
TEST(ProfileTextGet, EntryForms)
{
    EXPECT_EQ(get("[Settings]\nGain\nGain=5\n", "Settings", "Gain"), "DEF");
    EXPECT_EQ(get("[Settings]\nGain=\n", "Settings", "Gain"), "");
    EXPECT_EQ(get("[Settings]\nGain =  \t\n", "Settings", "Gain"), "");
    EXPECT_EQ(get("[Settings]\nGain=5 ; dB\n", "Settings", "Gain"), "5 ; dB");
    EXPECT_EQ(get("[Settings]\n;Gain=5\n", "Settings", "Gain"), "DEF");
    EXPECT_EQ(get("[Settings]\nGain=a=b\n", "Settings", "Gain"), "a=b");
    EXPECT_EQ(get("[Settings]\nG ain=1\n", "Settings", "G ain"), "1");
}

// Matching quotes around a value of two or more characters are removed, once.
TEST(ProfileTextGet, QuotedValues)
{
    EXPECT_EQ(get("[S]\nK=\" 10.0.0.1 \"\n", "S", "K"), " 10.0.0.1 ");
    EXPECT_EQ(get("[S]\nK='x'\n", "S", "K"), "x");
    EXPECT_EQ(get("[S]\nK=\"\"\n", "S", "K"), "");
    EXPECT_EQ(get("[S]\nK=\"\"x\"\"\n", "S", "K"), "\"x\"");
    EXPECT_EQ(get("[S]\nK=\"\n", "S", "K"), "\"");
    EXPECT_EQ(get("[S]\nK=\"x'\n", "S", "K"), "\"x'");
    EXPECT_EQ(get("[S]\nK=x\"\n", "S", "K"), "x\"");
}

// At most size - 1 bytes come back, always zero-terminated; the default too.
TEST(ProfileTextGet, ValueCappedToBuffer)
{
    std::string long_value(200, 'v');
    std::string text = "[S]\nK=" + long_value + "\n";
    EXPECT_EQ(get(text, "S", "K"), std::string(79, 'v'));
    EXPECT_EQ(get(text, "S", "K", 1), "");
    EXPECT_EQ(get(text, "S", "Missing", 3), "DE");
    EXPECT_EQ(get("[S]\nK=\"" + std::string(78, 'q') + "\"\n", "S", "K"), std::string(78, 'q'));
}

// NUL bytes and binary junk are ordinary bytes: no failure, later lines still found.
TEST(ProfileTextGet, MalformedContentNeverFails)
{
    std::string with_nul = std::string("[Settings]\n\0junk\0=\0\nGain=6\n", 27);
    EXPECT_EQ(get(with_nul, "Settings", "Gain"), "6");
    EXPECT_EQ(get(std::string("[Set\0tings]\nGain=6\n", 19), "Settings", "Gain"), "DEF");

    uint32_t state = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string text = random_text(&state, next_random(&state) % 300);
        size_t size = next_random(&state) % 12;
        get(text, "Settings", "Gain", size);  // checks the buffer bound
    }
}

// Replacing a key rewrites only its line; every other byte stays.
TEST(ProfileTextSet, ReplaceKeepsOtherBytes)
{
    std::string head = std::string(BOM) + "; head settings\r\n[Other]\r\nGain=1\r\n\r\n[Settings]\r\n";
    std::string tail = "\r\n  ; keep me \r\n\r\n[Last]\rX\n\x1A";
    EXPECT_EQ(set(head + "  Gain = \"3\" ; old" + tail, "Settings", "Gain", "12"), head + "Gain=12" + tail);
    // The key keeps its spelling; the line keeps its own line end.
    EXPECT_EQ(set("[settings]\nA=1\ngAIN=3\r\nB=2", "Settings", "Gain", "4"), "[settings]\nA=1\ngAIN=4\r\nB=2");
    // A key line without "=" is the key's line.
    EXPECT_EQ(set("[S]\r\nGain\r\n", "S", "Gain", "5"), "[S]\r\nGain=5\r\n");
    // The last line may lack a line end.
    EXPECT_EQ(set("[S]\nGain=1", "S", "Gain", "2"), "[S]\nGain=2");
}

// Writes go to the first section of a name and its first matching key.
TEST(ProfileTextSet, FirstSectionAndKey)
{
    EXPECT_EQ(set("[S]\nK=1\nK=2\n[S]\nK=3\n", "S", "K", "9"), "[S]\nK=9\nK=2\n[S]\nK=3\n");
    EXPECT_EQ(set("[S]\nA=1\n[s]\nK=3\n", "S", "K", "9"), "[S]\nA=1\nK=9\n[s]\nK=3\n");
}

// A missing key goes after the section's last filled line, in the file's line ends.
TEST(ProfileTextSet, MissingKeyAddedInSection)
{
    EXPECT_EQ(set("[Settings]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n", "Settings", "Gain", "3"),
              "[Settings]\r\nA=1\r\nGain=3\r\n\r\n[Other]\r\nB=2\r\n");
    EXPECT_EQ(set("[Settings]\r\r[Other]\r", "Settings", "Gain", "3"), "[Settings]\rGain=3\r\r[Other]\r");
    // A trailing comment counts as a filled line of the section.
    EXPECT_EQ(set("[S]\nA=1\n; note\n\n[T]\n", "S", "K", "v"), "[S]\nA=1\n; note\nK=v\n\n[T]\n");
    // The section is last and its last line has no line end: one is supplied.
    EXPECT_EQ(set("[Settings]\r\nA=1", "Settings", "Gain", "3"), "[Settings]\r\nA=1\r\nGain=3\r\n");
    EXPECT_EQ(set("[Settings]", "Settings", "Gain", "3"), "[Settings]\nGain=3\n");
}

// A missing section is appended, after a supplied final line break if needed.
TEST(ProfileTextSet, MissingSectionAppended)
{
    EXPECT_EQ(set("[Other]\r\nX=1", "Settings", "Gain", "3"), "[Other]\r\nX=1\r\n[Settings]\r\nGain=3\r\n");
    EXPECT_EQ(set("[Other]\nX=1\n\n", "Settings", "Gain", "3"), "[Other]\nX=1\n\n[Settings]\nGain=3\n");
    EXPECT_EQ(set("X=1", "Settings", "Gain", "3"), "X=1\n[Settings]\nGain=3\n");
    EXPECT_EQ(set("", "Settings", "Gain", "3"), "[Settings]\nGain=3\n");
    EXPECT_EQ(set(BOM, "Settings", "Gain", "3"), std::string(BOM) + "[Settings]\nGain=3\n");
}

// Leading blanks of the value are dropped; an empty value is written as such.
TEST(ProfileTextSet, ValueLeadingBlanksDropped)
{
    EXPECT_EQ(set("[S]\nK=1\n", "S", "K", " \t 5 x"), "[S]\nK=5 x\n");
    EXPECT_EQ(set("[S]\nK=1\n", "S", "K", ""), "[S]\nK=\n");
    EXPECT_EQ(get(set("", "S", "K", ""), "S", "K"), "");
}

// Whatever the text, the edit stays in its capacity and reads back as written.
TEST(ProfileTextSet, MalformedTextsReadBack)
{
    uint32_t state = 777;
    for (int round = 0; round < 2000; ++round) {
        std::string text = random_text(&state, next_random(&state) % 300);
        std::string edited = set(text, "Settings", "Gain", "17");
        EXPECT_EQ(get(edited, "Settings", "Gain"), "17") << "text: " << testing::PrintToString(text);
    }
}

// A text fed in pieces, down to single bytes, is read and edited as when fed whole: a CR LF, a byte-order
// mark or a name split between pieces means the same, and three keys edited at once give the bytes of three
// single edits one after the other.
TEST(ProfileScan, PiecesAndSeveralKeysAsOneText)
{
    const char* const names[] = {"IPAddress", "Range", "Gain"};
    const char* const values[] = {"10.0.0.9", "40", " 7"};
    uint32_t state = 4242;
    for (int round = 0; round < 2000; ++round) {
        std::string text = (round % 3 == 0 ? BOM : "") + random_text(&state, next_random(&state) % 200);
        std::string one_by_one = text;
        for (int k = 0; k < 3; ++k) one_by_one = set(one_by_one, "Settings", names[k], values[k]);

        char found[3][80];
        ProfileKey keys[3] = {};
        for (int k = 0; k < 3; ++k) {
            keys[k].name = names[k];
            keys[k].value = found[k];
            keys[k].size = sizeof found[k];
        }
        ProfileScan scan;
        profile_scan_start(&scan, "Settings", keys, 3);
        for (size_t at = 0, piece = 1; at < text.size(); at += piece, piece = 1 + next_random(&state) % 4) {
            profile_scan_feed(&scan, text.data() + at, std::min(piece, text.size() - at));
        }
        profile_scan_finish(&scan);
        Edited edited = {&text, ""};
        ProfileSink sink = {&edited, copy_old_bytes, put_new_bytes};
        ASSERT_TRUE(profile_edit(&scan, values, &sink));
        EXPECT_EQ(one_by_one, edited.text) << "text: " << testing::PrintToString(text);
        for (int k = 0; k < 3; ++k) {
            profile_key_result(&keys[k], "DEF");
            EXPECT_EQ(get(text, "Settings", names[k]), found[k]) << testing::PrintToString(text);
        }
    }
}
