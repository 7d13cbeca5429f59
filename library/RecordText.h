// RecordText: the text fields of a song record, in 8 bytes instead of std::wstring's 32.
//
// A catalogue of a million songs holds five or six texts per song. As std::wstring each costs 32 bytes in
// the record (most of them empty or copies of another record's text) and a separate buffer for anything
// longer than three characters. A RecordText is one pointer to a buffer that holds a reference count, the
// length, the capacity and the characters with a terminating zero; an empty text holds no buffer at all.
//
//   - Copying shares the buffer (the count goes up). The loader uses this for texts that many songs have
//     alike: every song of an artist shows the artist's name, and nearly all songs share a few extensions.
//   - Assigning new text writes into the buffer in place when this object is its only owner and the text
//     fits (a Reload that refills the previous catalogue's records seldom allocates); otherwise it lets
//     go of the old buffer and takes a new one. A shared buffer is never written.
//   - It converts implicitly to std::basic_string_view, and to std::basic_string for callers that want
//     an owning copy; comparisons, find, substr and concatenation work like std::basic_string's.
//
// Threads: like std::basic_string, one object must not be written while another thread uses it. The count
// is a plain number, not an atomic one: texts that share a buffer must be copied and dropped on one thread
// at a time, as the catalogue's records are (they change only under SongMan::lock, and every reader that
// copies holds it too). Reading a shared text's characters from any number of threads is fine. An atomic
// count would make every song of a million-song load wait on its artist's scattered name buffer: a
// locked increment lets nothing after it proceed until the buffer has arrived.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace record_text_detail {

// Writes one character as UTF-8, widened to take any 32-bit value: the old five- and six-byte forms beyond
// 21 bits and a seven-byte form (lead 0xFE) beyond 31, so that every wchar_t comes back exactly. Returns
// how many bytes (1 to 7) it wrote to `out`.
inline size_t EncodeUnit(uint32_t u, char* out) {
    if (u < 0x80) {
        out[0] = static_cast<char>(u);
        return 1;
    }
    size_t length;
    uint32_t lead;
    if (u < 0x800) length = 2, lead = 0xC0;
    else if (u < 0x10000) length = 3, lead = 0xE0;
    else if (u < 0x200000) length = 4, lead = 0xF0;
    else if (u < 0x4000000) length = 5, lead = 0xF8;
    else if (u < 0x80000000u) length = 6, lead = 0xFC;
    else length = 7, lead = 0xFE;
    for (size_t k = length - 1; k > 0; --k, u >>= 6) out[k] = static_cast<char>(0x80 | (u & 0x3F));
    out[0] = static_cast<char>(lead | u);  // what is left of u fits beside the lead bits
    return length;
}

}  // namespace record_text_detail

template <class Char>
class BasicRecordText final {
public:
    using view_type = std::basic_string_view<Char>;
    using string_type = std::basic_string<Char>;
    using value_type = Char;
    using size_type = size_t;
    using const_iterator = const Char*;
    static constexpr size_t npos = view_type::npos;

    BasicRecordText() noexcept = default;
    BasicRecordText(view_type text) { assign(text); }                 // NOLINT: implicit, like a string
    BasicRecordText(const string_type& text) { assign(view_type(text)); }  // NOLINT
    BasicRecordText(const Char* text) { assign(view_type(text)); }    // NOLINT
    BasicRecordText(const BasicRecordText& other) noexcept : m_buffer(other.m_buffer) { Retain(); }
    BasicRecordText(BasicRecordText&& other) noexcept : m_buffer(std::exchange(other.m_buffer, nullptr)) {}
    ~BasicRecordText() { Release(); }

    BasicRecordText& operator=(const BasicRecordText& other) noexcept {
        if (m_buffer != other.m_buffer) {
            Release();
            m_buffer = other.m_buffer;
            Retain();
        }
        return *this;
    }
    BasicRecordText& operator=(BasicRecordText&& other) noexcept {
        if (this != &other) {
            Release();
            m_buffer = std::exchange(other.m_buffer, nullptr);
        }
        return *this;
    }
    BasicRecordText& operator=(view_type text) { return assign(text); }
    BasicRecordText& operator=(const string_type& text) { return assign(view_type(text)); }
    BasicRecordText& operator=(const Char* text) { return assign(view_type(text)); }

