// The main window's web browser as the automation object sees it: it can be told to stop loading, and it
// reports its events to connected event sinks.
//
// The desktop's browser view implements IWebBrowser2. Events reach a sink as dispatch calls on the sink's
// IDispatch (the sink answers DIID_DWebBrowserEvents2). NavigateError (DISPID_NAVIGATEERROR) carries, in
// call order: the browser (VT_DISPATCH, may be null), the address (VT_BSTR), the frame's name (VT_BSTR,
// empty for the main frame), the status code (a number of any type: an HTTP status, or a negative code for
// a failure below HTTP) and the cancel flag (VT_BOOL | VT_BYREF, VARIANT_FALSE on entry). A sink that sets
// the flag to VARIANT_TRUE asks the browser to show no error page and to stay on the page it had.
//
// Threads: GUI thread only, like the browser itself.
#pragma once

#include "platform/Com.h"
#include "platform/Dispatch.h"

namespace platform {

constexpr DISPID DISPID_NAVIGATEERROR = 271;

constexpr IID IID_IWebBrowser2{0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};
constexpr IID DIID_DWebBrowserEvents2{0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};

class IWebBrowser2 : public IUnknown {
public:
    // Stops the navigation in progress.
    virtual HRESULT Stop() = 0;
    // Connects `sink` to the browser's events; the browser holds a reference until Unadvise. *cookie names
    // the connection (never 0).
    virtual HRESULT Advise(IDispatch* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;

protected:
    ~IWebBrowser2() = default;
};

}  // namespace platform
