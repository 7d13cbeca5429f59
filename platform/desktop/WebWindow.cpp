// How the browser window does its job with WebKitGTK:
//   - Script messages: a handler registered "with reply" on the window's user content manager; the
//     value arrives as a JSCValue, goes to the C++ handler as JSON, and the handler's answer goes
//     back through the WebKitScriptMessageReply before the signal returns.
//   - ExecScript: a page cannot reach into a frame of another origin, and WebKit offers no call that
//     runs script in a sub-frame. So every frame gets, at document start, a listener in a script world
//     of our own that pages cannot see into; ExecScript looks the frame element up from the same world
//     in the main frame and posts the script to the frame's window with a key known only to that
//     world. The listener takes only messages with the key, hides them from the page's own listeners,
//     and runs the script in the page's world as a script element.
//   - Navigation errors: an HTTP status other than 200 is seen in the response policy decision (main
//     frame and sub-frames; ignoring the decision stops the load before anything is shown); a main
//     frame that fails without a response reports load-failed (returning TRUE shows no error page);
//     a sub-frame that fails without a response is only visible as the failure of its main resource,
//     which is recognised by the address of a navigation decided just before.
#include "platform/desktop/WebWindow.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <deque>
#include <utility>

#include "platform/CodePage.h"
#include "platform/RandomKey.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/HeaderBarMenu.h"
#include "platform/desktop/ScriptText.h"

namespace platform {
namespace {

constexpr char kImplKey[] = "platform-web-window";
constexpr char kExecWorld[] = "platform-web-window-exec";
// Navigations remembered to recognise a failing sub-frame; older ones are forgotten.
constexpr size_t kRememberedNavigations = 32;

// The web context all windows share, created with the first window and released with the last, so
// that its helper processes end when no window needs them. GUI thread only.
WebKitWebContext* g_context = nullptr;
int g_contextUsers = 0;

WebKitWebContext* AcquireContext() {
    if (g_context == nullptr) g_context = webkit_web_context_new_ephemeral();
    ++g_contextUsers;
    return g_context;
}

void ReleaseContext() {
    if (--g_contextUsers == 0) {
        g_object_unref(g_context);
        g_context = nullptr;
    }
}

// The listener every frame gets in kExecWorld (see the top of this file).
std::string ExecReceiverScript(const std::string& key) {
    return "(function () {\n"
           "  var key = " + ScriptStringLiteral(key) + ";\n"
           "  window.addEventListener('message', function (event) {\n"
           "    var data = event.data;\n"
           "    if (!data || typeof data !== 'object' || data.execKey !== key || typeof data.script !== 'string') return;\n"
           "    event.stopImmediatePropagation();\n"
           "    var parent = document.head || document.documentElement;\n"
           "    if (!parent) return;\n"
           "    var element = document.createElement('script');\n"
           "    element.textContent = data.script;\n"
           "    parent.appendChild(element);\n"
           "    element.remove();\n"
           "  }, true);\n"
           "})();\n";
}

// Runs in kExecWorld of the main frame: posts the script to the named frame; true when found.
std::string ExecSenderScript(const std::string& key, const std::string& frame, const std::string& script) {
    return "(function (name, message) {\n"
           "  var frames = Array.prototype.slice.call(document.querySelectorAll('iframe, frame'));\n"
           "  var match = frames.filter(function (f) { return f.getAttribute('name') === name; })[0] ||\n"
           "              frames.filter(function (f) { return f.id === name; })[0];\n"
           "  if (!match || !match.contentWindow) return false;\n"
           "  match.contentWindow.postMessage(message, '*');\n"
           "  return true;\n"
           "})(" + ScriptStringLiteral(frame) + ", {execKey: " + ScriptStringLiteral(key) +
           ", script: " + ScriptStringLiteral(script) + "})";
}

bool IsHttp(const char* uri) {
    return uri != nullptr && (g_str_has_prefix(uri, "http:") || g_str_has_prefix(uri, "https:"));
}

// What an evaluation's callback needs; `alive` is false once the window is gone.
struct EvaluationCall {
    std::shared_ptr<bool> alive;
    std::function<void(bool ok, std::string result)> done;
    bool functionBody = false;  // started with call_async_javascript_function, not evaluate_javascript
};

void EvaluationFinished(GObject* view, GAsyncResult* result, gpointer data) {
    std::unique_ptr<EvaluationCall> call(static_cast<EvaluationCall*>(data));
    GError* error = nullptr;
    JSCValue* value =
        call->functionBody ? webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view), result, &error)
                           : webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (!*call->alive || !call->done) {
        if (error != nullptr) g_error_free(error);
        if (value != nullptr) g_object_unref(value);
        return;
    }
    if (value == nullptr) {
        std::string message = error != nullptr ? error->message : "script failed";
        if (error != nullptr) g_error_free(error);
        call->done(false, message);
        return;
    }
    gchar* json = jsc_value_to_json(value, 0);
    std::string text = json != nullptr ? json : "null";
    g_free(json);
    g_object_unref(value);
    call->done(true, text);
}

}  // namespace

