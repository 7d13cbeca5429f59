#include "library/SongIndexReader.h"

#include <exception>
#include <string_view>

#include "core/Text.h"
#include "library/IndexFields.h"
#include "library/Records.h"

namespace index_loading {
namespace {

// Converts a filled chunk's texts and encodes its paths as the song records keep them.
void Finish(SongChunk* chunk) {
    chunk->texts.Convert();
    chunk->paths.clear();
    chunk->path_ends.clear();
    for (size_t k = 0; k < chunk->songs.size(); ++k) {
        std::wstring_view path = chunk->texts.Text(2 * k + 1);
        if (path.substr(0, 5) == L"\\mtv\\") path.remove_prefix(5);
        RecordPath::AppendEncoded(path, &chunk->paths);
        chunk->path_ends.push_back(static_cast<uint32_t>(chunk->paths.size()));
    }
}

// The reader's side: every line of the song index with enough fields (the header skipped) into chunks,
// in order. Uses only the file and the pipe; never the catalogue.
void ReadSongChunks(IndexFile& index, SongChunkPipe& pipe) {
    try {
        SongChunk* chunk = pipe.TakeFree();
        bool header = true;  // the first line read is the header
        std::string_view fields[kSongFields];  // made once: setting up the array per line shows in profiles
        ForEachLine(index, [&](std::string_view line) {
            if (chunk == nullptr) return;  // cancelled: the rest of the file is skipped unread
            if (header) {
                header = false;
                return;
            }
            if (SplitFields(line, fields, kSongFields) < kSongFields) return;
            chunk->columns.append(FieldText(fields[2]));
            chunk->songs.push_back({ParseLeadingInt(fields[4]),
                                    ParseLeadingInt(fields[9]) == 1 ? left_karaoke : right_karaoke,
                                    static_cast<uint32_t>(chunk->columns.size())});
            chunk->texts.Add(FieldText(fields[1]));
            chunk->texts.Add(FieldText(fields[13]));
            if (chunk->texts.Full()) {
                Finish(chunk);
                pipe.PutFilled(chunk);
                chunk = pipe.TakeFree();
            }
        });
        if (chunk != nullptr) {
            Finish(chunk);
            pipe.PutFilled(chunk);  // possibly empty; the loader takes it like any other
        }
        pipe.Finish(nullptr);
    } catch (...) {
        pipe.Finish(std::current_exception());
    }
}

}  // namespace
}  // namespace index_loading

bool SongIndexReading::Start(const std::wstring& file) {
    if (!index.Open(file)) return false;
    reader.emplace(pipe, "sinjo-songs", [this] { index_loading::ReadSongChunks(index, pipe); });
    return true;
}
