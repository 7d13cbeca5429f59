// The hive file text on its own: tables of texts that read cleanly and of lines that are refused, each
// with the hive they give (as written back), and round trips of awkward names and values.
#include "platform/RegHiveFormat.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace platform::reghive {
namespace {

std::string Written(std::string_view text, RegRoot root, ParseDamage* damage = nullptr) {
    Hive hive;
    const ParseDamage d = ParseHive(text, root, &hive);
    if (damage != nullptr) *damage = d;
    return SerializeHive(hive, root);
}

// Keys in order with their spelled paths, values in order with name, type and data.
void ExpectSameHive(const Hive& a, const Hive& b) {
    ASSERT_EQ(a.keys.size(), b.keys.size());
    for (auto x = a.keys.begin(), y = b.keys.begin(); x != a.keys.end(); ++x, ++y) {
        EXPECT_EQ(x->first, y->first);
        EXPECT_EQ(x->second.path, y->second.path);
        ASSERT_EQ(x->second.values.size(), y->second.values.size()) << x->first;
        for (size_t i = 0; i < x->second.values.size(); ++i) {
            const RegValue& v = x->second.values[i];
            const RegValue& w = y->second.values[i];
            EXPECT_EQ(v.name, w.name);
            EXPECT_EQ(v.type, w.type) << v.name;
            EXPECT_EQ(v.text, w.text) << v.name;
            EXPECT_EQ(v.dword, w.dword) << v.name;
        }
    }
}

TEST(RegHiveFormatTest, TextsThatReadCleanly) {
    struct Case {
        const char* what;
        std::string text;
        std::string written;  // the hive read, written back
    };
    const Case cases[] = {
        {"nothing at all", "", "REGEDIT4\n"},
        {"only the header", "REGEDIT4\n", "REGEDIT4\n"},
        {"what the writer writes",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n@=dword:0000002a\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n@=dword:0000002a\n"},
        {"byte order mark, CR LF, comments, blanks, letter case, a later value wins, the root's values",
         "\xEF\xBB\xBFREGEDIT4\r\n; a comment\r\n\r\n[hkey_current_user\\Software\\X]\r\n"
         "  \"a\" = \"C:\\Mtv\"   \r\n\t\"b\"=DWORD:1F\r\n\"a\"=\"later wins\"\r\n[HKEY_CURRENT_USER]\r\n"
         "\"top\"=\"level\"\r\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER]\n\"top\"=\"level\"\n\n[HKEY_CURRENT_USER\\Software]\n\n"
         "[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"later wins\"\n\"b\"=dword:0000001f\n"},
        {"an unknown escape keeps its backslash", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"dir\"=\"C:\\Mtv\\Songs\"\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"dir\"=\"C:\\\\Mtv\\\\Songs\"\n"},
        {"escapes inside quotes",
         "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"q\\\"n\"=\"a\\\\b\\\"c\\nd\\re\\0f\"\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"q\\\"n\"=\"a\\\\b\\\"c\\nd\\re\\0f\"\n"},
        {"blanks inside quotes are kept", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\" n \"=\"  v  \"\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\" n \"=\"  v  \"\n"},
        {"a section makes its parents; one trailing separator",
         "REGEDIT4\n[HKEY_CURRENT_USER\\A\\B\\C\\]\n\"v\"=\"1\"\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\n[HKEY_CURRENT_USER\\A\\B]\n\n[HKEY_CURRENT_USER\\A\\B\\C]\n"
         "\"v\"=\"1\"\n"},
        {"sections differing in letter case are one key with the first spelling",
         "REGEDIT4\n[HKEY_CURRENT_USER\\Soft]\n\"Name\"=\"1\"\n[HKEY_CURRENT_USER\\SOFT]\n\"NAME\"=\"2\"\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\Soft]\n\"Name\"=\"2\"\n"},
        {"sections are written in key order, values in their order",
         "REGEDIT4\n[HKEY_CURRENT_USER\\b]\n\"z\"=\"1\"\n\"a\"=\"2\"\n[HKEY_CURRENT_USER\\a b]\n"
         "[HKEY_CURRENT_USER\\A\\c]\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\n[HKEY_CURRENT_USER\\A\\c]\n\n[HKEY_CURRENT_USER\\a b]\n\n"
         "[HKEY_CURRENT_USER\\b]\n\"z\"=\"1\"\n\"a\"=\"2\"\n"},
        {"dwords of one to eight digits in either case",
         "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=dword:0\n\"b\"=dword:FFFFFFFF\n\"c\"=Dword:00aBcD01 \n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"a\"=dword:00000000\n\"b\"=dword:ffffffff\n"
         "\"c\"=dword:00abcd01\n"},
        {"the default value and a value named @",
         "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n@ = \"d\"\n\"@\"=\"not the default\"\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n@=\"d\"\n\"@\"=\"not the default\"\n"},
        {"text beyond ASCII", "REGEDIT4\n[HKEY_CURRENT_USER\\歌手]\n\"Ωmega\"=\"周杰伦 – 晴天 \xF0\x9F\x8E\xA4\"\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\歌手]\n\"Ωmega\"=\"周杰伦 – 晴天 \xF0\x9F\x8E\xA4\"\n"},
        {"brackets, equals signs and semicolons inside quotes",
         "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"[a]=;\"=\";[b]=\"\n",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"[a]=;\"=\";[b]=\"\n"},
        {"no final line feed", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"",
         "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n"},
    };
    for (const Case& c : cases) {
        ParseDamage damage;
        EXPECT_EQ(Written(c.text, RegRoot::CurrentUser, &damage), c.written) << c.what;
        EXPECT_EQ(damage.badLines, 0u) << c.what;
        // What was written reads back as itself.
        EXPECT_EQ(Written(c.written, RegRoot::CurrentUser, &damage), c.written) << c.what;
        EXPECT_EQ(damage.badLines, 0u) << c.what;
    }

    // Each root reads and writes its own name.
    EXPECT_EQ(Written("REGEDIT4\n[HKEY_CLASSES_ROOT\\CLSID]\n@=\"c\"\n", RegRoot::ClassesRoot),
              "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID]\n@=\"c\"\n");
}

TEST(RegHiveFormatTest, LinesThatAreRefused) {
    struct Case {
        const char* what;
        std::string text;
        size_t badLines;
        size_t firstBadLine;
        std::string written;  // what was kept, written back
    };
    const std::string head = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"keep\"=\"me\"\n";
    const std::string kept = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"keep\"=\"me\"\n";
    const Case cases[] = {
        {"no header line (the line is still read)", "[HKEY_CURRENT_USER\\K]\n\"keep\"=\"me\"\n", 1, 1, kept},
        {"a header line of another kind", "REGEDIT5\n[HKEY_CURRENT_USER\\K]\n\"keep\"=\"me\"\n", 2, 1, kept},
        {"a value before any section", "REGEDIT4\n\"orphan\"=\"x\"\n[HKEY_CURRENT_USER\\K]\n\"keep\"=\"me\"\n",
         1, 2, kept},
        {"an unclosed value", head + "\"a\"=\"oops\n", 1, 4, kept},
        {"an unclosed name", head + "\"a=\"b\"\n", 1, 4, kept},
        {"no equals sign", head + "\"a\" \"b\"\n", 1, 4, kept},
        {"no value", head + "\"a\"=\n", 1, 4, kept},
        {"text after the value", head + "\"a\"=\"b\" junk\n\"c\"=dword:1 2\n", 2, 4, kept},
        {"another value type", head + "\"bin\"=hex:01,02\n\"m\"=hex(7):00\n", 2, 4, kept},
        {"a dword of nine digits or none", head + "\"a\"=dword:123456789\n\"b\"=dword:\n\"c\"=dword:x1\n", 3, 4,
         kept},
        {"a line that is not a value", head + "garbage line\n=\"x\"\n", 2, 4, kept},
        {"bytes that are not UTF-8", head + "\"gbk\"=\"\xD6\xD0\xCE\xC4\"\n\"long\"=\"\xC0\xAF\"\n"
         "\"half\"=\"\xED\xA0\x80\"\n\"cut\"=\"\xE4\xB8\"\n", 4, 4, kept},
        {"a section of the other root, and its values",
         head + "[HKEY_CLASSES_ROOT\\Wrong]\n\"lost\"=\"x\"\n[HKEY_CURRENT_USER\\K]\n\"also\"=dword:7\n", 2, 4,
         kept + "\"also\"=dword:00000007\n"},
        {"sections that cannot be parsed",
         head + "[HKEY_CURRENT_USER\\Unclosed\n[HKEY_CURRENT_USER\\A\\\\B]\n[HKEY_CURRENT_USER\\]\n"
                "[\\A]\n[HKEY_CURRENT_USERX]\n[]\n\"lost\"=\"x\"\n",
         7, 4, kept},
    };
    for (const Case& c : cases) {
        ParseDamage damage;
        EXPECT_EQ(Written(c.text, RegRoot::CurrentUser, &damage), c.written) << c.what;
        EXPECT_EQ(damage.badLines, c.badLines) << c.what;
        EXPECT_EQ(damage.firstBadLine, c.firstBadLine) << c.what;
    }
}

TEST(RegHiveFormatTest, AwkwardNamesAndValuesSurviveARoundTrip) {
    // Random keys and values from characters the format must escape or that look like its syntax.
    using namespace std::string_literals;
    const std::wstring alphabet = L"aZ09 \t\\\"\n\r\0[]=@;:,.é中\U0001F3A4\u00A0"s;
    std::mt19937 random(15);
    auto text = [&](size_t maxLength, bool forKey) {
        std::wstring s;
        const size_t length = random() % (maxLength + 1);
        for (size_t i = 0; i < length; ++i) {
            const wchar_t c = alphabet[random() % alphabet.size()];
            if (forKey && (c == L'\\' || c == L'\n' || c == L'\r' || c == L'\0')) continue;
            s += c;
        }
        return s;
    };
    for (int round = 0; round < 200; ++round) {
        Hive hive;
        for (int k = 0; k < 4; ++k) {
            std::wstring path = text(6, true);
            if (random() % 2) path += L'\\' + text(6, true);
            std::wstring spelled;
            if (!NormalizeKey(path, &spelled)) continue;
            bool created = false;
            Key& key = CreateKeyPath(hive.keys, spelled, &created);
            for (int v = 0; v < 3; ++v) {
                RegValue value;
                value.name = text(8, false);
                if (random() % 3 == 0) {
                    value.type = REG_DWORD;
                    value.dword = static_cast<uint32_t>(random());
                } else {
                    value.type = REG_SZ;
                    value.text = text(12, false);
                }
                SetValue(key, std::move(value));
            }
        }
        for (RegRoot root : {RegRoot::CurrentUser, RegRoot::ClassesRoot}) {
            const std::string written = SerializeHive(hive, root);
            Hive back;
            const ParseDamage damage = ParseHive(written, root, &back);
            ASSERT_EQ(damage.badLines, 0u) << written;
            ExpectSameHive(hive, back);
            ASSERT_EQ(SerializeHive(back, root), written);
        }
    }
}

TEST(RegHiveFormatTest, WhatIsNotAUnicodeCharacterIsWrittenAsAReplacement) {
    Hive hive;
    bool created = false;
    RegValue value;
    value.name = L"n";
    value.type = REG_SZ;
    value.text = std::wstring(L"a") + static_cast<wchar_t>(0xD800) + static_cast<wchar_t>(0x110000) + L"b";
    SetValue(CreateKeyPath(hive.keys, L"K", &created), value);
    EXPECT_EQ(SerializeHive(hive, RegRoot::CurrentUser),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"n\"=\"a\xEF\xBF\xBD\xEF\xBF\xBD" "b\"\n");
}

}  // namespace
}  // namespace platform::reghive
