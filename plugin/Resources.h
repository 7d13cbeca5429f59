// The plug-in module's resources as C++ tables: its strings, the property page's dialog template and
// its version data. Constant data; any thread.
#pragma once

#include <string>

#include "platform/PropertyPage.h"

namespace sinjoplugin {

// String ids.
constexpr int IDS_PROJNAME = 100;
constexpr int IDS_FRIENDLYNAME = 102;
constexpr int IDS_DESCRIPTION = 103;
constexpr int IDS_TITLEPROPPAGE = 104;
constexpr int IDS_HELPFILEPROPPAGE = 105;
constexpr int IDS_DOCSTRINGPROPPAGE = 106;
constexpr int IDS_SCALERANGEERROR = 109;

// Dialog and control ids.
constexpr int IDD_SINJOPLUGINPROPPAGE = 108;
constexpr int IDC_SCALEFACTOR = 201;

// The text of a string id; empty for an unknown id.
std::wstring LoadString(int id);

// Dialog templates use the platform's description, so that the desktop can draw them.
using DialogControl = platform::DialogControl;
using DialogTemplate = platform::DialogTemplate;

// The property page's template (IDD_SINJOPLUGINPROPPAGE).
const DialogTemplate& PropertyPageTemplate();

// Version data of the module.
struct VersionInfo {
    const wchar_t* fileDescription;
    const wchar_t* productName;
    const wchar_t* internalName;
    const wchar_t* originalFilename;
    const wchar_t* fileVersion;
    const wchar_t* productVersion;
    const wchar_t* selfRegister;  // "OLESelfRegister": the module registers itself
    unsigned short fileVersionParts[4];
};
const VersionInfo& ModuleVersion();

}  // namespace sinjoplugin
