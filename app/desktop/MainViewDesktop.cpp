// The main window's view on a desktop: a WebKitGTK browser window (platform/desktop/WebWindow.h) wired to
// the window's Door.
//
//   - The page's messages go to CallFromPage (app/PageExternal.h) on the GUI thread, checked against the key
//     that this window's page script carries.
//   - A navigation error becomes the browser's NavigateError event, delivered to the event sinks connected
//     through the view's IWebBrowser2 (the Door connects its own when SetBrowser is called); the cancel flag
//     they leave decides whether the window keeps its page.
//   - The About item of the header bar's menu shows the About box over the window.
#include <cstdio>

#include "app/Door.h"
#include "app/MainView.h"
#include "app/PageExternal.h"
#include "platform/CodePage.h"
#include "platform/RandomKey.h"
#include "platform/WebBrowser.h"
#include "platform/desktop/AboutBox.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/InputFilter.h"
#include "platform/desktop/WebWindow.h"
#include "resources/SinjoStrings.h"

namespace {

using platform::HRESULT;

constexpr char kHandlerName[] = "sinjoExternal";
constexpr int kFirstWidth = 1280;
constexpr int kFirstHeight = 800;
constexpr int kMinWidth = 900;
constexpr int kMinHeight = 600;

// The view as the Door sees its browser: event sinks connect to it, and it can be told to stop.
//
// Reference counted (GUI thread only, so not atomically): the view holds one reference and the Door one.
// The view detaches itself when it goes, after which events stop.
class ViewBrowser final : public platform::IWebBrowser2 {
public:
    HRESULT QueryInterface(platform::REFIID iid, void** object) override {
        if (object == nullptr) return platform::E_POINTER;
        if (iid == platform::IID_IUnknown || iid == platform::IID_IWebBrowser2) {
            *object = static_cast<platform::IWebBrowser2*>(this);
            AddRef();
            return platform::S_OK;
        }
        *object = nullptr;
        return platform::E_NOINTERFACE;
    }
    platform::ULONG AddRef() override { return ++m_refs; }
    platform::ULONG Release() override {
        const platform::ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

    // The load that failed is the one being reported, and the answer to the report (cancel or not) already
    // decides it; stopping the whole view here would also stop the rest of the page, such as the console
    // page itself while a frame of it fails because the web server is down. So there is nothing more to do.
    HRESULT Stop() override { return platform::S_OK; }

    HRESULT Advise(platform::IDispatch* sink, platform::DWORD* cookie) override {
        if (sink == nullptr || cookie == nullptr) return platform::E_POINTER;
        if (m_sink != nullptr) return platform::E_FAIL;  // one sink: the Door's
        m_sink = sink;
        m_sink->AddRef();
        *cookie = kCookie;
        return platform::S_OK;
    }
    HRESULT Unadvise(platform::DWORD cookie) override {
        if (cookie != kCookie || m_sink == nullptr) return platform::E_INVALIDARG;
        platform::IDispatch* sink = m_sink;
        m_sink = nullptr;
        sink->Release();
        return platform::S_OK;
    }

    // Delivers NavigateError; true when the sink asked for the navigation to be cancelled.
    bool NavigateError(const platform::NavigationError& error) {
        if (m_sink == nullptr) return false;
        platform::VARIANT_BOOL cancel = platform::VARIANT_FALSE;
        // A failure without a response carries a negative code, as the platform's browser reports one.
        const platform::LONG status = error.httpStatus != 0 ? error.httpStatus : kNoResponse;
        const platform::Variant args[] = {
            platform::Variant::Dispatch(nullptr), platform::Variant::Bstr(platform::FromUtf8(error.uri)),
            platform::Variant::Bstr(error.mainFrame ? std::wstring() : L"frame"), platform::Variant::Long(status),
            platform::Variant::BoolRef(&cancel)};
        m_sink->Invoke(platform::DISPID_NAVIGATEERROR, platform::GUID_NULL, 0, platform::DISPATCH_METHOD, args,
                       nullptr, nullptr);
        return cancel != platform::VARIANT_FALSE;
    }

private:
    static constexpr platform::DWORD kCookie = 1;
    static constexpr platform::LONG kNoResponse = -2146697211;  // 0x800C0005: the resource was not found

    platform::ULONG m_refs = 1;
    platform::IDispatch* m_sink = nullptr;  // one reference while connected
};

class DesktopMainView final : public MainView {
public:
    DesktopMainView(const MainViewSetup& setup, std::unique_ptr<platform::WebWindow> window, std::string key)
        : m_windowHandle(setup.window), m_door(setup.door), m_key(std::move(key)), m_window(std::move(window)) {
        m_browser = new ViewBrowser();
        m_door->SetBrowser(m_browser);
        m_window->SetMessageHandler([this](std::string_view message) {
            const PageReply reply = CallFromPage(*m_door, message, m_key);
            return reply.ok ? platform::ScriptReply::Value(reply.json) : platform::ScriptReply::Error(reply.error);
        });
        m_window->SetNavigationErrorHandler(
            [this](const platform::NavigationError& error) { return m_browser->NavigateError(error); });
        m_window->SetCloseHandler(setup.onClose);
        GtkWindow* native = m_window->NativeWindow();
        m_window->AddMenuItem(sinjo_strings::kAboutMenuItem, [native] {
            platform::ShowAboutBox(native, platform::AboutBoxText{sinjo_strings::kAboutTitle, sinjo_strings::kProgramName,
                                                                  sinjo_strings::kVersion, sinjo_strings::kCompany});
        });
        platform::SetNativeWindow(m_windowHandle, native);
        platform::SetSystemKeyHook(setup.onSystemKey);
    }

