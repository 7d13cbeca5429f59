#include "platform/WindowSearch.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/SimulatedWindowSystem.h"

namespace platform::winsys {
namespace {

constexpr Rect kAnywhere{0, 0, 10, 10};

TEST(WindowSearchTest, FirstMatchInDepthFirstOrder) {
    SimulatedWindowSystem desktop;
    const WindowId top = desktop.AddTopLevelWindow(L"Top", L"Static", kAnywhere);  // never a candidate
    const WindowId panel = desktop.AddChildWindow(top, L"#32770", L"", 0, kAnywhere);
    const WindowId deep = desktop.AddChildWindow(panel, L"Static", L"Audio:", 1030, kAnywhere);
    const WindowId later = desktop.AddChildWindow(top, L"Static", L"Audio:", 1030, kAnywhere);
    const WindowId emptyText = desktop.AddChildWindow(top, L"SysListView32", L"", 7, kAnywhere);
    const WindowId named = desktop.AddChildWindow(top, L"SysListView32", L"Titles", 8, kAnywhere);

    struct Case {
        const wchar_t* className;
        const wchar_t* text;
        WindowId expected;
    };
    const Case cases[] = {
        {L"Static", L"Audio:", deep},  // the child's child comes before the later sibling
        {nullptr, L"Audio:", deep},
        {L"Static", nullptr, deep},
        {nullptr, nullptr, panel},  // no criteria: the first descendant
        {L"SysListView32", L"", emptyText},
        {L"SysListView32", L"Titles", named},
        {L"SysListView32", nullptr, emptyText},
        {L"static", L"Audio:", kNoWindow},  // letter case counts
        {L"Static", L"audio:", kNoWindow},
        {L"Static", L"Audio", kNoWindow},  // no prefix matches
        {L"Static", L"Audio: ", kNoWindow},
        {L"", nullptr, kNoWindow},  // an empty class name is a criterion, not "any"
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindDescendantByClassAndText(desktop, top, c.className, c.text), c.expected)
            << (c.className ? c.className : L"(any)") << " / " << (c.text ? c.text : L"(any)");
    }
    EXPECT_EQ(FindDescendantById(desktop, top, 1030), deep);
    EXPECT_EQ(FindDescendantById(desktop, panel, 1030), deep);
    EXPECT_EQ(FindDescendantById(desktop, top, 8), named);
    EXPECT_EQ(FindDescendantById(desktop, top, 1031), kNoWindow);
    // Searching below one window never leaves it, and no window means nothing found.
    EXPECT_EQ(FindDescendantByClassAndText(desktop, panel, L"SysListView32", nullptr), kNoWindow);
    EXPECT_EQ(FindDescendantByClassAndText(desktop, kNoWindow, nullptr, nullptr), kNoWindow);
    EXPECT_EQ(FindDescendantById(desktop, kNoWindow, 0), kNoWindow);
    EXPECT_EQ(FindDescendantById(desktop, later, 1030), kNoWindow);  // a window is not its own descendant
}

TEST(WindowSearchTest, ComparesAtMost259Characters) {
    SimulatedWindowSystem desktop;
    const WindowId top = desktop.AddTopLevelWindow(L"Top", L"Frame", kAnywhere);
    const std::wstring longText = std::wstring(258, L'x') + L"yz";  // 260 characters
    const WindowId window = desktop.AddChildWindow(top, std::wstring(300, L'C'), longText, 1, kAnywhere);

    // Only the first 259 characters of either side take part.
    EXPECT_EQ(FindDescendantByClassAndText(desktop, top, nullptr, longText.c_str()), window);
    const std::wstring sameStart = std::wstring(258, L'x') + L"y";
    EXPECT_EQ(FindDescendantByClassAndText(desktop, top, nullptr, sameStart.c_str()), window);
    const std::wstring otherTail = std::wstring(258, L'x') + L"y-anything after";
    EXPECT_EQ(FindDescendantByClassAndText(desktop, top, nullptr, otherTail.c_str()), window);
    const std::wstring differsAt259 = std::wstring(258, L'x') + L"Y";
    EXPECT_EQ(FindDescendantByClassAndText(desktop, top, nullptr, differsAt259.c_str()), kNoWindow);
    const std::wstring tooShort(258, L'x');
    EXPECT_EQ(FindDescendantByClassAndText(desktop, top, nullptr, tooShort.c_str()), kNoWindow);
    EXPECT_EQ(FindDescendantByClassAndText(desktop, top, std::wstring(259, L'C').c_str(), nullptr), window);
    EXPECT_EQ(FindDescendantByClassAndText(desktop, top, std::wstring(258, L'C').c_str(), nullptr),
              kNoWindow);
}

// The simple reference: collect every descendant in depth-first order, take the first that matches.
void Collect(WindowId parent, const std::vector<std::vector<WindowId>>& children,
             std::vector<WindowId>* out) {
    for (WindowId child : children[parent]) {
        out->push_back(child);
        Collect(child, children, out);
    }
}

TEST(WindowSearchTest, RandomTreesAgreeWithAPlainWalk) {
    std::mt19937 random(19);
    const std::wstring classes[] = {L"Static", L"ComboBox", L"Button"};
    const std::wstring texts[] = {L"", L"Audio:", L"Zoom:"};
    for (int round = 0; round < 200; ++round) {
        SimulatedWindowSystem desktop;
        const WindowId top = desktop.AddTopLevelWindow(L"Top", L"Frame", kAnywhere);
        ASSERT_EQ(top, 1u);
        std::vector<std::vector<WindowId>> children(2);  // by window; 0 is no window
        std::vector<std::wstring> classOf(2), textOf(2);
        std::vector<int32_t> idOf(2);
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            // Any window so far: the top one (1) or an earlier child.
            const WindowId at = 1 + random() % (children.size() - 1);
            classOf.push_back(classes[random() % 3]);
            textOf.push_back(texts[random() % 3]);
            idOf.push_back(static_cast<int32_t>(random() % 4));
            const WindowId child =
                desktop.AddChildWindow(at, classOf.back(), textOf.back(), idOf.back(), kAnywhere);
            ASSERT_EQ(child, children.size());
            children[at].push_back(child);
            children.emplace_back();
        }
        std::vector<WindowId> order;
        Collect(top, children, &order);
        for (const std::wstring& c : classes) {
            for (const std::wstring& t : texts) {
                WindowId expected = kNoWindow;
                for (WindowId w : order) {
                    if (classOf[w] == c && textOf[w] == t) {
                        expected = w;
                        break;
                    }
                }
                EXPECT_EQ(FindDescendantByClassAndText(desktop, top, c.c_str(), t.c_str()), expected);
            }
        }
        for (int32_t id = 0; id < 4; ++id) {
            WindowId expected = kNoWindow;
            for (WindowId w : order) {
                if (idOf[w] == id) {
                    expected = w;
                    break;
                }
            }
            EXPECT_EQ(FindDescendantById(desktop, top, id), expected);
        }
    }
}

}  // namespace
}  // namespace platform::winsys
