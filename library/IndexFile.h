// IndexFile: reads an index file (library/IndexLoader.cpp) a piece at a time, the way a text-mode stream
// read with a 259-byte line buffer sees it: a carriage return just before a line feed is dropped, a line
// is at most 258 bytes (a longer one arrives in pieces of 258 bytes, each a line of its own), and the
// line feed stays at the end of the piece it ends. A zero byte ends the text of its line (the rest of
// that piece is lost, as with a C string).
//
// The file is read in blocks of 64 KiB into one buffer, and pieces are handed out as views into it, so a
// line costs no copy. Every piece is followed by kSlack readable bytes, so that the field splitter
// (IndexFields.h) can look at whole 64-byte blocks.
//
// Threads: one object is used by one thread at a time (the song index's reader thread, or the loading
// thread for the artist index).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace index_loading {

constexpr size_t kMaxPiece = 258;

class IndexFile final {
public:
    IndexFile() = default;
    ~IndexFile();
    IndexFile(const IndexFile&) = delete;
    IndexFile& operator=(const IndexFile&) = delete;

    // Opens the file; false when it cannot be opened.
    bool Open(const std::wstring& path);

    uint64_t Size() const { return m_size; }

    // One piece: at most 258 bytes, ending with its line feed if it has one. `text` is the part before
    // the first zero byte (all of it when there is none).
    struct Piece {
        std::string_view bytes;
        std::string_view text;
    };

    // Every piece that the buffer now holds whole, in order (at least one unless the file has ended);
    // false at the end. The views stay valid until the next call.
    bool NextPieces(std::vector<Piece>* pieces);

    // Every piece is followed by at least this many bytes of the buffer that may be read (and mean
    // nothing), so that SplitFields can look at whole blocks without copying a line's last bytes.
    static constexpr size_t kSlack = 64;

private:
    static constexpr size_t kChunk = 1 << 16;  // bytes read from the file at a time

    // Moves what is left to the front and appends translated bytes until a whole piece is available or
    // the file ends.
    void Fill();

    FILE* m_file = nullptr;     // owned
    uint64_t m_size = 0;        // the file's size when it was opened
    std::vector<char> m_buffer; // translated bytes; m_begin..m_end not yet handed out
    size_t m_begin = 0;
    size_t m_end = 0;
    bool m_eof = false;
    bool m_pendingCR = false;   // the last byte read was a carriage return, held back
};

// Calls handle(std::string_view) with the text of every line (piece) of the file, in order: its bytes up
// to the first zero byte, the line feed that ends it included.
template <class Handler>
void ForEachLine(IndexFile& file, Handler handle) {
    std::vector<IndexFile::Piece> pieces;
    while (file.NextPieces(&pieces)) {
        for (const IndexFile::Piece& piece : pieces) handle(piece.text);
    }
}

}  // namespace index_loading
