// SWebServer: the jukebox's web server. Every request of a phone or browser ends in HandleRequest on its
// connection's worker thread, which either hands a remote-control command to the main window's GUI
// thread ("control"), fills the page template "index.htm" with catalogue fragments, serves a generated
// fragment ("queue_list", "update_control_status"), or serves a file of the web directory
// (<html folder>/web) unaltered.
//
// Threads: HandleRequest runs on many worker threads at once. It holds g_songMan->lock while it reads
// the catalogue and releases it before it sends a command to the GUI thread, because the GUI thread
// itself waits for that lock (end of media, queue commands). Each dispatch is counted busy, so Stop waits
// for requests in progress. Start and Stop are called on the GUI thread.
#pragma once

#include <string>

#include "web/HttpServer.h"

// The command message that web workers send to the main window: wParam is a command code (0 to 11),
// lParam a number, two 16-bit halves, or a pointer to a wide text that lives until the send returns.
constexpr unsigned WM_SONGMAN_COMMAND = 0x0400 + 1;

class SWebServer final : public nutl::HttpServer {
public:
    SWebServer() = default;
    explicit SWebServer(const nutl::HttpServerLimits& limits) : nutl::HttpServer(limits) {}

protected:
    void HandleRequest(nutl::HttpRequest& request, nutl::HttpResponse& response) override;

private:
    void Dispatch(nutl::HttpRequest& request, nutl::HttpResponse& response);
    void ExecuteCommand(const nutl::HttpRequest& request);
    void BuildPage(const nutl::HttpRequest& request, const std::wstring& query, std::string& page);
};

// True when a name taken from a request target may be served from the web directory: not empty, no
// "..", no absolute path, no drive, no backslash tricks. Exposed for tests.
bool IsSafeWebName(const std::string& name);
