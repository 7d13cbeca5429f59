// The play queue and the numbered command interface of SongMan.
//
// Every operation here runs on the GUI thread (the main window's WM_SONGMAN_COMMAND handler, the
// automation object, the player window's end-of-media handler). Each takes the catalogue lock while it
// reads or changes the queue, so web workers that render the queue under the lock never see it half
// changed. The lock is recursive: the end-of-media handler already holds it around Next. Nothing here
// waits for the GUI thread (it runs there), so holding the lock across the player calls is safe.
#include <cstdlib>
#include <limits>
#include <mutex>

#include "app/Globals.h"
#include "app/Settings.h"
#include "library/SongMan.h"
#include "platform/FileSystem.h"
#include "platform/Tick.h"
#include "player/PlayerCommands.h"
#include "player/SPlayer.h"

namespace {

constexpr size_t kQueueLimit = 100;       // QueueSong ignores requests beyond this
constexpr size_t kRandomTopUpTarget = 10;  // random play keeps at least this many entries

// The leading decimal number of a text, like the C library's conversion: optional blanks and sign,
// then digits; no digits gives 0. Saturates instead of overflowing (the id is then out of range).
int32_t LeadingInt(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > std::numeric_limits<int32_t>::max()) {
            value = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
            break;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

const wchar_t* TextArgument(intptr_t arg) {
    const auto* text = reinterpret_cast<const wchar_t*>(arg);
    return text != nullptr ? text : L"";
}

}  // namespace

void SongMan::QueueSong(int32_t id, bool begin) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (id < 0 || static_cast<size_t>(id) >= songs.size()) {
        return;
    }
    if (queue.size() >= kQueueLimit) {
        return;
    }
    Song* song = songs[id];
    const std::wstring path = GetSongFilePath(song);
    if (path.empty() || !platform::CanOpenForRead(path)) {
        return;
    }
    if (begin && !queue.empty()) {
        queue.insert(queue.begin() + 1, song);
    } else {
        queue.push_back(song);
    }
    if (queue.size() == 1) {
        PlaySong(song);
    }
}

void SongMan::QueueSongs(const std::wstring& text) {
    std::vector<std::wstring> parts;
    Split(text, L", ", parts);
    for (const std::wstring& part : parts) {
        QueueSong(LeadingInt(part), false);
    }
}

int32_t SongMan::GetQSongCount() const { return static_cast<int32_t>(queue.size()); }

Song* SongMan::GetQSong(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= queue.size()) {
        return nullptr;
    }
    return queue[index];
}

void SongMan::MoveQSongFront(int32_t index, int32_t id) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (index <= 0 || static_cast<size_t>(index) >= queue.size() || queue[index]->id != id) {
        return;
    }
    Song* song = queue[index];
    queue.erase(queue.begin() + index);
    queue.insert(queue.begin() + 1, song);
}

void SongMan::MoveQSongUp(int32_t index, int32_t id) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    // Position 1 cannot move up: position 0 is the song that plays.
    if (index <= 1 || static_cast<size_t>(index) >= queue.size() || queue[index]->id != id) {
        return;
    }
    std::swap(queue[index - 1], queue[index]);
}

void SongMan::RemoveQSong(int32_t index, int32_t id) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (index <= 0 || static_cast<size_t>(index) >= queue.size() || queue[index]->id != id) {
        return;
    }
    queue.erase(queue.begin() + index);
}

void SongMan::ClearQueue() {
    EnsurePlayer();
    // The player's refusal to pause is reported by Pause; the queue then stays as it was, so what
    // plays on is still shown as playing.
    if (!platform::MediaSucceeded(Pause())) {
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(lock);
    queue.clear();
}

void SongMan::Next() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (random_play && !songs.empty()) {
        const auto count = static_cast<uint32_t>(songs.size());
        while (queue.size() < kRandomTopUpTarget) {
            const uint32_t r = (static_cast<uint32_t>(std::rand()) + platform::GetTickCount()) % count;
            queue.push_back(songs[r]);
        }
    }
    if (queue.empty()) {
        return;
    }
    if (queue.size() == 1) {
        queue.clear();
        return;
    }
    queue.erase(queue.begin());
    PlaySong(queue.front());
}

void SongMan::ToggleRandomPlay() {
    bool start = false;
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        random_play = !random_play;
        start = random_play;
    }
    // Switching random play on in silence starts music at once.
    if (start && (g_player == nullptr || !g_player->IsPlaying())) {
        Next();
    }
}

void SongMan::PlaySong(Song* song) {
    if (song == nullptr) {
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(lock);
    EnsurePlayer();
    g_player->PlayUrl(GetSongFilePath(song));
    current_song = song;
    PublishAudioSource();
}

int SongMan::Control(int code, intptr_t arg) {
    // Codes 7 to 9 carry the queue index in the low 16 bits and the song id in the high 16 bits.
    const auto low = static_cast<int32_t>(static_cast<uintptr_t>(arg) & 0xFFFF);
    const auto high = static_cast<int32_t>((static_cast<uintptr_t>(arg) >> 16) & 0xFFFF);
    switch (code) {
    case 0:
        QueueSongs(TextArgument(arg));
        break;
    case 1:
        Next();
        break;
    case 2:
        Jump(static_cast<int32_t>(arg));
        break;
    case 3:
        ChangeVolume(static_cast<int32_t>(arg));
        break;
    case 4:
        PlayPause();
        break;
    case 5:
        ToggleRandomPlay();
        break;
    case 6:
        SetAudioSource(TextArgument(arg));
        break;
    case 7:
        MoveQSongFront(low, high);
        break;
    case 8:
        MoveQSongUp(low, high);
        break;
    case 9:
        RemoveQSong(low, high);
        break;
    case 10:
        ClearQueue();
        break;
    case 11: {
        const std::wstring text = TextArgument(arg);
        const size_t equals = text.find(L'=');
        const std::wstring key = text.substr(0, equals);
        const std::wstring value = equals == std::wstring::npos ? std::wstring() : text.substr(equals + 1);
        if (g_settings != nullptr) {
            g_settings->Set(key, value);
        }
        break;
    }
    default:
        break;
    }
    return 0;
}