struct WebWindow::Impl {
    // Constant after construction.
    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    WebKitUserContentManager* content = nullptr;
    std::string handlerName;
    std::string execKey;
    HWND handle = nullptr;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    GCancellable* cancellable = g_cancellable_new();

    // GUI thread state.
    MessageHandler messageHandler;
    NavigationErrorHandler navigationErrorHandler;
    CloseHandler closeHandler;
    LoadFinishedHandler loadFinishedHandler;
    bool hasDocument = false;             // the main frame committed a document
    bool mainLoadFailed = false;          // the current main-frame load failed
    std::deque<std::string> navigations;  // addresses of recent navigation decisions
    std::deque<std::string> cancelled;    // addresses whose errors were reported and cancelled

    static Impl* Of(gpointer view) { return static_cast<Impl*>(g_object_get_data(G_OBJECT(view), kImplKey)); }

    // Reports an error; true when the handler cancelled it.
    bool Report(const NavigationError& error) {
        const NavigationErrorHandler handler = navigationErrorHandler;
        return handler && handler(error);
    }

    static bool TakeFrom(std::deque<std::string>& list, const std::string& uri) {
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (*it == uri) {
                list.erase(it);
                return true;
            }
        }
        return false;
    }

    static void Remember(std::deque<std::string>& list, std::string uri) {
        list.push_back(std::move(uri));
        if (list.size() > kRememberedNavigations) list.pop_front();
    }

    // --- signal handlers ---
    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
        Impl* self = static_cast<Impl*>(data);
        const CloseHandler handler = self->closeHandler;
        if (handler) handler();
        return TRUE;  // the window stays; its owner decides
    }

    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
        return TRUE;  // never shown
    }

    static gboolean OnScriptMessage(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                                    gpointer data) {
        Impl* self = static_cast<Impl*>(data);
        const MessageHandler handler = self->messageHandler;
        if (!handler) {
            webkit_script_message_reply_return_error_message(reply, "no handler");
            return TRUE;
        }
        gchar* json = jsc_value_to_json(value, 0);
        const std::string payload = json != nullptr ? json : "null";
        g_free(json);
        const ScriptReply answer = handler(payload);
        if (!answer.ok) {
            webkit_script_message_reply_return_error_message(reply, answer.error.c_str());
            return TRUE;
        }
        JSCContext* context = jsc_value_get_context(value);
        JSCValue* result = answer.json.empty() ? jsc_value_new_undefined(context)
                                               : jsc_value_new_from_json(context, answer.json.c_str());
        if (result == nullptr || jsc_context_get_exception(context) != nullptr) {
            jsc_context_clear_exception(context);
            webkit_script_message_reply_return_error_message(reply, "the reply is not JSON");
        } else {
            webkit_script_message_reply_return_value(reply, result);
        }
        if (result != nullptr) g_object_unref(result);
        return TRUE;
    }

    static gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer) {
        Impl* self = Of(view);
        if (self == nullptr) return FALSE;
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
            if (uri != nullptr) Remember(self->navigations, uri);
            return FALSE;
        }
        if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
        WebKitResponsePolicyDecision* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        WebKitURIResponse* answer = webkit_response_policy_decision_get_response(response);
        const char* uri = webkit_uri_response_get_uri(answer);
        const unsigned status = webkit_uri_response_get_status_code(answer);
        if (!IsHttp(uri) || status == 200) return FALSE;
        const NavigationError error{uri, webkit_response_policy_decision_is_main_frame_main_resource(response) != FALSE,
                                    static_cast<int>(status), ""};
        if (!self->Report(error)) return FALSE;
        Remember(self->cancelled, uri);  // the load ends as failed: that failure is not reported again
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }

    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
        Impl* self = Of(view);
        if (self == nullptr) return;
        switch (event) {
            case WEBKIT_LOAD_STARTED:
                self->mainLoadFailed = false;
                break;
            case WEBKIT_LOAD_COMMITTED:
                self->hasDocument = true;
                break;
            case WEBKIT_LOAD_FINISHED: {
                if (self->mainLoadFailed) break;
                const LoadFinishedHandler handler = self->loadFinishedHandler;
                const char* uri = webkit_web_view_get_uri(view);
                if (handler) handler(uri != nullptr ? uri : "");
                break;
            }
            default:
                break;
        }
    }

    static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar* uri, GError* error, gpointer) {
        Impl* self = Of(view);
        if (self == nullptr) return FALSE;
        self->mainLoadFailed = true;
        const std::string address = uri != nullptr ? uri : "";
        if (TakeFrom(self->cancelled, address)) return TRUE;  // reported with its HTTP status already
        // A load replaced by another, or stopped, is not an error and shows nothing.
        if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return FALSE;
        return self->Report(NavigationError{address, true, 0, error != nullptr ? error->message : ""}) ? TRUE : FALSE;
    }

    static void OnResourceFailed(WebKitWebResource* resource, GError* error, gpointer view) {
        Impl* self = Of(view);
        if (self == nullptr) return;
        const char* uri = webkit_web_resource_get_uri(resource);
        const std::string address = uri != nullptr ? uri : "";
        if (TakeFrom(self->cancelled, address)) return;
        if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return;
        // Nothing to cancel: WebKit shows no error page in a sub-frame, which keeps its page.
        self->Report(NavigationError{address, false, 0, error != nullptr ? error->message : ""});
    }

    static void OnResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource, WebKitURIRequest* request,
                                      gpointer) {
        Impl* self = Of(view);
        if (self == nullptr) return;
        const char* uri = webkit_uri_request_get_uri(request);
        if (uri == nullptr || !TakeFrom(self->navigations, uri)) return;  // not a frame's document
        if (resource == webkit_web_view_get_main_resource(view)) return;  // the main frame: load-failed
        g_signal_connect_object(resource, "failed", G_CALLBACK(&OnResourceFailed), view, static_cast<GConnectFlags>(0));
    }
};

