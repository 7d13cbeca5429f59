// The plug-in module's own class ids and its custom interface.
//
// These GUIDs are fixed for good: registration, the property page list and the page's search for the
// object's interface all use them, and media players record them.
#pragma once

#include "platform/Com.h"

// {AD449D41-358A-439A-8250-5AD598D0773D}
constexpr platform::CLSID CLSID_SinjoPlugin{0xAD449D41, 0x358A, 0x439A,
                                            {0x82, 0x50, 0x5A, 0xD5, 0x98, 0xD0, 0x77, 0x3D}};
// {7E20F3F7-D77B-4DFD-B28A-03B7A500CBD9}
constexpr platform::CLSID CLSID_SinjoPluginPropPage{0x7E20F3F7, 0xD77B, 0x4DFD,
                                                    {0xB2, 0x8A, 0x03, 0xB7, 0xA5, 0x00, 0xCB, 0xD9}};
// {26CC6EF7-B71D-438F-9007-6BE663CBA561}
constexpr platform::IID IID_ISinjoPlugin{0x26CC6EF7, 0xB71D, 0x438F,
                                         {0x90, 0x07, 0x6B, 0xE6, 0x63, 0xCB, 0xA5, 0x61}};

// The plug-in object's primary interface: the scale factor that the property page edits. The factor
// is kept, exchanged and persisted; the sample processing does not use it. Callable from any thread
// (the object keeps the factor in an atomic field).
class ISinjoPlugin : public platform::IUnknown {
public:
    // E_POINTER for a null pointer.
    virtual platform::HRESULT get_ScaleFactor(double* factor) = 0;
    // Stored as given, without a range check (the page checks the range).
    virtual platform::HRESULT put_ScaleFactor(double factor) = 0;

protected:
    ~ISinjoPlugin() = default;
};
