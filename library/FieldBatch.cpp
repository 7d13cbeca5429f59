#include "library/FieldBatch.h"

#include <cwchar>

#include "library/IndexFile.h"
#include "platform/CodePage.h"

namespace index_loading {

FieldBatch::FieldBatch(size_t fieldLimit, size_t byteLimit) : m_fieldLimit(fieldLimit), m_byteLimit(byteLimit) {
    m_bytes.reserve(m_byteLimit + 2 * (kMaxPiece + 1));
    m_byteEnds.reserve(m_fieldLimit);
    m_wideEnds.reserve(m_fieldLimit);
}

void FieldBatch::Convert() {
    m_wide = platform::MultiByteToWide(platform::CP_GBK, m_bytes);
    m_wideEnds.clear();
    const wchar_t* const base = m_wide.data();
    const wchar_t* at = base;
    const wchar_t* const end = base + m_wide.size();
    for (size_t i = 0; i < m_byteEnds.size(); ++i) {
        const wchar_t* lf = std::wmemchr(at, L'\n', static_cast<size_t>(end - at));
        if (lf == nullptr) lf = end;  // cannot happen: every field is followed by its line feed
        at = lf == end ? end : lf + 1;
        m_wideEnds.push_back(static_cast<size_t>(at - base));
    }
}

}  // namespace index_loading
