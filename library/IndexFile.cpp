#include "library/IndexFile.h"

#include <algorithm>
#include <cstring>

#include "platform/FileSystem.h"

namespace index_loading {

IndexFile::~IndexFile() {
    if (m_file) fclose(m_file);
}

bool IndexFile::Open(const std::wstring& path) {
    m_file = platform::OpenFile(path, "r");
    if (m_file == nullptr) return false;
    if (fseek(m_file, 0, SEEK_END) == 0) {
        const long size = ftell(m_file);
        m_size = size > 0 ? static_cast<uint64_t>(size) : 0;
    }
    rewind(m_file);
    m_buffer.resize(kChunk + kMaxPiece + 1 + kSlack);
    return true;
}

bool IndexFile::NextPieces(std::vector<Piece>* pieces) {
    pieces->clear();
    if (m_end - m_begin < kMaxPiece && !m_eof) Fill();
    while (m_begin < m_end && (m_end - m_begin >= kMaxPiece || m_eof)) {
        const char* start = m_buffer.data() + m_begin;
        const size_t avail = std::min(kMaxPiece, m_end - m_begin);
        const void* lf = memchr(start, '\n', avail);
        const size_t length = lf ? static_cast<size_t>(static_cast<const char*>(lf) - start) + 1 : avail;
        m_begin += length;
        const void* nul = memchr(start, '\0', length);
        const size_t visible = nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) : length;
        pieces->push_back({std::string_view(start, length), std::string_view(start, visible)});
    }
    return !pieces->empty();
}

void IndexFile::Fill() {
    if (m_begin > 0) {
        memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    char raw[kChunk];
    while (m_end < kMaxPiece && !m_eof) {
        // Never read more than the buffer can take once a held-back carriage return is added.
        const size_t room = m_buffer.size() - kSlack - m_end - 1;
        const size_t got = fread(raw, 1, std::min(room, sizeof raw), m_file);
        if (got == 0) {
            m_eof = true;
            if (m_pendingCR) m_buffer[m_end++] = '\r';  // a lone carriage return at the very end
            m_pendingCR = false;
            break;
        }
        size_t i = 0;
        if (m_pendingCR) {
            m_pendingCR = false;
            if (raw[0] != '\n') m_buffer[m_end++] = '\r';
        }
        while (i < got) {
            const void* cr = memchr(raw + i, '\r', got - i);
            const size_t run = cr ? static_cast<size_t>(static_cast<const char*>(cr) - (raw + i)) : got - i;
            memcpy(m_buffer.data() + m_end, raw + i, run);
            m_end += run;
            i += run;
            if (i == got) break;
            // raw[i] is a carriage return: dropped before a line feed, kept otherwise. At the end of
            // what was read, the next read decides.
            if (i + 1 == got) {
                m_pendingCR = true;
            } else if (raw[i + 1] != '\n') {
                m_buffer[m_end++] = '\r';
            }
            ++i;
        }
    }
}

}  // namespace index_loading
