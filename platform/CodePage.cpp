#include "platform/CodePage.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <vector>

namespace platform {
namespace {

// iconv's name for the wide side: glibc's host-order UCS-4, which is what wchar_t holds here.
constexpr const char* kWideCharset = "WCHAR_T";

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);  // iconv_open's failure value

const char* CharsetName(unsigned codePage) {
    switch (codePage) {
        case CP_GBK: return "CP936";
        case CP_BIG5: return "CP950";
        case CP_UTF8: return "UTF-8";
        default: return nullptr;
    }
}

// Index of a supported code page in the per-thread descriptor table.
int SlotOf(unsigned codePage) {
    switch (codePage) {
        case CP_GBK: return 0;
        case CP_BIG5: return 1;
        case CP_UTF8: return 2;
        default: return -1;
    }
}

// The iconv descriptors of one thread, opened on first use and closed when the thread ends.
// iconv descriptors carry conversion state, so they must never be shared between threads; keeping
// one set per thread makes a conversion of a short text cost no iconv_open.
class DescriptorCache final {
public:
    DescriptorCache() = default;
    DescriptorCache(const DescriptorCache&) = delete;
    DescriptorCache& operator=(const DescriptorCache&) = delete;
    ~DescriptorCache() {
        for (auto& pair : slots_) {
            if (pair.toWide != kNoDescriptor) iconv_close(pair.toWide);
            if (pair.fromWide != kNoDescriptor) iconv_close(pair.fromWide);
        }
    }

    // A descriptor reset to its initial state, or kNoDescriptor when iconv cannot convert.
    iconv_t ToWide(unsigned codePage) { return Get(codePage, true); }
    iconv_t FromWide(unsigned codePage) { return Get(codePage, false); }

private:
    struct Pair {
        iconv_t toWide = kNoDescriptor;
        iconv_t fromWide = kNoDescriptor;
        bool toWideTried = false;
        bool fromWideTried = false;
    };

    iconv_t Get(unsigned codePage, bool toWide) {
        const int slot = SlotOf(codePage);
        if (slot < 0) return kNoDescriptor;
        Pair& pair = slots_[slot];
        iconv_t& cd = toWide ? pair.toWide : pair.fromWide;
        bool& tried = toWide ? pair.toWideTried : pair.fromWideTried;
        if (!tried) {
            tried = true;
            const char* name = CharsetName(codePage);
            cd = toWide ? iconv_open(kWideCharset, name) : iconv_open(name, kWideCharset);
        }
        if (cd != kNoDescriptor) iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return cd;
    }