    // Replaces the text: in place when this object alone holds a buffer large enough, else in a new one.
    // `text` may lie in this object's own buffer.
    BasicRecordText& assign(view_type text) {
        if (text.empty()) {
            clear();
            return *this;
        }
        if (m_buffer != nullptr && m_buffer->capacity >= text.size() &&
            m_buffer->refs == 1) {
            Char* chars = Chars(m_buffer);
            Traits::move(chars, text.data(), text.size());
            chars[text.size()] = Char();
            m_buffer->size = static_cast<uint32_t>(text.size());
            return *this;
        }
        Buffer* fresh = Allocate(text.size());
        Traits::copy(Chars(fresh), text.data(), text.size());
        Chars(fresh)[text.size()] = Char();
        fresh->size = static_cast<uint32_t>(text.size());
        Release();
        m_buffer = fresh;
        return *this;
    }
    BasicRecordText& assign(const string_type& text) { return assign(view_type(text)); }
    BasicRecordText& assign(const Char* text) { return assign(view_type(text)); }

    void clear() noexcept {
        Release();
        m_buffer = nullptr;
    }
    // For a loader that shares one text with very many records: ShareUncounted makes this text share
    // `from`'s buffer without counting the share, and the loader then counts all such shares of that
    // buffer at once with AddShares(n) on any text holding it, before any of them is copied or dropped.
    // Counting as it goes would touch every shared buffer once per record.
    void ShareUncounted(const BasicRecordText& from) noexcept {
        if (m_buffer == from.m_buffer) {
            if (m_buffer != nullptr) --m_buffer->refs;  // this text's own count becomes an uncounted share
            return;
        }
        Release();
        m_buffer = from.m_buffer;
    }
    void AddShares(uint32_t n) const noexcept {
        if (m_buffer != nullptr) m_buffer->refs += n;
    }

    // Empties the text but keeps a buffer that this object alone holds, for the next assign to fill.
    void Blank() noexcept {
        if (m_buffer != nullptr && m_buffer->refs == 1) {
            m_buffer->size = 0;
            Chars(m_buffer)[0] = Char();
        } else {
            clear();
        }
    }

    size_t size() const noexcept { return m_buffer == nullptr ? 0 : m_buffer->size; }
    size_t length() const noexcept { return size(); }
    bool empty() const noexcept { return m_buffer == nullptr || m_buffer->size == 0; }
    // Always terminated by a zero character.
    const Char* data() const noexcept { return m_buffer == nullptr ? Empty() : Chars(m_buffer); }
    const Char* c_str() const noexcept { return data(); }
    const Char* begin() const noexcept { return data(); }
    const Char* end() const noexcept { return data() + size(); }
    Char operator[](size_t i) const noexcept { return data()[i]; }
    Char front() const noexcept { return data()[0]; }
    Char back() const noexcept { return data()[size() - 1]; }

    view_type view() const noexcept { return view_type(data(), size()); }
    string_type str() const { return string_type(data(), size()); }
    operator view_type() const noexcept { return view(); }  // NOLINT: implicit, as std::basic_string's
    operator string_type() const { return str(); }          // NOLINT

    size_t find(view_type what, size_t from = 0) const noexcept { return view().find(what, from); }
    size_t find(Char c, size_t from = 0) const noexcept { return view().find(c, from); }
    size_t rfind(view_type what, size_t from = npos) const noexcept { return view().rfind(what, from); }
    size_t rfind(Char c, size_t from = npos) const noexcept { return view().rfind(c, from); }
    string_type substr(size_t from = 0, size_t count = npos) const { return string_type(view().substr(from, count)); }
    int compare(view_type other) const noexcept { return view().compare(other); }
    bool starts_with(view_type prefix) const noexcept { return view().starts_with(prefix); }
    bool ends_with(view_type suffix) const noexcept { return view().ends_with(suffix); }

    // Whether two records hold the very same buffer (texts shared by copying).
    bool SharesWith(const BasicRecordText& other) const noexcept { return m_buffer != nullptr && m_buffer == other.m_buffer; }

