// Text conversions the desktop windows need: menu labels and script literals.
// Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A menu text as the platform writes it ("&About Sinjobox...": "&" marks the access key, "&&" is a
// literal "&") as a GTK mnemonic label in UTF-8 ("_About Sinjobox...": "_" marks it, "__" is a
// literal "_"). Only the first marker counts; a trailing "&" is dropped.
std::string GtkMnemonicLabel(std::wstring_view menuText);

// `utf8` as a double-quoted script string literal that evaluates to exactly that text: quotes,
// backslashes and control characters escaped, and U+2028/U+2029 (line ends in older script engines)
// too. Bytes that are not UTF-8 pass unchanged.
std::string ScriptStringLiteral(std::string_view utf8);

}  // namespace platform