    Pair slots_[3];
};

// The calling thread's cache. Thread-exit destructors run in no promised order, and static
// destructors of the main thread run after its thread-local ones, so a conversion may come after the
// cache is gone; it then gets a cache of its own for that one call (the `spare`).
thread_local DescriptorCache* t_cache = nullptr;
thread_local bool t_cacheGone = false;

struct CacheOwner final {
    CacheOwner() = default;
    CacheOwner(const CacheOwner&) = delete;
    CacheOwner& operator=(const CacheOwner&) = delete;
    ~CacheOwner() {
        delete t_cache;
        t_cache = nullptr;
        t_cacheGone = true;
    }
};
thread_local CacheOwner t_cacheOwner;

DescriptorCache& ThreadCache(std::unique_ptr<DescriptorCache>& spare) {
    if (t_cache != nullptr) return *t_cache;
    if (!t_cacheGone) {
        (void)&t_cacheOwner;  // registers the owner's destructor for this thread
        t_cache = new DescriptorCache;
        return *t_cache;
    }
    spare = std::make_unique<DescriptorCache>();
    return *spare;
}

bool IsAscii(std::string_view bytes) {
    for (unsigned char c : bytes) {
        if (c >= 0x80) return false;
    }
    return true;
}

bool IsAscii(std::wstring_view text) {
    for (wchar_t c : text) {
        if (c < 0 || c >= 0x80) return false;
    }
    return true;
}

bool IsCodePoint(wchar_t c) { return c >= 0 && static_cast<uint32_t>(c) <= 0x10FFFF; }

bool InRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// How many input bytes one "?" stands for when iconv refuses the bytes at `p`. A double-byte code
// page whose lead byte is followed by a byte of the trail range is one (unmapped) character and
// becomes one "?"; anything else costs one byte, so an ASCII byte after a bad lead byte survives.
// For UTF-8, a lead byte and the continuation bytes that follow it (up to the length it announces)
// form one broken character.
size_t InvalidSequenceLength(unsigned codePage, const unsigned char* p, size_t left) {
    if (left < 2) return left;
    const unsigned char lead = p[0];
    const unsigned char trail = p[1];
    switch (codePage) {
        case CP_GBK:
            if (InRange(lead, 0x81, 0xFE) && (InRange(trail, 0x40, 0x7E) || InRange(trail, 0x80, 0xFE))) {
                return 2;
            }
            return 1;
        case CP_BIG5:
            if (InRange(lead, 0x81, 0xFE) && (InRange(trail, 0x40, 0x7E) || InRange(trail, 0xA1, 0xFE))) {
                return 2;
            }
            return 1;
        case CP_UTF8: {
            size_t expected = 1;
            if (InRange(lead, 0xC2, 0xDF)) {
                expected = 2;
            } else if (InRange(lead, 0xE0, 0xEF)) {
                expected = 3;
            } else if (InRange(lead, 0xF0, 0xF4)) {
                expected = 4;
            }
            size_t n = 1;
            while (n < expected && n < left && InRange(p[n], 0x80, 0xBF)) ++n;
            return n;
        }
        default:
            return 1;
    }
}

// Code page 936 for every character of the Basic Multilingual Plane, worked out once through iconv:
// the pages turn thousands of short catalogue texts into code page 936 for every request, and a table
// look-up costs a fraction of an iconv call. An entry is 0 for a character the code page lacks, a value
// up to 0xFF for a single byte, else the two bytes (lead byte high).
class GbkEncodeTable {
public:
    GbkEncodeTable() : codes_(0x10000, 0) {
        iconv_t cd = iconv_open("CP936", "WCHAR_T");
        if (cd == reinterpret_cast<iconv_t>(-1)) return;
        for (uint32_t c = 0x80; c <= 0xFFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;  // surrogates are no characters
            wchar_t in = static_cast<wchar_t>(c);
            char out[8];
            char* inPtr = reinterpret_cast<char*>(&in);
            size_t inLeft = sizeof in;
            char* outPtr = out;
            size_t outLeft = sizeof out;
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                continue;
            }
            const size_t n = sizeof out - outLeft;
            if (n == 1) {
                codes_[c] = static_cast<unsigned char>(out[0]);
            } else if (n == 2) {
                codes_[c] = static_cast<uint16_t>(static_cast<unsigned char>(out[0]) << 8 |
                                                  static_cast<unsigned char>(out[1]));
            }
        }
        iconv_close(cd);
        ready_ = true;
    }
    bool ready() const { return ready_; }

    std::string Encode(std::wstring_view text) const {
        std::string out(text.size() * 2, '\0');
        char* o = out.data();
        for (wchar_t wc : text) {
            const uint32_t c = static_cast<uint32_t>(wc);
            if (c < 0x80) {
                *o++ = static_cast<char>(c);
                continue;
            }
            const uint16_t code = c <= 0xFFFF ? codes_[c] : 0;
            if (code == 0) {
                *o++ = '?';
            } else if (code <= 0xFF) {
                *o++ = static_cast<char>(code);
            } else {
                *o++ = static_cast<char>(code >> 8);
                *o++ = static_cast<char>(code & 0xFF);
            }
        }
        out.resize(static_cast<size_t>(o - out.data()));
        return out;
    }

private:
    std::vector<uint16_t> codes_;
    bool ready_ = false;
};

const GbkEncodeTable& GbkTable() {
    static const GbkEncodeTable table;
    return table;
}

}  // namespace

bool IsSupportedCodePage(unsigned codePage) { return SlotOf(codePage) >= 0; }

