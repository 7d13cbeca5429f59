// The ripper automation on a real X display (tests/support/with-display.sh --wm): the program's own
// choice of window system, a window manager, and windows made by the test with plain Xlib.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/WindowSystem.h"
#include "platform/x11/X11TestClient.h"
#include "player/ImTooAutomation.h"

namespace {

using platform::winsys::x11test::X11TestClient;

class ImTooDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "needs an X display (tests/support/with-display.sh)";
        const char* headless = std::getenv("SINJO_HEADLESS");
        if (headless != nullptr) savedHeadless_ = headless;
        unsetenv("SINJO_HEADLESS");
        ASSERT_TRUE(client_.Connected());
        platform::SetMessageBoxHook([this](std::wstring_view text, std::wstring_view, unsigned) {
            shown_.emplace_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override {
        platform::SetMessageBoxHook(nullptr);
        if (savedHeadless_) setenv("SINJO_HEADLESS", savedHeadless_->c_str(), 1);
    }

    X11TestClient client_;
    std::vector<std::wstring> shown_;
    std::optional<std::string> savedHeadless_;
};

TEST_F(ImTooDisplayTest, WithoutTheRipperTheMainWindowIsNotFound) {
    ASSERT_STREQ(platform::winsys::CreateWindowSystem()->Name(), "x11");
    const ::Window lookAlike = client_.CreateWindow("ImTOO DVD Ripper - Help", "Help", 0, 0, 200, 100);
    EXPECT_FALSE(ControlImToo(1, 1));
    EXPECT_EQ(shown_, (std::vector<std::wstring>{L"Can not find the main window."}));
    client_.Destroy(lookAlike);
}

TEST_F(ImTooDisplayTest, TheRipperComesToTheFrontAndItsControlsAreOutOfReach) {
    ASSERT_TRUE(client_.HasWindowManager()) << "run with tests/support/with-display.sh --wm";
    const ::Window ripper = client_.CreateWindow("ImTOO DVD Ripper", "ImTOODvdRipper", 50, 50, 800, 600);
    const ::Window other = client_.CreateWindow("Sinjobox", "Sinjo", 300, 300, 400, 300);
    client_.Activate(other);
    ASSERT_EQ(client_.ActiveWindow(), other);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ControlImToo(0, 0));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(shown_, (std::vector<std::wstring>{L"Can not find audio static."}));
    EXPECT_EQ(client_.ActiveWindow(), ripper);
    EXPECT_GE(elapsed, std::chrono::milliseconds(500));  // it waited before checking the foreground
    client_.Destroy(other);
    client_.Destroy(ripper);
}

}  // namespace
