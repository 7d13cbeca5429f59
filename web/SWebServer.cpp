#include "web/SWebServer.h"

#include <memory>
#include <mutex>

#include "core/ByteString.h"
#include "core/Globals.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/Gui.h"
#include "protocol/Commands.h"
#include "protocol/SettingKeys.h"
#include "web/PageFragments.h"

using nutl::HttpRequest;
using nutl::HttpResponse;

namespace {

// Sends a command to the main window and waits until the GUI thread has run it. Fails at once when
// there is no main window (before start-up finished, or after it closed).
void SendCommand(SongManCommand code, platform::LPARAM arg) {
    const platform::HWND window = g_mainWindow.load(std::memory_order_acquire);
    if (window == nullptr) return;
    platform::SendMessageChecked(window, WM_SONGMAN_COMMAND, static_cast<platform::WPARAM>(code), arg, nullptr);
}

}  // namespace

bool IsWebWritableSetting(std::wstring_view keyAndValue) {
    const std::wstring_view prefix = setting_keys::kPrefPrefix;
    return keyAndValue.size() >= prefix.size() && EqualsAsciiNoCase(keyAndValue.substr(0, prefix.size()), prefix);
}

bool IsSafeWebName(const std::string& name) {
    if (name.empty()) return false;
    if (name.front() == '/' || name.front() == '\\') return false;
    if (name.size() >= 2 && name[1] == ':') return false;  // a drive
    if (name.find('\0') != std::string::npos) return false;
    // No component may be "..": components end at "/" or "\", both of which mean a folder.
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

void SWebServer::HandleRequest(HttpRequest& request, HttpResponse& response) {
    if (g_songMan == nullptr) return;
    // Counted busy for the whole dispatch, also when it throws, so that Stop waits for it.
    IncrementBusy();
    struct LeaveBusy {
        SWebServer* server;
        ~LeaveBusy() { server->DecrementBusy(); }
    } leave{this};
    Dispatch(request, response);
}

void SWebServer::Dispatch(HttpRequest& request, HttpResponse& response) {
    std::string name = request.urlPath.empty() ? std::string() : request.urlPath.substr(1);
    if (name.empty()) name = "index.htm";

    if (name == "control") {
        // Never wait for the GUI thread while holding the catalogue lock: it may be waiting for it.
        ExecuteCommand(request);
        response.body = "OK";
        response.SetCacheControl("no-cache");
        return;
    }

    // Files of the web directory are looked up and read before the catalogue lock is taken: only the
    // catalogue needs it, and every phone's request waits for it.
    const bool safe = IsSafeWebName(name);
    const std::wstring file =
        safe && g_settings != nullptr
            ? g_settings->GetHtmlPath(L"web\\" + nutl::ToWide(name, platform::CP_UTF8))
            : std::wstring();
    if (!file.empty()) {
        std::shared_ptr<const std::string> contents;
        switch (m_files.Get(file, &contents)) {
        case WebFileCache::Result::read_error:
            response.body = "INTERNAL ERROR";
            return;
        case WebFileCache::Result::ok:
            if (name == "index.htm") {
                response.body = BuildPage(request, *contents);
                response.contentType = "text/html; charset=gb2312";
                response.SetCacheControl("no-cache");
            } else {
                response.body = *contents;
                response.contentType =
                    nutl::FileExtension(file) == L"png" ? "image/png" : "text/css; charset=gb2312";
            }
            return;
        case WebFileCache::Result::missing:
            break;
        }
    }
    if (name == "queue_list") {
        platform::RecursiveMutexLock catalogueLock(g_songMan->lock);
        response.body = RenderQueueList();
        response.contentType = "text/html; charset=gb2312";
        response.SetCacheControl("no-cache");
        return;
    }
    if (name == "update_control_status") {
        platform::RecursiveMutexLock catalogueLock(g_songMan->lock);
        response.body = RenderControlStatus();
        response.contentType = "text/plain; charset=gb2312";
        response.SetCacheControl("no-cache");
        return;
    }
    response.body = "FILE NOT FOUND";
}

void SWebServer::ExecuteCommand(const HttpRequest& request) {
    const std::string act = request.GetParam("act");
    const std::string param = request.GetParam("param");
    const int32_t paramNumber = ParseLeadingInt(param);
    const int32_t param2Number = ParseLeadingInt(request.GetParam("param2"));

    if (act == "queue_song") {
        const std::wstring ids = nutl::ToWide(param, platform::CP_BIG5);
        SendCommand(SongManCommand::QueueSongs, TextArgument(ids));
    } else if (act == "next") {
        SendCommand(SongManCommand::Next, 0);
    } else if (act == "jump") {
        SendCommand(SongManCommand::Jump, paramNumber);
    } else if (act == "change_volume") {
        SendCommand(SongManCommand::ChangeVolume, paramNumber);
    } else if (act == "play_pause") {
        SendCommand(SongManCommand::PlayPause, 0);
    } else if (act == "random_play") {
        SendCommand(SongManCommand::ToggleRandomPlay, 0);
    } else if (act == "audio_source") {
        const std::wstring source = nutl::ToWide(param, platform::CP_UTF8);
        SendCommand(SongManCommand::SetAudioSource, TextArgument(source));
    } else if (act == "queue_up") {
        SendCommand(SongManCommand::MoveQSongUp, PackQueuePosition(paramNumber, param2Number));
    } else if (act == "queue_front") {
        SendCommand(SongManCommand::MoveQSongFront, PackQueuePosition(paramNumber, param2Number));
    } else if (act == "queue_remove") {
        SendCommand(SongManCommand::RemoveQSong, PackQueuePosition(paramNumber, param2Number));
    } else if (act == "clear_queue") {
        SendCommand(SongManCommand::ClearQueue, 0);
    } else if (act == "set_setting") {
        const std::wstring setting = nutl::ToWide(param, platform::CP_UTF8);
        // A phone may change preferences only: a link that rewrote the index folder, the user folders or
        // the port would take effect at the next start for everybody.
        if (IsWebWritableSetting(setting)) {
            SendCommand(SongManCommand::SetSetting, TextArgument(setting));
        }
    }
}

std::string SWebServer::BuildPage(const HttpRequest& request, const std::string& page) {
    const std::wstring query = nutl::ToWide(request.GetParam("q"), platform::CP_GBK);
    // The pinyin search: "py", read like "q", answers when "q" is empty or absent.
    const std::wstring pinyin = query.empty() ? nutl::ToWide(request.GetParam("py"), platform::CP_GBK) : std::wstring();
    const std::wstring sortby = nutl::ToWide(request.GetParam("sortby"), platform::CP_UTF8);
    const std::wstring artistSortby = nutl::ToWide(request.GetParam("artist_sortby"), platform::CP_UTF8);
    const std::string param = request.GetParam("param");
    const std::string act = request.GetParam("act");

    // Texts copied from the request are escaped, so that a crafted link cannot put script into the page.
    const std::string queryText = nutl::HtmlEscape(nutl::ToNarrow(pinyin.empty() ? query : pinyin, platform::CP_GBK));
    const std::string paramText = nutl::HtmlEscape(param);
    const std::string sortbyText = nutl::HtmlEscape(nutl::ToNarrow(sortby, platform::CP_UTF8));
    const std::string artistSortbyText = nutl::HtmlEscape(nutl::ToNarrow(artistSortby, platform::CP_UTF8));

    const char* listMarker = "<!-- #SONG_LIST -->";
    std::string list;
    std::shared_ptr<const std::string> help;
    if (act == "help") {
        // The help text is a file of the web directory; no catalogue is read for it.
        listMarker = "<!-- #HELP -->";
        if (g_settings != nullptr &&
            m_files.Get(g_settings->GetHtmlPath(L"web\\help.htm"), &help) == WebFileCache::Result::ok) {
            list = *help;
        }
    }

    std::string audioSource;
    {
        platform::RecursiveMutexLock catalogueLock(g_songMan->lock);
        audioSource = nutl::ToNarrow(g_songMan->AudioSourceDisplayName(), platform::CP_GBK);
        if (act == "artist") {
            listMarker = "<!-- #ARTIST_LIST -->";
            const std::vector<Artist*>* artists =
                g_songMan->QueryArtists(nutl::ToWide(param, platform::CP_UTF8), artistSortby);
            list = RenderArtistList(*artists, nutl::ToWide(param, platform::CP_BIG5));
        } else if (act == "album") {
            listMarker = "<!-- #ALBUM_LIST -->";
            list = RenderAlbumList(g_songMan->albums);
        } else if (act != "help") {
            const std::vector<Song*>* songs = pinyin.empty() ? g_songMan->QuerySongs(query, sortby)
                                                             : g_songMan->QueryPinyinSongs(pinyin, sortby);
            // The list is named by what the query made it from; a pinyin search's name starts with two
            // zero characters, which no other name does (request texts end at a zero byte).
            std::wstring listKey = pinyin.empty() ? query : std::wstring(2, L'\0') + pinyin;
            listKey.push_back(L'\0');
            listKey += sortby;
            list = m_songLists.Render(listKey, *songs, ParseLeadingInt(param));
        }
    }

    // In the order the markers have always been filled; only the last text may come from the catalogue.
    return nutl::FillMarkers(page, {
                                       {"<!-- #QUERY -->", queryText},
                                       {"<!-- #AUDIO_SOURCE_DISPLAY_NAME -->", audioSource},
                                       {"<!-- #PARAM -->", paramText},
                                       {"<!-- #SORTBY -->", sortbyText},
                                       {"<!-- #ARTIST_SORTBY -->", artistSortbyText},
                                       {listMarker, list},
                                   });
}
