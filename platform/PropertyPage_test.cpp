#include "platform/PropertyPage.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(PropertyDialog, ReadsTextLikeAFixedBufferAndNotifiesOnlyUserEdits) {
    PropertyDialog dialog(1, nullptr, RECT{0, 0, 10, 10});
    std::vector<int> edits;
    dialog.SetEditChangeHandler([&](int id) { edits.push_back(id); });
    dialog.SetItemText(201, L"0.123456");
    EXPECT_TRUE(edits.empty());
    EXPECT_EQ(dialog.GetItemText(201, 5), L"0.12") << "room for 4 characters and the terminator";
    EXPECT_EQ(dialog.GetItemText(201, 0), L"");
    EXPECT_EQ(dialog.GetItemText(202, 100), L"");
    dialog.UserEdit(201, L"x");
    EXPECT_EQ(edits, std::vector<int>{201});
    EXPECT_EQ(dialog.GetItemText(201, 100), L"x");
}

TEST(PropertyDialog, DialogUnitsBecomePixels) {
    const SIZE s = DialogUnitsToPixels(4, 8);
    EXPECT_EQ(s.cx, 6);
    EXPECT_EQ(s.cy, 13);
    EXPECT_EQ(DialogUnitsToPixels(147, 122).cx, 221);
}

}  // namespace
}  // namespace platform
