#include "plugin/Resources.h"

namespace sinjoplugin {
namespace {

struct StringEntry {
    int id;
    const wchar_t* text;
};

constexpr StringEntry kStrings[] = {
    {IDS_PROJNAME, L"SinjoPlugin"},
    {IDS_FRIENDLYNAME, L"SinjoPlugin plugin"},
    {IDS_DESCRIPTION, L"Description of SinjoPlugin plugin"},
    {IDS_TITLEPROPPAGE, L"SinjoPlugin Plug-in Sample"},
    {IDS_HELPFILEPROPPAGE, L"Help File Name"},
    {IDS_DOCSTRINGPROPPAGE, L"SinjoPlugin Settings"},
    {IDS_SCALERANGEERROR, L"You must enter a scale factor between 0.0 and 1.0"},
};

constexpr DialogControl kPageControls[] = {
    {L"STATIC", -1, L"Scale Factor (0.0 to 1.0):", 11, 13, 104, 10, L""},
    {L"EDIT", IDC_SCALEFACTOR, L"", 19, 26, 54, 12, L"ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP"},
};

constexpr DialogTemplate kPageTemplate = {
    IDD_SINJOPLUGINPROPPAGE, 147, 122, L"MS Shell Dlg", 8, L"WS_CHILD",
    kPageControls, static_cast<int>(sizeof kPageControls / sizeof kPageControls[0]),
};

constexpr VersionInfo kVersion = {
    L"SinjoPlugin Module", L"SinjoPlugin Module", L"SinjoPlugin", L"SinjoPlugin.dll",
    L"1, 0, 0, 1", L"1, 0, 0, 1", L"OLESelfRegister", {1, 0, 0, 1},
};

}  // namespace

std::wstring LoadString(int id) {
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id) return entry.text;
    }
    return {};
}

const DialogTemplate& PropertyPageTemplate() { return kPageTemplate; }

const VersionInfo& ModuleVersion() { return kVersion; }

}  // namespace sinjoplugin
