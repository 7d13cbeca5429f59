// SongMan: the catalogue manager. One object holds the whole in-memory catalogue (songs, albums, artists),
// the play queue and a little playback state; the application creates it once at start-up (g_songMan),
// fills it with Reload and destroys it at exit. Web pages, the automation object and the player window
// all reach the catalogue through it.
//
// Ownership. `albums`, `artists` and `songs` own every record; `sorted_song_lists` owns the sorted lists
// (not the songs); each QueryCache owns its result lists. Every other holder (the maps, `queue`,
// `current_song`, lists handed out by queries) keeps plain pointers that are valid until the next Reload.
//
// Locking. `lock` is the one catalogue lock, recursive.
//   - Reload holds it from start to end, so no reader sees a half-built catalogue.
//   - Web workers hold it for the whole request while they read the catalogue, queries included (query
//     results are cached lists that must not be read after the lock is released).
//   - The queue operations run on the GUI thread and take it while they change the queue; the player's
//     end-of-media handler takes it around Next.
//   - No thread may hold it while it waits for the GUI thread (the GUI thread itself waits for it).
// Fields are public: they are plain catalogue data that the other parts of the subsystem read and write
// under `lock`.
//
// Threads: Reload and every queue, audio source and renaming operation run on the GUI thread; queries
// and read-only accessors run on web workers and the GUI thread, always with `lock` held.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library/FileEnumerater.h"
#include "library/PinyinColumns.h"
#include "library/Records.h"
#include "library/SearchIndex.h"
#include "platform/ThreadAnnotations.h"

struct SongIndexReading;  // a song index being read on a helper thread (library/SongIndexReader.h)

class SongMan final : public nutl::FileEnumerater<std::wstring> {
public:
    // Empty catalogue, both cache capacities 1, no current song, random play off; audio_source from the
    // setting "pref:AudioSource" (default "karaoke"; a name not in the table gives 0). Reads g_settings
    // when it is set.
    SongMan();
    ~SongMan() override;
    SongMan(const SongMan&) = delete;
    SongMan& operator=(const SongMan&) = delete;

    // ---- loading (library/IndexLoader.cpp; the user folders in UserFolderScan.cpp, paths in SongFilePath.cpp)

    // Rebuilds the whole catalogue under `lock`: empties every container (deleting the records), both
    // caches and the queue (current_song is cleared with it), then LoadIndex on the index directory
    // ("setting:MtvIndexDir"). True when both index files were read.
    bool Reload();
    // Artists from dir + "\singer.csv", songs from dir + "\Songs.csv", then the user folders, then prunes
    // artists without songs and sorts the albums by dir. Stops early (false) when an index file cannot be
    // opened; what was loaded until then stays.
    bool LoadIndex(const std::wstring& dir);
    // The artist index; false when the file cannot be opened. Stores "perf:LoadArtists".
    bool LoadArtists(const std::wstring& file);
    // The artist index's records, into `artists` and `made` (in line order), without the two maps; false
    // when the file cannot be opened. Stores "perf:LoadArtists".
    bool LoadArtistRecords(const std::wstring& file, std::vector<Artist*>* made);
    // Enters artists made from the artist index into artists_by_id and artists_by_name, in line order as
    // far as what wins is concerned (a later line wins a shared name or id). LoadIndex runs it on a helper
    // thread while the songs load; it reads only the artists' ids and names.
    void EnterArtists(const std::vector<Artist*>& made);
    // The song index into the album "VOD"; false when the file cannot be opened. Stores
    // "perf:LoadVodMtvIndex".
    bool LoadVodMtvIndex(const std::wstring& file);
    // The same, taking the songs from a reading of the file that LoadIndex started early (null: start
    // one here), and finding the artists among `artistsInLineOrder` (the artist index's records, in line
    // order) instead of artists_by_id when given.
    bool LoadVodMtvIndex(const std::wstring& file, SongIndexReading* started,
                         const std::vector<Artist*>* artistsInLineOrder = nullptr);
    // Walks the folders of "setting:UserMtvRootDir" (";"-separated) into the catalogue through OnFile.
    // Stores "perf:LoadUserMtvIndex" when the setting is not empty.
    void LoadUserMtvIndex();
    // The walker's per-file hook: a file with a user media extension becomes a song of a folder album.
    void OnFile(const std::wstring& path, uint32_t size, uint32_t attributes, uint64_t creation_time,
                uint64_t access_time, uint64_t write_time) override;
    // Derives artist text, album name and song name from a folder name and a file title.
    static void SplitTitle(const std::wstring& folder, const std::wstring& title, std::wstring* artist,
                           std::wstring* album, std::wstring* song);
    // Sets song->artist_ref from song->artist and counts the song for every artist it names.
    void LinkArtists(Song* song);
    // The artist with exactly this name, or a new one (next free id, category and region 0).
    Artist* FindArtist(const std::wstring& name);
    // Removes (and deletes) every artist with song_count 0.
    void PruneArtists();
    // A blank song record (as a new Song) for the loader: during Reload the next record of the replaced
    // catalogue (see reusable_songs), else a new one. Not yet in `songs`.
    Song* NewSong();
    // The absolute media path of a song: full_path, else the root "setting:MtvRootDir" + path, else
    // "setting:NaduMtvRootDir" + "<album dir>\<artist>-<name>.avi". Empty for a null song.
    std::wstring GetSongFilePath(const Song* song) const;

