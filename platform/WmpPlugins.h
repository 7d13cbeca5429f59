// The media player's plug-in interfaces: enabling a plug-in, and the registrar with which a plug-in
// module records itself (from its DllRegisterServer) so that the media back end runs it.
//
// The registrar is a built-in class of the media component: CoCreateInstance(
// CLSID_WMPMediaPluginRegistrar, ..., IID_IWMPMediaPluginRegistrar) finds it without classes.reg, in
// any program or module linked with the platform library. (CLSID_WMPMediaPluginRegistrar is defined in
// WmpPlugins.cpp on purpose: naming it links that file, whose start-up code registers the class.)
//
// What it records, per plug-in, under HKEY_CURRENT_USER\Software\MediaPlayer\Plugins\<kind>\{class id}
// where <kind> is "DSP" for WMP_PLUGINTYPE_DSP and "Rendering" for WMP_PLUGINTYPE_RENDERING:
//   "FriendlyName"   REG_SZ     name shown to the user
//   "Description"    REG_SZ     description shown to the user
//   "UninstallPath"  REG_SZ     only when an uninstall command was given
//   "Priority"       REG_DWORD  place in the chain: lower values run first
//   "MediaTypes"     REG_SZ     the handled types as "{major}/{subtype}" pairs joined by ";"
// The media back end reads them back with ListDspPlugins.
//
// Threads: any thread. The registrar keeps no state of its own; every call is one or a few atomic
// registry writes.
#pragma once

#include <string>
#include <vector>

#include "platform/Com.h"
#include "platform/Dmo.h"

namespace platform {

// Lets the media player switch a plug-in on and off while it stays in the chain.
class IWMPPluginEnable : public IUnknown {
public:
    virtual HRESULT SetEnable(BOOL enable) = 0;
    virtual HRESULT GetEnable(BOOL* enable) = 0;

protected:
    ~IWMPPluginEnable() = default;
};

class IWMPMediaPluginRegistrar : public IUnknown {
public:
    // Records (or re-records, replacing the old record) the plug-in `clsid` of `pluginType`.
    // mediaTypes points to `mediaTypeCount` DMO_PARTIAL_MEDIATYPE records. friendlyName and
    // description are required (E_POINTER when null); uninstallString may be null. E_INVALIDARG for
    // an unknown plug-in type or a count without records; a registry failure as its HRESULT.
    virtual HRESULT WMPRegisterPlayerPlugin(const OLECHAR* friendlyName, const OLECHAR* description,
                                            const OLECHAR* uninstallString, DWORD priority, GUID pluginType,
                                            CLSID clsid, UINT mediaTypeCount, const void* mediaTypes) = 0;
    // Removes the record; S_FALSE when there was none.
    virtual HRESULT WMPUnRegisterPlayerPlugin(GUID pluginType, CLSID clsid) = 0;

protected:
    ~IWMPMediaPluginRegistrar() = default;
};

constexpr IID IID_IWMPPluginEnable{0x5FCA444C, 0x7AD1, 0x479D, {0xA4, 0xEF, 0x40, 0x56, 0x6A, 0x53, 0x09, 0xD6}};
constexpr IID IID_IWMPMediaPluginRegistrar{0x68E27045, 0x05BD, 0x40B2,
                                           {0x97, 0x20, 0x23, 0x08, 0x8C, 0x78, 0xE3, 0x90}};
constexpr GUID WMP_PLUGINTYPE_DSP{0x6434BAEA, 0x4954, 0x498D, {0xAB, 0xD5, 0x2B, 0x07, 0x12, 0x3E, 0x1F, 0x04}};
constexpr GUID WMP_PLUGINTYPE_RENDERING{0xA8554541, 0x115D, 0x406A,
                                        {0xA4, 0xC7, 0x51, 0x11, 0x1C, 0x33, 0x01, 0x83}};
// {5569E7F5-424B-4B93-89CA-79D17924689A}
extern const CLSID CLSID_WMPMediaPluginRegistrar;

// Key below HKEY_CURRENT_USER that holds the DSP plug-in records.
constexpr const wchar_t* kDspPluginsKey = L"Software\\MediaPlayer\\Plugins\\DSP";

// A recorded DSP plug-in, as the media back end needs it.
struct DspPluginRecord {
    CLSID clsid;
    std::wstring friendlyName;
    std::wstring description;
    DWORD priority = 0;
    std::vector<DMO_PARTIAL_MEDIATYPE> mediaTypes;
};

// Every recorded DSP plug-in whose key name is a class id, lowest priority value first (ties in key
// order). A record without "Priority" sorts last; unreadable media type entries are skipped.
std::vector<DspPluginRecord> ListDspPlugins();

// The text form of media types used in "MediaTypes", and its reader (skips malformed pairs).
std::wstring FormatMediaTypes(const DMO_PARTIAL_MEDIATYPE* types, size_t count);
std::vector<DMO_PARTIAL_MEDIATYPE> ParseMediaTypes(std::wstring_view text);

}  // namespace platform
