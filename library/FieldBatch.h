// FieldBatch: many index fields converted from code page 936 in one call (library/IndexLoader.cpp).
//
// Threads: one object is used by one thread at a time; the song index's chunks hand theirs from the
// reader thread to the loading thread (SongIndexReader.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace index_loading {

// The text fields of many lines, converted from code page 936 in one call: the fields are joined with line
// feeds, converted together and cut apart again at the line feeds. A field never holds a line feed (the
// one that ends a line is taken off first), a line feed is a single byte outside every double-byte
// character, and a bad lead byte just before it becomes one "?" without taking it; so every field comes
// out exactly as if it had been converted alone, while the converter's per-call cost is paid once a batch.
// A batch is full (see Full) at a number of fields or of bytes set by its user: small batches stay in the
// processor's caches from conversion to use, large ones pay for handing them to another thread only once.
class FieldBatch final {
public:
    // Full at `fieldLimit` fields or `byteLimit` bytes.
    FieldBatch(size_t fieldLimit, size_t byteLimit);
    FieldBatch(const FieldBatch&) = delete;
    FieldBatch& operator=(const FieldBatch&) = delete;

    // Queues a field's bytes, which hold no line feed; its number in the batch is Count() before the call.
    void Add(std::string_view bytes) {
        m_bytes.append(bytes);
        m_bytes.push_back('\n');
        m_byteEnds.push_back(m_bytes.size());
    }

    size_t Count() const { return m_byteEnds.size(); }
    // Time to convert: enough fields to make the call's cost vanish, before the buffers grow large.
    bool Full() const { return m_byteEnds.size() >= m_fieldLimit || m_bytes.size() >= m_byteLimit; }

    // Converts every queued field; Text and Bytes are valid until Clear.
    void Convert();

    // Field `i` converted, and its bytes, both without the joining line feed.
    std::wstring_view Text(size_t i) const {
        const size_t begin = i == 0 ? 0 : m_wideEnds[i - 1];
        const size_t end = m_wideEnds[i];
        return std::wstring_view(m_wide).substr(begin, end > begin ? end - begin - 1 : 0);
    }
    std::string_view Bytes(size_t i) const {
        const size_t begin = i == 0 ? 0 : m_byteEnds[i - 1];
        return std::string_view(m_bytes).substr(begin, m_byteEnds[i] - begin - 1);
    }

    void Clear() {
        m_bytes.clear();
        m_byteEnds.clear();
        m_wideEnds.clear();
    }

private:
    const size_t m_fieldLimit;        // Full at this many fields
    const size_t m_byteLimit;         // or at this many bytes

    std::string m_bytes;              // the queued fields, each followed by a line feed
    std::vector<size_t> m_byteEnds;   // end of each field's line feed in m_bytes
    std::wstring m_wide;              // m_bytes converted
    std::vector<size_t> m_wideEnds;   // end of each field's line feed in m_wide
};

}  // namespace index_loading