    // ---- accessors (library/SongMan.cpp) ------------------------------------------------------------

    int32_t GetAlbumCount() const;
    // Null when index is negative or not below the count.
    Album* GetAlbum(int32_t index) const;

    // Property lookups by external name (ASCII letter case ignored), for the automation object.
    enum class PropertyResult { ok, no_record, unknown_name };
    // "name", "artist", "album", "audio_type", "ext", "id".
    static PropertyResult GetSongProperty(const Song* song, const std::wstring& prop, std::wstring* value);
    // "name", "artist", "dir", "song_count".
    static PropertyResult GetAlbumProperty(const Album* album, const std::wstring& prop,
                                           std::wstring* value);

    // ---- queries (library/SongManQuery.cpp); call with `lock` held --------------------------------------

    // The songs matching `query` in the order named by `sort_name`. The list belongs to
    // song_query_cache: never free it, never read it after releasing `lock`.
    std::vector<Song*>* QuerySongs(const std::wstring& query, const std::wstring& sort_name);
    // A new list (caller owns it) of the songs of `base` that match `query`, in base order. A plain scan:
    // QuerySongs gives the same answers from search_index once the index of the catalogue is made.
    std::vector<Song*>* FilterSongs(const std::wstring& query, const std::vector<Song*>& base);
    // The pinyin search ("py" on the web pages): like QuerySongs, but a term matches a song's title,
    // artist text or album name by its text with letter case, fullwidth forms and traditional characters
    // folded, or by pinyin (library/ChineseText.h). Shares song_query_cache with QuerySongs under keys of
    // its own; the list belongs to that cache.
    std::vector<Song*>* QueryPinyinSongs(const std::wstring& query, const std::wstring& sort_name);
    // What both do: the cache, the sorted list of the order, and the search of the given kind.
    std::vector<Song*>* QueryOfKind(SearchIndex::Kind kind, const std::wstring& query, const std::wstring& sort_name);
    // The pinyin search as a plain scan of `base` (used when there is no index; the index files' pinyin
    // columns are not known here). A new list that the caller owns.
    std::vector<Song*>* FilterPinyinSongs(const std::wstring& query, const std::vector<Song*>& base);
    // The artists matching the category/region names of `filter`, in the order of `sort_name`; owned by
    // artist_query_cache like QuerySongs' lists.
    std::vector<Artist*>* QueryArtists(const std::wstring& filter, const std::wstring& sort_name);
    // A new list (caller owns it) of the artists of `base` that match `filter`, in base order.
    std::vector<Artist*>* FilterArtists(const std::wstring& filter, const std::vector<Artist*>& base);
    // Makes search_text and search_offsets for the songs now loaded.
    void BuildSearchText();

    // ---- queue and play control (library/SongManQueue.cpp); GUI thread ------------------------------

    void QueueSong(int32_t id, bool begin);
    void QueueSongs(const std::wstring& text);
    // Both take `lock` themselves; the song stays valid until the next Reload.
    int32_t GetQSongCount() const;
    Song* GetQSong(int32_t index) const;
    void MoveQSongFront(int32_t index, int32_t id);
    void MoveQSongUp(int32_t index, int32_t id);
    void RemoveQSong(int32_t index, int32_t id);
    void ClearQueue();
    void Next();
    void ToggleRandomPlay();
    void PlaySong(Song* song);
    // The numbered command interface (codes 0 to 11) behind WM_SONGMAN_COMMAND; returns 0.
    int Control(int code, intptr_t arg);

    // ---- audio source (player/AudioSource.cpp); GUI thread ----------------------------------------------

    // Index of the name in kAudioSourceNames (exact match), 0 when none.
    static int32_t ParseAudioSource(const std::wstring& name);
    void SetAudioSource(const std::wstring& name);
    std::wstring AudioSourceName() const;
    std::wstring AudioSourceDisplayName() const;
    void PublishAudioSource();

    // ---- renaming tool (library/RenameTool.cpp); GUI thread, does not take `lock` -----------------------

