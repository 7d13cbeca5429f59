#include "player/ImTooAutomation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/SimulatedWindowSystem.h"

using namespace platform::winsys;
using Clock = SimulatedWindowSystem::Clock;
using Kind = SimulatedWindowSystem::EventKind;

namespace {

// What the simulated ripper has. By default, everything the sequence looks for.
struct Layout {
    bool zoomLabel = true;
    bool zoomCombo = true;
    bool audioLabel = true;
    bool audioLabelBesideCombos = true;  // false: the label sits in a panel of its own
    bool audioCombo = true;
    bool subtitleCombo = true;
    bool titleList = true;
    std::wstring titleListText;
    int32_t titles = 3;
};

struct Shown {
    uint32_t timeMs;
    std::wstring text;
    std::wstring caption;
    unsigned type;
};

class ImTooAutomationTest : public testing::Test {
protected:
    void TearDown() override { platform::SetMessageBoxHook(nullptr); }

    // Builds the ripper on `desktop`, beside the jukebox's own window and a look-alike, with the
    // jukebox in the foreground; captures message boxes with the desktop's time.
    void Build(SimulatedWindowSystem& desktop, const Layout& layout) {
        platform::SetMessageBoxHook(
            [this, &desktop](std::wstring_view text, std::wstring_view caption, unsigned type) {
                shown_.push_back({desktop.NowMs(), std::wstring(text), std::wstring(caption), type});
                return platform::IDOK;
            });
        const WindowId jukebox = desktop.AddTopLevelWindow(L"Sinjobox", L"SinjoDlg", {0, 0, 1920, 1080});
        desktop.AddTopLevelWindow(L"ImTOO DVD Ripper Help", L"HelpWnd", {0, 0, 100, 100});
        desktop.PutInForeground(jukebox);

        ripper_ = desktop.AddTopLevelWindow(kImTooWindowTitle, L"ImTOODvdRipperMain", {100, 100, 900, 700});
        names_[ripper_] = "ripper";
        const WindowId profilePanel =
            desktop.AddChildWindow(ripper_, L"#32770", L"", 0, {110, 110, 890, 160});
        names_[profilePanel] = "profilePanel";
        // A list with a text comes first: only the one without text holds the titles.
        desktop.AddChildWindow(profilePanel, L"SysListView32", L"Profiles", 1100, {110, 110, 300, 160});
        if (layout.zoomLabel)
            desktop.AddChildWindow(profilePanel, L"Static", L"Zoom:", -1, {310, 120, 350, 140});
        if (layout.zoomCombo) {
            zoomCombo_ = desktop.AddChildWindow(profilePanel, L"ComboBox", L"", kImTooZoomComboId,
                                                {360, 120, 500, 140});
            desktop.SetItemCount(zoomCombo_, 5);
            names_[zoomCombo_] = "zoom";
        }

        audioPanel_ = desktop.AddChildWindow(ripper_, L"#32770", L"", 0, {110, 170, 890, 230});
        names_[audioPanel_] = "audioPanel";
        const WindowId labelPanel =
            layout.audioLabelBesideCombos
                ? audioPanel_
                : desktop.AddChildWindow(ripper_, L"#32770", L"", 0, {110, 240, 890, 260});
        if (layout.audioLabel)
            desktop.AddChildWindow(labelPanel, L"Static", L"Audio:", -1, {120, 180, 170, 200});
        if (layout.audioCombo) {
            audioCombo_ = desktop.AddChildWindow(audioPanel_, L"ComboBox", L"", kImTooAudioComboId,
                                                 {180, 180, 400, 200});
            desktop.SetItemCount(audioCombo_, 4);
            names_[audioCombo_] = "audio";
        }
        desktop.AddChildWindow(audioPanel_, L"Static", L"Subtitle:", -1, {410, 180, 470, 200});
        if (layout.subtitleCombo) {
            subtitleCombo_ = desktop.AddChildWindow(audioPanel_, L"ComboBox", L"", kImTooSubtitleComboId,
                                                    {480, 180, 700, 200});
            desktop.SetItemCount(subtitleCombo_, 4);
            names_[subtitleCombo_] = "subtitle";
        }
        if (layout.titleList) {
            list_ = desktop.AddChildWindow(ripper_, L"SysListView32", layout.titleListText, 1001,
                                           {120, 300, 521, 501});
            desktop.SetItemCount(list_, layout.titles);
            names_[list_] = "list";
        }
    }

