#include "platform/desktop/ScriptText.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(ScriptText, MenuTextsBecomeGtkMnemonics) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"&About Sinjobox...", "_About Sinjobox..."},
        {L"Save && quit", "Save & quit"},
        {L"snake_case &item", "snake__case _item"},
        {L"&First &second", "_First second"},
        {L"trailing&", "trailing"},
        {L"no marker", "no marker"},
        {L"&&&x", "&_x"},
        {L"关于 &A", "关于 _A"},
        {L"", ""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(GtkMnemonicLabel(input), expected);
    }
}

TEST(ScriptText, StringLiteralsEscapeWhatWouldEndOrBendThem) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"line\nbreak\r\ttab", "\"line\\nbreak\\r\\ttab\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\x1b\x7f", "\"\\u001b\\u007f\""},
        {"</script>", "\"</script>\""},
        {"\xe2\x80\xa8|\xe2\x80\xa9", "\"\\u2028|\\u2029\""},
        {"\xe4\xb8\xad\xe6\x96\x87 \xe2\x80\x94", "\"\xe4\xb8\xad\xe6\x96\x87 \xe2\x80\x94\""},
        {"", "\"\""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(ScriptStringLiteral(input), expected);
    }
}

}  // namespace
}  // namespace platform