    friend bool operator==(const BasicRecordText& a, const BasicRecordText& b) noexcept {
        return a.m_buffer == b.m_buffer || a.view() == b.view();
    }
    friend bool operator==(const BasicRecordText& a, view_type b) noexcept { return a.view() == b; }
    friend bool operator==(const BasicRecordText& a, const string_type& b) noexcept { return a.view() == view_type(b); }
    friend bool operator==(const BasicRecordText& a, const Char* b) noexcept { return a.view() == view_type(b); }
    friend auto operator<=>(const BasicRecordText& a, const BasicRecordText& b) noexcept { return a.view() <=> b.view(); }
    friend auto operator<=>(const BasicRecordText& a, view_type b) noexcept { return a.view() <=> b; }
    friend auto operator<=>(const BasicRecordText& a, const string_type& b) noexcept { return a.view() <=> view_type(b); }
    friend auto operator<=>(const BasicRecordText& a, const Char* b) noexcept { return a.view() <=> view_type(b); }

    friend string_type operator+(const BasicRecordText& a, view_type b) { return Join(a.view(), b); }
    friend string_type operator+(const BasicRecordText& a, const string_type& b) { return Join(a.view(), b); }
    friend string_type operator+(const BasicRecordText& a, const Char* b) { return Join(a.view(), b); }
    friend string_type operator+(const BasicRecordText& a, Char b) { return Join(a.view(), view_type(&b, 1)); }
    friend string_type operator+(const string_type& a, const BasicRecordText& b) { return Join(a, b.view()); }
    friend string_type operator+(string_type&& a, const BasicRecordText& b) { return std::move(a.append(b.view())); }
    friend string_type operator+(const Char* a, const BasicRecordText& b) { return Join(a, b.view()); }
    friend string_type operator+(Char a, const BasicRecordText& b) { return Join(view_type(&a, 1), b.view()); }
    friend string_type& operator+=(string_type& a, const BasicRecordText& b) { return a.append(b.view()); }

    // Writes the text to a byte stream (test messages, logs): bytes as they are, wide text as UTF-8.
    friend std::ostream& operator<<(std::ostream& out, const BasicRecordText& text) {
        if constexpr (sizeof(Char) == 1) {
            return out.write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size()));
        } else {
            char bytes[8];
            for (Char c : text) out.write(bytes, static_cast<std::streamsize>(record_text_detail::EncodeUnit(static_cast<uint32_t>(c), bytes)));
            return out;
        }
    }

private:
    using Traits = std::char_traits<Char>;

    struct Buffer {
        uint32_t refs;      // the RecordTexts holding this buffer
        uint32_t size;
        uint32_t capacity;  // characters that fit, not counting the terminating zero
    };
    static_assert(sizeof(Buffer) % alignof(Char) == 0);

    static Char* Chars(Buffer* b) noexcept { return reinterpret_cast<Char*>(b + 1); }
    static const Char* Chars(const Buffer* b) noexcept { return reinterpret_cast<const Char*>(b + 1); }
    static const Char* Empty() noexcept {
        static constexpr Char kEmpty[1] = {};
        return kEmpty;
    }

    static string_type Join(view_type a, view_type b) {
        string_type joined;
        joined.reserve(a.size() + b.size());
        joined.append(a).append(b);
        return joined;
    }

    // A buffer for at least `count` characters. The size asked of the allocator is rounded up to what a
    // 16-byte-granular heap hands out anyway (8 bytes of its own bookkeeping included), and the capacity
    // takes all of it, so a later longer text often still fits.
    static Buffer* Allocate(size_t count) {
        if (count > UINT32_MAX / sizeof(Char) - 64) throw std::bad_alloc();
        size_t bytes = sizeof(Buffer) + (count + 1) * sizeof(Char);
        bytes = ((bytes + 8 + 15) & ~size_t{15}) - 8;
        void* memory = ::operator new(bytes);
        auto* b = new (memory) Buffer;
        b->refs = 1;
        b->size = 0;
        b->capacity = static_cast<uint32_t>((bytes - sizeof(Buffer)) / sizeof(Char) - 1);
        return b;
    }

    void Retain() noexcept {
        if (m_buffer != nullptr) ++m_buffer->refs;
    }
    void Release() noexcept {
        if (m_buffer != nullptr && --m_buffer->refs == 0) {
            m_buffer->~Buffer();
            ::operator delete(m_buffer);
        }
    }

    Buffer* m_buffer = nullptr;
};

// Wide text of a record (titles, artist texts, extensions, absolute paths).
using RecordText = BasicRecordText<wchar_t>;

