#include "plugin/CSinjoPluginPropPage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "plugin/CSinjoPlugin.h"
#include "plugin/Resources.h"
#include "plugin/TestSupport.h"

namespace sinjoplugin {
namespace {

using namespace platform;
using namespace sinjoplugin::test;

// A page site that records the status changes it is told about.
class RecordingSite final : public IPropertyPageSite {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IPropertyPageSite) {
            *object = static_cast<IPropertyPageSite*>(this);
            ++refs;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override { return static_cast<ULONG>(--refs); }
    HRESULT OnStatusChange(DWORD flags) override {
        changes.push_back(flags);
        return S_OK;
    }
    HRESULT GetLocaleID(LCID* locale) override {
        *locale = 0x409;
        return S_OK;
    }
    HRESULT GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    HRESULT TranslateAccelerator(MSG*) override { return S_FALSE; }

    std::vector<DWORD> changes;
    int refs = 1;
};

std::optional<uint32_t> StoredFactor() {
    RegValue value;
    if (RegQueryValue(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, &value) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(value.type, REG_DWORD);
    return value.dword;
}

class PropPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearPluginRegistry();
        SetMessageBoxHook([this](std::wstring_view text, std::wstring_view caption, unsigned type) {
            messages.push_back(std::wstring(text) + L"|" + std::wstring(caption) + L"|" + std::to_wstring(type));
            return IDOK;
        });
        ASSERT_EQ(CSinjoPluginPropPage::CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page)),
                  S_OK);
        impl = static_cast<CSinjoPluginPropPage*>(page);
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        if (object != nullptr) object->Release();
        if (page != nullptr) {
            page->SetPageSite(nullptr);
            page->SetObjects(0, nullptr);
            EXPECT_EQ(page->Release(), 0u);
        }
        EXPECT_EQ(site.refs, 1) << "the page let its site go";
    }

    void GiveObject() {
        ASSERT_EQ(CSinjoPlugin::CreateInstance(nullptr, IID_ISinjoPlugin, reinterpret_cast<void**>(&object)), S_OK);
        IUnknown* objects[] = {object};
        ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    }
    void Open() {
        const RECT rect{0, 0, 300, 200};
        ASSERT_EQ(page->Activate(nullptr, &rect, FALSE), S_OK);
        ASSERT_NE(impl->Dialog(), nullptr);
    }
    std::wstring Shown() { return impl->Dialog()->GetItemText(IDC_SCALEFACTOR, 100); }
    void Type(const std::wstring& text) { impl->Dialog()->UserEdit(IDC_SCALEFACTOR, text); }

    IPropertyPage* page = nullptr;
    CSinjoPluginPropPage* impl = nullptr;
    ISinjoPlugin* object = nullptr;
    RecordingSite site;
    std::vector<std::wstring> messages;
};