    // Renames the files directly in `folder` after an album description; returns the log's text.
    std::wstring RenameFolder(const std::wstring& folder, const std::wstring& description);
    // Renames the folder of album `index` ("mtv", "org" or "mp3" chooses dir, dir_org or dir_mp3), or of
    // every described album when index is negative.
    void RenameAlbum(int32_t index, const std::wstring& type);

    // ---- state ----------------------------------------------------------------------------------------------
    // Everything below is guarded by `lock`, except where noted. The queue and play state, which the GUI
    // thread changes while web workers and automation clients read them, say so with GUARDED_BY and the
    // thread-checked build holds every use to it. The catalogue containers change only in Reload (GUI
    // thread, lock held throughout); their readers are the page renderers and queries of a request that
    // took the lock at its start, so they follow the rule above by structure rather than annotation.

    mutable platform::RecursiveMutex lock;           // the catalogue lock (see above)
    autoreleaselist<Album> albums;                   // owns every catalogue album; sorted by dir after load
    std::map<std::wstring, Album*> albums_by_name;   // folder albums only ("VOD" is not entered)
    autoreleaselist<Artist> artists;                 // owns every artist
    std::map<std::wstring, Artist*> artists_by_name; // exact names; a later index line wins
    std::map<int32_t, Artist*> artists_by_id;        // a later index line wins
    QueryCache<Artist> artist_query_cache;           // capacity 1, then 100 after every Reload
    autoreleaselist<Song> songs;                     // owns every song; songs[n]->id == n
    // One slot per song sort order (0 to 3), null until first asked for. No slots before the first
    // Reload, four (null) slots after every Reload.
    autoreleaselist<std::vector<Song*>> sorted_song_lists;
    QueryCache<Song> song_query_cache;               // capacity 1
    std::vector<Song*> queue GUARDED_BY(lock);       // not owning; element 0 is playing
    std::wstring rename_log_path;                    // GUI thread only; empty until the tool is first used
    int32_t audio_source GUARDED_BY(lock) = 0;       // code into kAudioSourceNames
    int32_t max_artist_id = 0;                       // largest artist id seen or assigned
    Song* current_song GUARDED_BY(lock) = nullptr;   // last song handed to the player; cleared by Reload
    std::wstring next_script GUARDED_BY(lock);       // script mailbox of the automation object
    bool random_play GUARDED_BY(lock) = false;
    // Counts the Reloads so far. Records change only in Reload, so text rendered from the catalogue stays
    // right for as long as this number stays the same (the web pages keep rendered song lists by it).
    uint64_t generation = 0;

    // What searches look in, made on the first search after a Reload (SongManQuery.cpp): for every
    // song, in id order, its artist text, album name, title and extension with A-Z folded to a-z, each
    // followed by a zero character, all in one block; song n's part starts at search_offsets[n]. One
    // block read in order costs a search far fewer cache misses than four separate strings per song.
    // Reload empties both. Guarded by `lock`.
    std::vector<wchar_t> search_text;
    std::vector<uint32_t> search_offsets;

    // What QuerySongs and QueryPinyinSongs read instead of scanning: the prepared song orders and the
    // distinct texts of every field. Reload empties it and, once the catalogue is loaded, starts
    // index_builder, which makes the new index from the records while Reload returns and requests come
    // (the records do not change between Reloads; the rename tool, which changes albums, first waits for
    // the builder). The builder leaves its index in built_index; a query under `lock` adopts it into
    // search_index (AdoptSearchIndex), and until then searches scan, with the same answers.
    // pinyin_columns holds the index files' pinyin columns until the builder takes them. search_index,
    // pinyin_columns and index_builder (started and joined only under `lock`) are guarded by `lock`;
    // built_index by index_mutex, which is never held while waiting for anything else.
    SearchIndex search_index;
    PinyinColumns pinyin_columns;
    std::thread index_builder;
    platform::Mutex index_mutex;
    std::unique_ptr<SearchIndex> built_index GUARDED_BY(index_mutex);
    // Under `lock`: takes the builder's index if it is done (or, with `wait`, once it is done). True when
    // search_index covers the catalogue afterwards.
    bool AdoptSearchIndex(bool wait);
    // End of Reload, under `lock`: starts index_builder on the loaded catalogue.
    void StartSearchIndex();

    // Reload keeps the song records of the catalogue it replaces and the loader refills them in load order
    // (NewSong), instead of freeing ~100,000 records with their strings and allocating them all again,
    // which also hands the memory back to the system only to fault it in afresh. reusable_songs_next is
    // the next slot to take; a taken slot is set to null. Empty outside Reload: what is left over is deleted
    // before Reload returns. Guarded by `lock`. AddressSanitizer builds delete every record at once instead,
    // so that a song pointer kept across a Reload is still reported there.
    autoreleaselist<Song> reusable_songs;
    size_t reusable_songs_next = 0;
};
