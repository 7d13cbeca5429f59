// SWebServer: the jukebox's web server. Every request of a phone or browser ends in HandleRequest on its
// connection's worker thread, which either hands a remote-control command to the main window's GUI
// thread ("control"), fills the page template "index.htm" with catalogue fragments, serves a generated
// fragment ("queue_list", "update_control_status"), or serves a file of the web directory
// (<html folder>/web) unaltered.
//
// Threads: HandleRequest runs on many worker threads at once. It holds g_songMan->lock while it reads
// the catalogue and releases it before it sends a command to the GUI thread, because the GUI thread
// itself waits for that lock (end of media, queue commands). Each dispatch is counted busy, so Stop waits
// for requests in progress. Start and Stop are called on the GUI thread. The two caches below have their
// own locks (see their headers).
#pragma once

#include <string>
#include <string_view>

#include "web/HttpServer.h"
#include "web/SongListCache.h"
#include "web/WebFileCache.h"

class SWebServer final : public nutl::HttpServer {
public:
    SWebServer() = default;
    explicit SWebServer(const nutl::HttpServerLimits& limits) : nutl::HttpServer(limits) {}

protected:
    void HandleRequest(nutl::HttpRequest& request, nutl::HttpResponse& response) override;

private:
    void Dispatch(nutl::HttpRequest& request, nutl::HttpResponse& response);
    void ExecuteCommand(const nutl::HttpRequest& request);
    // The page template filled for this request. Takes g_songMan->lock only while it reads the catalogue;
    // the template is filled after releasing it.
    std::string BuildPage(const nutl::HttpRequest& request, const std::string& page);

    WebFileCache m_files;        // files of the web directory, checked for changes on every request
    SongListCache m_songLists;   // rendered song list pages, by catalogue generation, list and page
};

// True when a name taken from a request target may be served from the web directory: not empty, no
// "..", no absolute path, no drive, no backslash tricks. Exposed for tests.
bool IsSafeWebName(const std::string& name);

// True when a "set_setting" text ("key=value") may be stored for a web client: only "pref:" keys (ASCII
// letter case ignored, as the registry ignores it). The page in the main window and automation clients
// keep full access through the automation object. Exposed for tests.
bool IsWebWritableSetting(std::wstring_view keyAndValue);