std::unique_ptr<WebWindow> WebWindow::Create(const WebWindowOptions& options) {
    if (!DesktopRunning()) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->handlerName = options.messageHandlerName;
    impl->execKey = RandomKey();
    impl->handle = options.window;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    impl->window = window;
    gtk_window_set_title(GTK_WINDOW(window), ToUtf8(options.title).c_str());
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_NORMAL);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
    if (!options.iconFile.empty()) {
        GError* error = nullptr;
        if (!gtk_window_set_icon_from_file(GTK_WINDOW(window), options.iconFile.c_str(), &error) && error != nullptr) {
            std::fprintf(stderr, "Sinjo: the window icon %s cannot be read: %s\n", options.iconFile.c_str(), error->message);
        }
        if (error != nullptr) g_error_free(error);
    }
    if (options.minWidth > 0 || options.minHeight > 0) {
        GdkGeometry geometry = {};
        geometry.min_width = options.minWidth;
        geometry.min_height = options.minHeight;
        gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &geometry, GDK_HINT_MIN_SIZE);
    }
    gtk_window_set_default_size(GTK_WINDOW(window), std::max(options.width, options.minWidth),
                                std::max(options.height, options.minHeight));
    EnsureHeaderBar(GTK_WINDOW(window));
    g_signal_connect(window, "delete-event", G_CALLBACK(&Impl::OnDeleteEvent), impl.get());

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    impl->content = content;
    if (!options.userScript.empty()) {
        WebKitUserScript* script = webkit_user_script_new(options.userScript.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                          WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(content, script);
        webkit_user_script_unref(script);
    }
    WebKitUserScript* receiver = webkit_user_script_new_for_world(
        ExecReceiverScript(impl->execKey).c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kExecWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, receiver);
    webkit_user_script_unref(receiver);
    if (!impl->handlerName.empty()) {
        webkit_user_content_manager_register_script_message_handler_with_reply(content, impl->handlerName.c_str(), nullptr);
        const std::string signal = "script-message-with-reply-received::" + impl->handlerName;
        g_signal_connect(content, signal.c_str(), G_CALLBACK(&Impl::OnScriptMessage), impl.get());
    }

    WebKitWebView* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", AcquireContext(),
                                                       "user-content-manager", content, nullptr));
    impl->view = view;
    g_object_set_data(G_OBJECT(view), kImplKey, impl.get());
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    g_signal_connect(view, "context-menu", G_CALLBACK(&Impl::OnContextMenu), nullptr);
    g_signal_connect(view, "decide-policy", G_CALLBACK(&Impl::OnDecidePolicy), nullptr);
    g_signal_connect(view, "load-changed", G_CALLBACK(&Impl::OnLoadChanged), nullptr);
    g_signal_connect(view, "load-failed", G_CALLBACK(&Impl::OnLoadFailed), nullptr);
    g_signal_connect(view, "resource-load-started", G_CALLBACK(&Impl::OnResourceLoadStarted), nullptr);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show(GTK_WIDGET(view));
    gtk_widget_grab_focus(GTK_WIDGET(view));

    if (options.window != nullptr) SetNativeWindow(options.window, GTK_WINDOW(window));
    return std::unique_ptr<WebWindow>(new WebWindow(std::move(impl)));
}