// A song's path below the music-video root, kept as UTF-8 (a million songs' paths are the largest texts
// of a catalogue; mostly ASCII and Chinese, they take a third to two thirds of the wide form's bytes).
// Every 32-bit character survives the round trip: values beyond Unicode take the old five- and six-byte
// forms, and values beyond 31 bits a seven-byte form, so wide() gives back exactly what was assigned.
// Same threading rules as RecordText.
class RecordPath final {
public:
    RecordPath() noexcept = default;
    RecordPath(std::wstring_view text) { assign(text); }  // NOLINT: implicit, like a string
    RecordPath(const std::wstring& text) { assign(std::wstring_view(text)); }  // NOLINT
    RecordPath(const wchar_t* text) { assign(std::wstring_view(text)); }  // NOLINT
    RecordPath& operator=(std::wstring_view text) { return assign(text); }
    RecordPath& operator=(const std::wstring& text) { return assign(std::wstring_view(text)); }
    RecordPath& operator=(const wchar_t* text) { return assign(std::wstring_view(text)); }

    RecordPath& assign(std::wstring_view text) {
        std::string bytes;
        AppendEncoded(text, &bytes);
        m_bytes.assign(bytes);
        return *this;
    }

    // The bytes assign(text) would keep, appended to `out`: a loader can encode paths on another thread
    // and hand them over to AssignEncoded.
    static void AppendEncoded(std::wstring_view text, std::string* out) {
        const size_t at = out->size();
        out->resize(at + text.size() * 7);
        size_t n = 0;
        for (wchar_t c : text) n += record_text_detail::EncodeUnit(static_cast<uint32_t>(c), out->data() + at + n);
        out->resize(at + n);
    }
    // Takes bytes made by AppendEncoded.
    RecordPath& AssignEncoded(std::string_view bytes) {
        m_bytes.assign(bytes);
        return *this;
    }
    void clear() noexcept { m_bytes.clear(); }
    void Blank() noexcept { m_bytes.Blank(); }
    bool empty() const noexcept { return m_bytes.empty(); }

    // The encoded bytes (UTF-8 for any Unicode text).
    std::string_view bytes() const noexcept { return m_bytes.view(); }
    std::wstring wide() const {
        std::wstring text;
        text.reserve(m_bytes.size());
        const std::string_view b = m_bytes.view();
        for (size_t i = 0; i < b.size();) text.push_back(static_cast<wchar_t>(Decode(b, &i)));
        return text;
    }
    operator std::wstring() const { return wide(); }  // NOLINT: implicit, for callers that want the text

    friend bool operator==(const RecordPath& a, const RecordPath& b) noexcept { return a.m_bytes == b.m_bytes; }
    friend bool operator==(const RecordPath& a, std::wstring_view b) { return a == RecordPath(b); }
    friend bool operator==(const RecordPath& a, const std::wstring& b) { return a == RecordPath(b); }
    friend bool operator==(const RecordPath& a, const wchar_t* b) { return a == RecordPath(b); }
    friend std::wstring operator+(const RecordPath& a, std::wstring_view b) { return a.wide().append(b); }
    friend std::wstring operator+(const RecordPath& a, const wchar_t* b) { return a.wide().append(b); }
    friend std::wstring operator+(const std::wstring& a, const RecordPath& b) { return a + b.wide(); }
    friend std::wstring operator+(std::wstring&& a, const RecordPath& b) { return std::move(a.append(b.wide())); }
    friend std::wstring operator+(const wchar_t* a, const RecordPath& b) { return a + b.wide(); }
    friend std::ostream& operator<<(std::ostream& out, const RecordPath& path) { return out << path.m_bytes; }

private:
    // Reads the character at *at (written by EncodeUnit) and moves *at past it.
    static uint32_t Decode(std::string_view b, size_t* at) {
        const uint32_t first = static_cast<unsigned char>(b[*at]);
        size_t length = 1;
        uint32_t u = first;
        if (first >= 0xFE) length = 7, u = 0;
        else if (first >= 0xFC) length = 6, u = first & 0x01;
        else if (first >= 0xF8) length = 5, u = first & 0x03;
        else if (first >= 0xF0) length = 4, u = first & 0x07;
        else if (first >= 0xE0) length = 3, u = first & 0x0F;
        else if (first >= 0xC0) length = 2, u = first & 0x1F;
        for (size_t k = 1; k < length && *at + k < b.size(); ++k) u = (u << 6) | (static_cast<unsigned char>(b[*at + k]) & 0x3F);
        *at += length;
        return u;
    }

    BasicRecordText<char> m_bytes;
};