    ~DesktopMainView() override {
        platform::SetSystemKeyHook({});
        platform::SetNativeWindow(m_windowHandle, nullptr);
        m_window.reset();            // no more events from here on
        m_door->SetBrowser(nullptr);  // the Door lets go of the browser...
        m_browser->Release();        // ...and so does the view
    }

    HRESULT ExecScript(const std::wstring& frame, const std::wstring& script) override {
        return m_window->ExecScript(frame, script);
    }

    void Open(const std::string& pagePath) {
        if (!m_window->OpenFile(pagePath)) {
            std::fprintf(stderr, "Sinjo: the page %s cannot be opened.\n", pagePath.c_str());
        }
        m_window->Show();
    }

private:
    platform::HWND m_windowHandle;
    Door* m_door;
    const std::string m_key;  // what the page's script puts in front of its messages
    ViewBrowser* m_browser = nullptr;  // one reference, released when the view goes
    std::unique_ptr<platform::WebWindow> m_window;
};

}  // namespace

std::unique_ptr<MainView> CreateMainView(const MainViewSetup& setup) {
    if (!platform::DesktopRunning() || setup.door == nullptr) return nullptr;
    if (!setup.iconPath.empty() && !platform::SetProgramIcon(setup.iconPath)) {
        std::fprintf(stderr, "Sinjo: the program icon %s cannot be read.\n", setup.iconPath.c_str());
    }
    platform::WebWindowOptions options;
    options.title = sinjo_strings::kMainWindowTitle;
    options.iconFile = setup.iconPath;
    options.width = kFirstWidth;
    options.height = kFirstHeight;
    options.minWidth = kMinWidth;
    options.minHeight = kMinHeight;
    options.messageHandlerName = kHandlerName;
    std::string key = platform::RandomKey();
    options.userScript = PageExternalScript(kHandlerName, key);
    options.window = setup.window;
    std::unique_ptr<platform::WebWindow> window = platform::WebWindow::Create(options);
    if (!window) return nullptr;
    auto view = std::make_unique<DesktopMainView>(setup, std::move(window), std::move(key));
    view->Open(setup.pagePath);
    return view;
}