    std::string Name(WindowId window) const {
        const auto it = names_.find(window);
        return it != names_.end()    ? it->second
               : window == kNoWindow ? "nowhere"
                                     : "#" + std::to_string(window);
    }

    // One line per event: "<time> <what>", or without the time.
    std::vector<std::string> Timeline(const SimulatedWindowSystem& desktop, bool withTimes = true) const {
        std::vector<std::string> lines;
        for (const auto& e : desktop.Events()) {
            std::string line = withTimes ? std::to_string(e.timeMs) + " " : std::string();
            switch (e.kind) {
                case Kind::ForegroundRequest:
                    line += "foreground " + Name(e.window);
                    break;
                case Kind::Message:
                    if (e.message == CB_SETCURSEL) {
                        line += "select " + Name(e.window) + " " + std::to_string(e.wParam);
                    } else if (e.message == WM_COMMAND) {
                        line += "command " + Name(e.window) + " id " + std::to_string(e.wParam & 0xFFFF) +
                                " code " + std::to_string(e.wParam >> 16) + " from " +
                                Name(static_cast<WindowId>(e.lParam));
                    } else if (e.message == LVM_GETITEMCOUNT) {
                        line += "count " + Name(e.window);
                    } else {
                        line += "message " + std::to_string(e.message);
                    }
                    break;
                case Kind::Input:
                    if (e.input.type == INPUT_KEYBOARD) {
                        const bool up = (e.input.ki.dwFlags & KEYEVENTF_KEYUP) != 0;
                        line += std::string(e.input.ki.wVk == VK_UP     ? "Up"
                                            : e.input.ki.wVk == VK_DOWN ? "Down"
                                                                        : "key") +
                                (up ? " up" : " down") + " -> " + Name(e.window);
                    } else {
                        line += "mouse " + std::to_string(e.input.mi.dwFlags) + " " +
                                std::to_string(e.input.mi.dx) + "," + std::to_string(e.input.mi.dy) + " -> " +
                                Name(e.window);
                    }
                    break;
            }
            lines.push_back(line);
        }
        return lines;
    }

    std::vector<std::wstring> Texts() const {
        std::vector<std::wstring> texts;
        for (const Shown& s : shown_) texts.push_back(s.text);
        return texts;
    }

    WindowId ripper_ = kNoWindow;
    WindowId zoomCombo_ = kNoWindow;
    WindowId audioPanel_ = kNoWindow;
    WindowId audioCombo_ = kNoWindow;
    WindowId subtitleCombo_ = kNoWindow;
    WindowId list_ = kNoWindow;
    std::map<WindowId, std::string> names_;
    std::vector<Shown> shown_;
};

// The list's centre is (320, 400) on a 1920 x 1080 screen.
const std::string kClickX = std::to_string(320 * 65535 / 1920);
const std::string kClickY = std::to_string(400 * 65535 / 1080);
const std::string kClickAt = kClickX + "," + kClickY;
const std::string kMove = std::to_string(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE);
const std::string kLeftDown = std::to_string(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE);
const std::string kLeftUp = std::to_string(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE);

std::vector<std::string> ZoomAndClick() {
    return {"500 select zoom 3", "500 command profilePanel id 1024 code 1 from zoom",
            "500 mouse " + kMove + " " + kClickAt + " -> nowhere",
            "500 mouse " + kLeftDown + " " + kClickAt + " -> list",
            "500 mouse " + kLeftUp + " " + kClickAt + " -> list"};
}

TEST_F(ImTooAutomationTest, WithoutTheRipperOnlyTheFirstMessageShows) {
    SimulatedWindowSystem desktop;
    platform::SetMessageBoxHook([&](std::wstring_view text, std::wstring_view caption, unsigned type) {
        shown_.push_back({desktop.NowMs(), std::wstring(text), std::wstring(caption), type});
        return platform::IDOK;
    });
    desktop.AddTopLevelWindow(L"ImTOO DVD Ripper Help", L"HelpWnd", {0, 0, 100, 100});
    desktop.AddTopLevelWindow(L"imtoo dvd ripper", L"Other", {0, 0, 100, 100});
    EXPECT_FALSE(ControlImToo(desktop, 1, 1));
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, L"Can not find the main window.");
    EXPECT_EQ(shown_[0].caption, L"Sinjo");
    EXPECT_EQ(shown_[0].type, platform::MB_OK);  // an OK button and no icon
    EXPECT_EQ(shown_[0].timeMs, 0u);
    EXPECT_TRUE(desktop.Events().empty());
    EXPECT_EQ(desktop.NowMs(), 0u);
}