WebWindow::WebWindow(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WebWindow::~WebWindow() {
    Impl& self = *impl_;
    *self.alive = false;
    g_cancellable_cancel(self.cancellable);
    g_object_unref(self.cancellable);
    // No handler may reach this object from here on.
    g_object_set_data(G_OBJECT(self.view), kImplKey, nullptr);
    g_signal_handlers_disconnect_by_data(self.window, &self);
    g_signal_handlers_disconnect_by_data(self.content, &self);
    if (!self.handlerName.empty()) {
        webkit_user_content_manager_unregister_script_message_handler(self.content, self.handlerName.c_str());
    }
    if (self.handle != nullptr && NativeWindowOf(self.handle) == GTK_WINDOW(self.window)) {
        SetNativeWindow(self.handle, nullptr);
    }
    gtk_widget_destroy(self.window);
    g_object_unref(self.content);
    ReleaseContext();
}

void WebWindow::SetMessageHandler(MessageHandler handler) { impl_->messageHandler = std::move(handler); }
void WebWindow::SetNavigationErrorHandler(NavigationErrorHandler handler) {
    impl_->navigationErrorHandler = std::move(handler);
}
void WebWindow::SetCloseHandler(CloseHandler handler) { impl_->closeHandler = std::move(handler); }
void WebWindow::SetLoadFinishedHandler(LoadFinishedHandler handler) { impl_->loadFinishedHandler = std::move(handler); }

void WebWindow::Show() {
    gtk_widget_show(impl_->window);
    gtk_window_present(GTK_WINDOW(impl_->window));
    gtk_widget_grab_focus(GTK_WIDGET(impl_->view));
}

void WebWindow::Hide() { gtk_widget_hide(impl_->window); }

bool WebWindow::OpenFile(const std::string& path) {
    if (path.empty()) return false;
    gchar* absolute = g_canonicalize_filename(path.c_str(), nullptr);
    gchar* uri = g_filename_to_uri(absolute, nullptr, nullptr);
    g_free(absolute);
    if (uri == nullptr) return false;
    webkit_web_view_load_uri(impl_->view, uri);
    g_free(uri);
    return true;
}

bool WebWindow::OpenUri(const std::string& uri) {
    if (uri.empty()) return false;
    webkit_web_view_load_uri(impl_->view, uri.c_str());
    return true;
}

std::string WebWindow::CurrentUri() const {
    const char* uri = webkit_web_view_get_uri(impl_->view);
    return uri != nullptr ? uri : "";
}

HRESULT WebWindow::ExecScript(std::wstring_view frame, std::wstring_view script, std::function<void(bool)> done) {
    if (!impl_->hasDocument) return E_FAIL;
    const std::string sender = ExecSenderScript(impl_->execKey, ToUtf8(frame), ToUtf8(script));
    auto* call = new EvaluationCall{impl_->alive, nullptr, false};
    if (done) {
        call->done = [done = std::move(done)](bool ok, const std::string& result) { done(ok && result == "true"); };
    }
    webkit_web_view_evaluate_javascript(impl_->view, sender.c_str(), static_cast<gssize>(sender.size()), kExecWorld,
                                        nullptr, impl_->cancellable, &EvaluationFinished, call);
    return S_OK;
}

void WebWindow::RunScript(std::string_view body, std::function<void(bool ok, std::string result)> done) {
    auto* call = new EvaluationCall{impl_->alive, std::move(done), true};
    webkit_web_view_call_async_javascript_function(impl_->view, body.data(), static_cast<gssize>(body.size()), nullptr,
                                                   nullptr, nullptr, impl_->cancellable, &EvaluationFinished, call);
}

void WebWindow::AddMenuItem(std::wstring_view menuText, std::function<void()> action) {
    AddHeaderBarMenuItem(GTK_WINDOW(impl_->window), menuText, std::move(action));
}

GtkWindow* WebWindow::NativeWindow() const { return GTK_WINDOW(impl_->window); }

}  // namespace platform