TEST_F(PropPageTest, ApplyStoresValidFactorsInFixedPointAndHandsThemToTheObject) {
    struct Case {
        const wchar_t* text;
        uint32_t stored;
        double factor;
    };
    const Case cases[] = {
        {L"0.5", 32768, 0.5},
        {L"1", 65536, 1.0},
        {L"0", 0, 0.0},
        {L"not a number", 65536, 1.0},
        {L"", 65536, 1.0},
        {L"  0.25", 16384, 0.25},
        {L"0.3", 19660, 0.3},  // 19660.8 truncated
        {L"0.75abc", 49152, 0.75},
    };
    GiveObject();
    Open();
    for (const Case& c : cases) {
        Type(c.text);
        EXPECT_EQ(page->Apply(), S_OK) << c.text;
        EXPECT_EQ(StoredFactor(), c.stored) << c.text;
        double factor = -1;
        object->get_ScaleFactor(&factor);
        EXPECT_DOUBLE_EQ(factor, c.factor) << c.text;
        EXPECT_EQ(page->IsPageDirty(), S_FALSE) << c.text;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(PropPageTest, FactorsOutsideTheRangeAreRefusedWithTheMessageAndThePageStaysDirty) {
    GiveObject();
    object->put_ScaleFactor(0.5);
    RegSetDword(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, 32768);
    Open();
    for (const wchar_t* text : {L"1.01", L"-0.1", L"nan", L"inf", L"1e300"}) {
        messages.clear();
        Type(text);
        EXPECT_EQ(page->Apply(), E_FAIL) << text;
        ASSERT_EQ(messages.size(), 1u) << text;
        EXPECT_EQ(messages[0], L"You must enter a scale factor between 0.0 and 1.0||0");
        EXPECT_EQ(page->IsPageDirty(), S_OK) << text;
        EXPECT_EQ(StoredFactor(), 32768u) << "nothing stored for " << text;
        double factor = -1;
        object->get_ScaleFactor(&factor);
        EXPECT_EQ(factor, 0.5) << "nothing sent for " << text;
    }
}

TEST_F(PropPageTest, OpeningShowsTheObjectsFactorOrTheStoredOne) {
    struct Case {
        const char* what;
        void (*prepare)();
        const wchar_t* shown;
    };
    const Case cases[] = {
        {"missing key", [] {}, L"1.00"},
        {"stored 16384", [] { RegSetDword(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, 16384); },
         L"0.25"},
        {"stored 65536", [] { RegSetDword(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, 65536); },
         L"1.00"},
        {"unreadable", [] { RegSetString(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, L"0.5"); },
         L"1.00"},
    };
    for (const Case& c : cases) {
        ClearPluginRegistry();
        c.prepare();
        Open();
        EXPECT_EQ(Shown(), c.shown) << c.what;
        EXPECT_EQ(page->IsPageDirty(), S_FALSE) << "filling the dialog is no edit: " << c.what;
        ASSERT_EQ(page->Deactivate(), S_OK);
    }
    // With an object its factor wins over the setting.
    RegSetDword(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, 16384);
    GiveObject();
    object->put_ScaleFactor(0.126);
    Open();
    EXPECT_EQ(Shown(), L"0.13") << "two decimals, rounded";
}

TEST_F(PropPageTest, EditingMarksThePageDirtyAndTellsTheSiteOnce) {
    ASSERT_EQ(page->SetPageSite(&site), S_OK);
    EXPECT_EQ(page->SetPageSite(&site), E_UNEXPECTED);
    Open();
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    Type(L"0.");
    Type(L"0.7");
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(site.changes, std::vector<DWORD>{PROPPAGESTATUS_DIRTY});
    ASSERT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    Type(L"0.8");
    EXPECT_EQ(site.changes, (std::vector<DWORD>{PROPPAGESTATUS_DIRTY, PROPPAGESTATUS_DIRTY}));
    impl->Dialog()->UserEdit(IDC_SCALEFACTOR + 1, L"x");
    EXPECT_EQ(site.changes.size(), 2u) << "other controls do not count";
}

TEST_F(PropPageTest, ApplyWithoutAnOpenPageChangesNothing) {
    RegSetDword(RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue, 16384);
    GiveObject();
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(StoredFactor(), 16384u);
    double factor = 0;
    object->get_ScaleFactor(&factor);
    EXPECT_EQ(factor, 0.25);
}

TEST_F(PropPageTest, SetObjectsKeepsTheFirstObjectThatIsAPlugin) {
    // The page itself is an object without ISinjoPlugin.
    ASSERT_EQ(CSinjoPlugin::CreateInstance(nullptr, IID_ISinjoPlugin, reinterpret_cast<void**>(&object)), S_OK);
    object->put_ScaleFactor(0.5);
    ISinjoPlugin* second = nullptr;
    ASSERT_EQ(CSinjoPlugin::CreateInstance(nullptr, IID_ISinjoPlugin, reinterpret_cast<void**>(&second)), S_OK);
    second->put_ScaleFactor(0.75);
    IUnknown* objects[] = {page, nullptr, object, second};
    ASSERT_EQ(page->SetObjects(4, objects), S_OK);
    Open();
    EXPECT_EQ(Shown(), L"0.50");
    Type(L"0.1");
    ASSERT_EQ(page->Apply(), S_OK);
    double factor = 0;
    second->get_ScaleFactor(&factor);
    EXPECT_EQ(factor, 0.75);
    EXPECT_EQ(page->SetObjects(1, nullptr), E_POINTER);
    second->Release();
}

TEST_F(PropPageTest, PageInfoAndDialogHandling) {
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(info.cb, sizeof(PROPPAGEINFO));
    EXPECT_STREQ(info.pszTitle, L"SinjoPlugin Plug-in Sample");
    EXPECT_STREQ(info.pszHelpFile, L"Help File Name");
    EXPECT_STREQ(info.pszDocString, L"SinjoPlugin Settings");
    EXPECT_EQ(info.dwHelpContext, 0u);
    EXPECT_EQ(info.size.cx, 221);  // 147 x 6 / 4, rounded
    EXPECT_EQ(info.size.cy, 198);  // 122 x 13 / 8, rounded
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);
    CoTaskMemFree(info.pszDocString);

    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
    Open();
    PropertyDialog* dialog = impl->Dialog();
    EXPECT_EQ(PropertyDialog::FromHandle(dialog->Handle()), dialog);
    EXPECT_EQ(page->Show(SW_SHOW), S_OK);
    EXPECT_TRUE(dialog->IsVisible());
    const RECT moved{10, 20, 30, 40};
    EXPECT_EQ(page->Move(&moved), S_OK);
    EXPECT_EQ(dialog->Rect().top, 20);
    dialog->SetExtendedStyle(0x4);
    EXPECT_EQ(dialog->ExtendedStyle(), 0x4u | WS_EX_CONTROLPARENT);

    MSG key{dialog->Handle(), WM_KEYFIRST, 0, 0, 0, {0, 0}};
    EXPECT_EQ(page->TranslateAccelerator(&key), S_OK);
    MSG elsewhere{nullptr, WM_KEYFIRST, 0, 0, 0, {0, 0}};
    EXPECT_EQ(page->TranslateAccelerator(&elsewhere), S_FALSE);
    EXPECT_EQ(page->TranslateAccelerator(nullptr), E_POINTER);

    const HWND handle = dialog->Handle();
    EXPECT_EQ(page->Activate(nullptr, &moved, FALSE), E_UNEXPECTED);
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(PropertyDialog::FromHandle(handle), nullptr);
    EXPECT_EQ(page->Deactivate(), E_UNEXPECTED);
}

TEST(ScaleFactorText, ReadsLikePercentLfInTheCLocale) {
    struct Case {
        const wchar_t* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {L"0.5", 0.5},       {L" \t0.5", 0.5},  {L"+1", 1.0},       {L"-0", -0.0},   {L".25", 0.25},
        {L"1e-1", 0.1},      {L"0x1p-1", 0.5},  {L"0.5,7", 0.5},    {L"1.0\u00e9", 1.0},
        {L"", std::nullopt}, {L"abc", std::nullopt}, {L"-", std::nullopt}, {L"\u00bd", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseScaleFactor(c.text), c.value) << c.text;
    }
    EXPECT_TRUE(std::isnan(*ParseScaleFactor(L"nan")));
    EXPECT_EQ(FormatScaleFactor(0.25), L"0.25");
    EXPECT_EQ(FormatScaleFactor(1.0), L"1.00");
    EXPECT_EQ(FormatScaleFactor(0.005), L"0.01");
}

}  // namespace
}  // namespace sinjoplugin
