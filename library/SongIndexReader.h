// Reading the song index on a reader thread (library/IndexLoader.cpp): the reader reads, splits and
// converts the lines a chunk at a time and hands the chunks over in line order, while the loading thread
// loads the artists and then makes the song records of the chunks.
//
// Threads: SongIndexReading is made, started, read through its pipe and destroyed by the loading thread
// (the GUI thread inside Reload); its reader thread uses only the file and the pipe, never the catalogue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/ChunkPipe.h"
#include "library/FieldBatch.h"
#include "library/RecordText.h"
#include "library/IndexFile.h"

namespace index_loading {

// What the reader found on one song line with enough fields: its artist id and its channel flag. Title
// and path are the chunk's fields 2k and 2k+1. The loader looks the artist up, so the reader can start
// before the artists are loaded.
struct PendingSong {
    int32_t artist_id;
    int32_t audio_type;
    uint32_t column_end;  // end of the line's pinyin column (field 2) in SongChunk::columns
};

// The valid lines of a stretch of the song index, their texts converted. Chunks start on cache lines of
// their own: the reader fills one while the loader reads another, and two chunks sharing a line would
// make the two processors take it from each other on every song.
struct alignas(64) SongChunk {
    SongChunk() : texts(kChunkFields, kChunkBytes) {}
    // About 2,000 lines: few enough hand-overs that their cost vanishes, small enough that the loader
    // starts making songs soon after the reader starts and both stay busy.
    static constexpr size_t kChunkFields = 4096;
    static constexpr size_t kChunkBytes = 128 * 1024;

    FieldBatch texts;                // title and path of each song, in turn
    std::vector<PendingSong> songs;  // one per song of the chunk, in line order
    std::string columns;             // the songs' pinyin columns as read (ASCII), one after another
    // The songs' paths as a song record keeps them (a leading "\mtv\" dropped, RecordPath's bytes), one
    // after another, encoded here on the reader thread rather than by the loader.
    std::string paths;
    std::vector<uint32_t> path_ends;

    std::string_view Path(size_t k) const {
        const uint32_t begin = k == 0 ? 0 : path_ends[k - 1];
        return std::string_view(paths).substr(begin, path_ends[k] - begin);
    }

    // The pinyin column of the chunk's song `k`.
    std::string_view Column(size_t k) const {
        const uint32_t begin = k == 0 ? 0 : songs[k - 1].column_end;
        return std::string_view(columns).substr(begin, songs[k].column_end - begin);
    }
};

using SongChunkPipe = ChunkPipe<SongChunk>;

}  // namespace index_loading

// The song index being read on a reader thread: the open file, the pipe and the thread. Destroying it
// stops the reader and waits for it, so it may go at any point. The file's reading position changes with
// every line, so it is kept on cache lines of its own, apart from the loader's data; make it with
// std::make_unique rather than on the loader's stack.
struct SongIndexReading {
    alignas(64) index_loading::IndexFile index;
    alignas(64) index_loading::SongChunkPipe pipe;
    std::optional<ChunkReaderThread<index_loading::SongChunk>> reader;  // declared last: ends first

    // Opens `file` and starts reading it; false when it cannot be opened.
    bool Start(const std::wstring& file);
};
