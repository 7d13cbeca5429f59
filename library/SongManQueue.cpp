// The play queue and the numbered command interface of SongMan.
//
// Every operation here runs on the GUI thread (the main window's WM_SONGMAN_COMMAND handler, the
// automation object, the player window's end-of-media notice). Each takes the catalogue lock while it
// reads or changes the queue, so web workers that render the queue under the lock never see it half
// changed.
//
// The lock is never held across anything slow or anything that may show a dialog: the file check of a
// queued song, the player calls and the channel hand-off (a registry write that may end in a message box)
// all run after it is released. A message box runs a nested loop, and every phone waits for this lock.
// Releasing it in the middle of an operation is safe because the catalogue's records change only on the
// GUI thread (Reload), so a song pointer taken under the lock stays valid for the rest of the operation.
#include <cstdlib>
#include <mutex>

#include "core/Globals.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "library/SongMan.h"
#include "platform/FileSystem.h"
#include "platform/Tick.h"
#include "player/PlayerCommands.h"
#include "player/SPlayer.h"
#include "protocol/Commands.h"

namespace {

constexpr size_t kQueueLimit = 100;       // QueueSong ignores requests beyond this
constexpr size_t kRandomTopUpTarget = 10;  // random play keeps at least this many entries

}  // namespace

void SongMan::QueueSong(int32_t id, bool begin) {
    Song* song = nullptr;
    std::wstring path;
    {
        platform::RecursiveMutexLock guard(lock);
        if (id < 0 || static_cast<size_t>(id) >= songs.size() || queue.size() >= kQueueLimit) {
            return;
        }
        song = songs[id];
        path = GetSongFilePath(song);
    }
    // The file check may wait on a slow disk or a network share: never with the lock held.
    if (path.empty() || !platform::CanOpenForRead(path)) {
        return;
    }
    bool startNow = false;
    {
        platform::RecursiveMutexLock guard(lock);
        if (queue.size() >= kQueueLimit) {
            return;
        }
        if (begin && !queue.empty()) {
            queue.insert(queue.begin() + 1, song);
        } else {
            queue.push_back(song);
        }
        startNow = queue.size() == 1;
    }
    if (startNow) {
        PlaySong(song);
    }
}

void SongMan::QueueSongs(const std::wstring& text) {
    std::vector<std::wstring> parts;
    Split(text, L", ", parts);
    for (const std::wstring& part : parts) {
        QueueSong(ParseLeadingInt(part), false);
    }
}

int32_t SongMan::GetQSongCount() const {
    platform::RecursiveMutexLock guard(lock);
    return static_cast<int32_t>(queue.size());
}

Song* SongMan::GetQSong(int32_t index) const {
    platform::RecursiveMutexLock guard(lock);
    if (index < 0 || static_cast<size_t>(index) >= queue.size()) {
        return nullptr;
    }
    return queue[index];
}

void SongMan::MoveQSongFront(int32_t index, int32_t id) {
    platform::RecursiveMutexLock guard(lock);
    if (index <= 0 || static_cast<size_t>(index) >= queue.size() || queue[index]->id != id) {
        return;
    }
    Song* song = queue[index];
    queue.erase(queue.begin() + index);
    queue.insert(queue.begin() + 1, song);
}

void SongMan::MoveQSongUp(int32_t index, int32_t id) {
    platform::RecursiveMutexLock guard(lock);
    // Position 1 cannot move up: position 0 is the song that plays.
    if (index <= 1 || static_cast<size_t>(index) >= queue.size() || queue[index]->id != id) {
        return;
    }
    std::swap(queue[index - 1], queue[index]);
}

void SongMan::RemoveQSong(int32_t index, int32_t id) {
    platform::RecursiveMutexLock guard(lock);
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
    platform::RecursiveMutexLock guard(lock);
    queue.clear();
}

void SongMan::Next() {
    Song* following = nullptr;
    {
        platform::RecursiveMutexLock guard(lock);
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
        following = queue.front();
    }
    PlaySong(following);
}

void SongMan::ToggleRandomPlay() {
    bool start = false;
    {
        platform::RecursiveMutexLock guard(lock);
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
    EnsurePlayer();
    g_player->PlayUrl(GetSongFilePath(song));
    {
        platform::RecursiveMutexLock guard(lock);
        current_song = song;
    }
    PublishAudioSource();
}

int SongMan::Control(int code, intptr_t arg) {
    switch (static_cast<SongManCommand>(code)) {
    case SongManCommand::QueueSongs:
        QueueSongs(ArgumentText(arg));
        break;
    case SongManCommand::Next:
        Next();
        break;
    case SongManCommand::Jump:
        Jump(static_cast<int32_t>(arg));
        break;
    case SongManCommand::ChangeVolume:
        ChangeVolume(static_cast<int32_t>(arg));
        break;
    case SongManCommand::PlayPause:
        PlayPause();
        break;
    case SongManCommand::ToggleRandomPlay:
        ToggleRandomPlay();
        break;
    case SongManCommand::SetAudioSource:
        SetAudioSource(ArgumentText(arg));
        break;
    case SongManCommand::MoveQSongFront: {
        const QueuePosition at = UnpackQueuePosition(arg);
        MoveQSongFront(at.index, at.id);
        break;
    }
    case SongManCommand::MoveQSongUp: {
        const QueuePosition at = UnpackQueuePosition(arg);
        MoveQSongUp(at.index, at.id);
        break;
    }
    case SongManCommand::RemoveQSong: {
        const QueuePosition at = UnpackQueuePosition(arg);
        RemoveQSong(at.index, at.id);
        break;
    }
    case SongManCommand::ClearQueue:
        ClearQueue();
        break;
    case SongManCommand::SetSetting: {
        const std::wstring text = ArgumentText(arg);
        const size_t equals = text.find(L'=');
        const std::wstring key = text.substr(0, equals);
        const std::wstring value = equals == std::wstring::npos ? std::wstring() : text.substr(equals + 1);
        if (g_settings != nullptr) {
            g_settings->Set(key, value);
        }
        break;
    }
    default:  // any other code does nothing
        break;
    }
    return 0;
}