TEST_F(ImTooAutomationTest, TheRipperMustBeInTheForegroundHalfASecondAfterTheRequest) {
    struct Case {
        bool refuse;
        uint32_t delayMs;
        bool ok;
    };
    for (const Case c :
         {Case{false, 0, true}, Case{false, 500, true}, Case{false, 501, false}, Case{true, 0, false}}) {
        shown_.clear();
        names_.clear();
        SimulatedWindowSystem desktop;
        Build(desktop, Layout{});
        desktop.RefuseForeground(c.refuse);
        desktop.SetForegroundDelay(c.delayMs);
        EXPECT_EQ(ControlImToo(desktop, 0, 0), c.ok) << c.delayMs;
        if (c.ok) {
            EXPECT_TRUE(shown_.empty());
            continue;
        }
        ASSERT_EQ(shown_.size(), 1u);
        EXPECT_EQ(shown_[0].text, L"Failed to bring the window foreground.");
        EXPECT_EQ(shown_[0].timeMs, 500u);
        EXPECT_EQ(shown_[0].type, platform::MB_OK);
        EXPECT_EQ(Timeline(desktop), (std::vector<std::string>{"0 foreground ripper"}));
    }
}

TEST_F(ImTooAutomationTest, ThreeTitlesGetTheirSelectionsInOrderAndInTime) {
    SimulatedWindowSystem desktop;
    Build(desktop, Layout{});
    // The title selected in the list whenever the audio track is chosen.
    std::vector<int32_t> titleAtAudioSelection;
    desktop.SetEventObserver([&](const SimulatedWindowSystem::Event& e) {
        if (e.kind == Kind::Message && e.message == CB_SETCURSEL && e.window == audioCombo_) {
            titleAtAudioSelection.push_back(desktop.Selection(list_));
        }
    });
    EXPECT_TRUE(ControlImToo(desktop, 2, 1));
    EXPECT_TRUE(shown_.empty());

    std::vector<std::string> expected = {"0 foreground ripper"};
    for (const std::string& line : ZoomAndClick()) expected.push_back(line);
    expected.push_back("700 count list");
    uint32_t t = 700;
    for (int i = 0; i < 3; ++i, t += 200) {
        expected.push_back(std::to_string(t) + " Up down -> list");
        expected.push_back(std::to_string(t + 100) + " Up up -> list");
    }
    for (int i = 0; i < 3; ++i, t += 400) {
        const std::string at = std::to_string(t) + " ";
        expected.push_back(at + "select audio 2");
        expected.push_back(at + "command audioPanel id 1030 code 1 from audio");
        expected.push_back(at + "select subtitle 1");
        expected.push_back(at + "command audioPanel id 1031 code 1 from subtitle");
        expected.push_back(std::to_string(t + 200) + " Down down -> list");
        expected.push_back(std::to_string(t + 300) + " Down up -> list");
    }
    EXPECT_EQ(Timeline(desktop), expected);
    for (const auto& e : desktop.Events()) {
        if (e.kind == Kind::Input && e.input.type == INPUT_KEYBOARD) {
            EXPECT_EQ(e.input.ki.wScan, e.input.ki.wVk == VK_UP ? 0x48 : 0x50);  // a PC keyboard's arrows
        }
    }
    // 500 + 200 + 3 x 200 + 3 x (200 + 200) ms.
    EXPECT_EQ(desktop.NowMs(), 2500u);
    EXPECT_EQ(titleAtAudioSelection, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(desktop.Selection(zoomCombo_), 3);
    EXPECT_EQ(desktop.Selection(audioCombo_), 2);
    EXPECT_EQ(desktop.Selection(subtitleCombo_), 1);
    EXPECT_TRUE(desktop.KeysDown().empty());
}

TEST_F(ImTooAutomationTest, ManyTitlesAllStartFromTheFirst) {
    // The click lands on row 5 of ten: Up ten times still reaches the first title.
    SimulatedWindowSystem desktop;
    Layout layout;
    layout.titles = 10;
    Build(desktop, layout);
    std::vector<int32_t> titleAtAudioSelection;
    desktop.SetEventObserver([&](const SimulatedWindowSystem::Event& e) {
        if (e.kind == Kind::Message && e.message == CB_SETCURSEL && e.window == audioCombo_) {
            titleAtAudioSelection.push_back(desktop.Selection(list_));
        }
    });
    EXPECT_TRUE(ControlImToo(desktop, 0, 3));
    EXPECT_EQ(titleAtAudioSelection, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(desktop.NowMs(), 500u + 200u + 10u * 200u + 10u * 400u);
}

TEST_F(ImTooAutomationTest, AnEmptyTitleListGetsOnlyTheZoomAndTheClick) {
    SimulatedWindowSystem desktop;
    Layout layout;
    layout.titles = 0;
    Build(desktop, layout);
    EXPECT_TRUE(ControlImToo(desktop, 1, 1));
    EXPECT_TRUE(shown_.empty());
    std::vector<std::string> expected = {"0 foreground ripper"};
    for (const std::string& line : ZoomAndClick()) expected.push_back(line);
    expected.push_back("700 count list");
    EXPECT_EQ(Timeline(desktop), expected);
    EXPECT_EQ(desktop.NowMs(), 700u);
    EXPECT_EQ(desktop.FocusWindow(), list_);
}

TEST_F(ImTooAutomationTest, MissingPiecesStopWithTheirMessageOrSkipTheirSteps) {
    struct Case {
        const char* name;
        Layout layout;
        bool result;
        std::vector<std::wstring> messages;
        std::vector<std::string> mustHave;     // lines of the timeline without times
        std::vector<std::string> mustNotHave;  // substrings no line may contain
    };
    auto with = [](auto change) {
        Layout layout;
        change(layout);
        return layout;
    };
    const Case cases[] = {
        {"no audio label",
         with([](Layout& l) { l.audioLabel = false; }),
         false,
         {L"Can not find audio static."},
         {"select zoom 3"},
         {"audio", "mouse", "count"}},
        {"no audio combo",
         with([](Layout& l) { l.audioCombo = false; }),
         false,
         {L"Can not find audio combo."},
         {"select zoom 3"},
         {"subtitle", "mouse", "count"}},
        {"audio label apart from the combos",
         with([](Layout& l) { l.audioLabelBesideCombos = false; }),
         false,
         {L"Can not find audio combo."},
         {"select zoom 3"},
         {"mouse", "count"}},
        {"no subtitle combo",
         with([](Layout& l) { l.subtitleCombo = false; }),
         true,
         {},
         {"select zoom 3", "select audio 1", "Down up -> list"},
         {"subtitle", "1031"}},
        {"no zoom label",
         with([](Layout& l) { l.zoomLabel = false; }),
         true,
         {},
         {"select audio 1", "select subtitle 2"},
         {"zoom", "1024"}},
        {"no zoom combo",
         with([](Layout& l) { l.zoomCombo = false; }),
         true,
         {},
         {"select audio 1", "select subtitle 2"},
         {"1024"}},
        {"no title list",
         with([](Layout& l) { l.titleList = false; }),
         true,
         {},
         {"select zoom 3"},
         {"mouse", "count", "Up", "Down", "select audio"}},
        {"title list with a text",
         with([](Layout& l) { l.titleListText = L"Titles"; }),
         true,
         {},
         {"select zoom 3"},
         {"mouse", "count", "Up", "Down", "select audio"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shown_.clear();
        names_.clear();
        audioCombo_ = subtitleCombo_ = zoomCombo_ = list_ = kNoWindow;
        SimulatedWindowSystem desktop;
        Build(desktop, c.layout);
        EXPECT_EQ(ControlImToo(desktop, 1, 2), c.result);
        EXPECT_EQ(Texts(), c.messages);
        const std::vector<std::string> timeline = Timeline(desktop, false);
        for (const std::string& line : c.mustHave) {
            EXPECT_NE(std::find(timeline.begin(), timeline.end(), line), timeline.end()) << line;
        }
        for (const std::string& line : timeline) {
            for (const std::string& part : c.mustNotHave)
                EXPECT_EQ(line.find(part), std::string::npos) << line;
        }
        if (!c.messages.empty()) {
            EXPECT_EQ(shown_[0].timeMs, 500u);
        }
    }
}

TEST_F(ImTooAutomationTest, IndexesTheCombosLackAreSentAllTheSame) {
    SimulatedWindowSystem desktop;
    Layout layout;
    layout.titles = 1;
    Build(desktop, layout);
    EXPECT_TRUE(ControlImToo(desktop, 7, 0xFFFFFFFFu));
    const std::vector<std::string> timeline = Timeline(desktop, false);
    EXPECT_NE(std::find(timeline.begin(), timeline.end(), "select audio 7"), timeline.end());
    EXPECT_NE(std::find(timeline.begin(), timeline.end(), "select subtitle 4294967295"), timeline.end());
    EXPECT_EQ(desktop.Selection(audioCombo_), -1);  // the combo's own reaction: nothing selected
    EXPECT_EQ(desktop.Selection(subtitleCombo_), -1);
}

TEST_F(ImTooAutomationTest, InRealTimeTheWholeRunTakesItsWaits) {
    SimulatedWindowSystem virtualDesktop;
    Build(virtualDesktop, Layout{});
    ASSERT_TRUE(ControlImToo(virtualDesktop, 2, 1));
    const std::vector<std::string> expected = Timeline(virtualDesktop, false);

    names_.clear();
    SimulatedWindowSystem desktop(Clock::Real);
    Build(desktop, Layout{});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ControlImToo(desktop, 2, 1));
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(Timeline(desktop, false), expected);
    EXPECT_TRUE(shown_.empty());
    // 500 + 200 + 3 x 200 + 3 x (200 + 200) ms of waiting; a generous margin for a busy machine.
    EXPECT_GE(elapsed.count(), 2500);
    EXPECT_LT(elapsed.count(), 2500 + 2000);
    // Each event came no earlier than its place on the virtual clock.
    const auto& virtualEvents = virtualDesktop.Events();
    const auto& realEvents = desktop.Events();
    ASSERT_EQ(realEvents.size(), virtualEvents.size());
    for (size_t i = 0; i < realEvents.size(); ++i)
        EXPECT_GE(realEvents[i].timeMs, virtualEvents[i].timeMs) << i;
}

TEST_F(ImTooAutomationTest, WithoutADisplayNothingIsFound) {
    const char* headless = std::getenv("SINJO_HEADLESS");
    ASSERT_NE(headless, nullptr);  // the test runner makes every test process headless
    std::vector<std::wstring> texts;
    platform::SetMessageBoxHook([&](std::wstring_view text, std::wstring_view, unsigned) {
        texts.emplace_back(text);
        return platform::IDOK;
    });
    EXPECT_STREQ(CreateWindowSystem()->Name(), "headless");
    EXPECT_FALSE(ControlImToo(0, 0));
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"Can not find the main window."}));
}

}  // namespace
