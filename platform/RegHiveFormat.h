// The registry stand-in's hive file text (REGEDIT4, UTF-8), read and written. Pure: bytes in, hive out
// and back; no files, no state. The layout is described in platform/Registry.h.
//
// Writing: sections in key order, every key with its own section line (parents included); the root gets
// one ("[HKEY_CURRENT_USER]") only when it holds values. Inside quotes "\\", "\"", "\n", "\r" and "\0"
// stand for a backslash, a quote, a line feed, a carriage return and a zero, so that no text can break
// the line format. A character that is not a Unicode scalar value is written as U+FFFD.
//
// Reading is forgiving about what people write by hand: a UTF-8 byte order mark, CR LF line ends,
// comments (";"), blanks around the line and around "=", any letter case in the root name and in
// "dword:", one to eight hex digits. A backslash before any other character inside quotes is kept as it
// is, so a hand-written "C:\Mtv" reads as C:\Mtv. A repeated value name: the later line wins. A section
// creates its parents, as every key does.
//
// Damage: a line that cannot be parsed is skipped and counted: bytes that are not UTF-8, a missing
// "REGEDIT4" first line (the line is still read as content), a value before any section or under a
// section header that cannot be parsed (a header for the other root, an unclosed or empty component),
// an unclosed quote, anything after the value, a value type other than a string or a dword, a dword of
// no or more than eight digits. Reading never fails.
//
// Threads: any; nothing is shared.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/RegHive.h"
#include "platform/Registry.h"

namespace platform::reghive {

// What reading skipped.
struct ParseDamage {
    size_t badLines = 0;      // lines skipped
    size_t firstBadLine = 0;  // 1-based line number of the first of them; 0 when none
};

// Reads the whole text of a hive file of `root` into *hive (which should be empty, as constructed).
ParseDamage ParseHive(std::string_view bytes, RegRoot root, Hive* hive);

// The text of the hive file for `root`.
std::string SerializeHive(const Hive& hive, RegRoot root);

}  // namespace platform::reghive