std::wstring MultiByteToWide(unsigned codePage, std::string_view bytes) {
    if (!IsSupportedCodePage(codePage)) return {};
    if (IsAscii(bytes)) return std::wstring(bytes.begin(), bytes.end());

    std::unique_ptr<DescriptorCache> spare;
    iconv_t cd = ThreadCache(spare).ToWide(codePage);
    if (cd == kNoDescriptor) return {};

    // Every input byte yields at most one code point, so the output never outgrows the input.
    std::wstring out(bytes.size(), L'\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* outPtr = reinterpret_cast<char*>(out.data());
    size_t outLeft = out.size() * sizeof(wchar_t);

    while (inLeft > 0) {
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        if (rc != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            // Cannot happen by the bound above; grow rather than lose text if it ever does.
            const size_t used = out.size() - outLeft / sizeof(wchar_t);
            out.resize(out.size() + inLeft + 16);
            outPtr = reinterpret_cast<char*>(out.data() + used);
            outLeft = (out.size() - used) * sizeof(wchar_t);
            continue;
        }
        // EILSEQ (undecodable) or EINVAL (a character cut off at the end): one "?" and go on.
        const size_t skip = errno == EINVAL
            ? inLeft
            : InvalidSequenceLength(codePage, reinterpret_cast<const unsigned char*>(in), inLeft);
        if (outLeft < sizeof(wchar_t)) {  // not reachable by the bound above; stay safe regardless
            const size_t used = out.size() - outLeft / sizeof(wchar_t);
            out.resize(out.size() + inLeft + 16);
            outPtr = reinterpret_cast<char*>(out.data() + used);
            outLeft = (out.size() - used) * sizeof(wchar_t);
        }
        wchar_t question = L'?';
        std::memcpy(outPtr, &question, sizeof question);
        outPtr += sizeof question;
        outLeft -= sizeof question;
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(out.size() - outLeft / sizeof(wchar_t));
    return out;
}

std::string WideToMultiByte(unsigned codePage, std::wstring_view text) {
    if (!IsSupportedCodePage(codePage)) return {};
    if (IsAscii(text)) return std::string(text.begin(), text.end());
    if (codePage == CP_GBK && GbkTable().ready()) return GbkTable().Encode(text);

    std::unique_ptr<DescriptorCache> spare;
    iconv_t cd = ThreadCache(spare).FromWide(codePage);
    if (cd == kNoDescriptor) return {};

    // iconv writes values beyond Unicode as (invalid) four-byte UTF-8 instead of refusing them, so
    // they are replaced here, in a copy made only when one occurs.
    std::wstring cleaned;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsCodePoint(text[i])) {
            if (cleaned.empty()) cleaned.assign(text);
            cleaned[i] = L'?';
        }
    }
    if (!cleaned.empty()) text = cleaned;

    // At most four bytes per code point (UTF-8); the double-byte code pages need two.
    std::string out(text.size() * 4, '\0');
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text.data()));
    size_t inLeft = text.size() * sizeof(wchar_t);
    char* outPtr = out.data();
    size_t outLeft = out.size();

    while (inLeft > 0) {
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        if (rc != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            const size_t used = out.size() - outLeft;
            out.resize(out.size() + inLeft + 16);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        // An unmappable (or invalid) code point: one "?" for it and go on. EINVAL would mean a
        // partial wchar_t, which cannot happen with whole wchar_t input; treat it alike.
        const size_t skip = inLeft < sizeof(wchar_t) ? inLeft : sizeof(wchar_t);
        if (outLeft == 0) {  // not reachable by the bound above; stay safe regardless
            const size_t used = out.size();
            out.resize(out.size() + inLeft + 16);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
        }
        *outPtr++ = '?';
        --outLeft;
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state (none of our code pages has one, but this keeps the call complete).
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.resize(out.size() - outLeft);
    return out;
}

std::string ToUtf8(std::wstring_view text) { return WideToMultiByte(CP_UTF8, text); }

std::wstring FromUtf8(std::string_view bytes) { return MultiByteToWide(CP_UTF8, bytes); }

}  // namespace platform
