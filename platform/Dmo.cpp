#include "platform/Dmo.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace platform {

HRESULT MoInitMediaType(DMO_MEDIA_TYPE* type, DWORD formatBytes) {
    if (type == nullptr) return E_POINTER;
    *type = DMO_MEDIA_TYPE{};
    if (formatBytes == 0) return S_OK;
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(formatBytes));
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memset(block, 0, formatBytes);
    type->pbFormat = block;
    type->cbFormat = formatBytes;
    return S_OK;
}

HRESULT MoCopyMediaType(DMO_MEDIA_TYPE* dest, const DMO_MEDIA_TYPE* src) {
    if (dest == nullptr || src == nullptr) return E_POINTER;
    DMO_MEDIA_TYPE copy = *src;
    copy.pbFormat = nullptr;
    copy.cbFormat = 0;
    if (src->cbFormat != 0 && src->pbFormat != nullptr) {
        copy.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (copy.pbFormat == nullptr) {
            *dest = DMO_MEDIA_TYPE{};
            return E_OUTOFMEMORY;
        }
        std::memcpy(copy.pbFormat, src->pbFormat, src->cbFormat);
        copy.cbFormat = src->cbFormat;
    }
    if (copy.pUnk != nullptr) copy.pUnk->AddRef();
    *dest = copy;
    return S_OK;
}

HRESULT MoFreeMediaType(DMO_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    if (type->pUnk != nullptr) {
        type->pUnk->Release();
        type->pUnk = nullptr;
    }
    CoTaskMemFree(type->pbFormat);
    type->pbFormat = nullptr;
    type->cbFormat = 0;
    return S_OK;
}

HRESULT MoCreateMediaType(DMO_MEDIA_TYPE** type, DWORD formatBytes) {
    if (type == nullptr) return E_POINTER;
    *type = nullptr;
    auto* record = static_cast<DMO_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(DMO_MEDIA_TYPE)));
    if (record == nullptr) return E_OUTOFMEMORY;
    new (record) DMO_MEDIA_TYPE{};
    const HRESULT hr = MoInitMediaType(record, formatBytes);
    if (FAILED(hr)) {
        CoTaskMemFree(record);
        return hr;
    }
    *type = record;
    return S_OK;
}

HRESULT MoDeleteMediaType(DMO_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    MoFreeMediaType(type);
    CoTaskMemFree(type);
    return S_OK;
}

HRESULT MoDuplicateMediaType(DMO_MEDIA_TYPE** dest, const DMO_MEDIA_TYPE* src) {
    if (dest == nullptr || src == nullptr) return E_POINTER;
    *dest = nullptr;
    auto* record = static_cast<DMO_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(DMO_MEDIA_TYPE)));
    if (record == nullptr) return E_OUTOFMEMORY;
    new (record) DMO_MEDIA_TYPE{};
    const HRESULT hr = MoCopyMediaType(record, src);
    if (FAILED(hr)) {
        CoTaskMemFree(record);
        return hr;
    }
    *dest = record;
    return S_OK;
}

namespace {

// IMediaBuffer over an owned array. The reference count is atomic; the contents are not guarded
// (one streaming thread uses a buffer at a time).
class MemoryBuffer final : public SingleInterfaceObject<IMediaBuffer, IID_IMediaBuffer> {
public:
    explicit MemoryBuffer(DWORD maxLength) : data_(new (std::nothrow) BYTE[maxLength == 0 ? 1 : maxLength]),
                                             maxLength_(maxLength) {}
    MemoryBuffer(const MemoryBuffer&) = delete;
    MemoryBuffer& operator=(const MemoryBuffer&) = delete;

    bool Valid() const { return data_ != nullptr; }

    HRESULT SetLength(DWORD length) override {
        if (length > maxLength_) return E_INVALIDARG;
        length_ = length;
        return S_OK;
    }
    HRESULT GetMaxLength(DWORD* maxLength) override {
        if (maxLength == nullptr) return E_POINTER;
        *maxLength = maxLength_;
        return S_OK;
    }
    HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) override {
        if (buffer == nullptr && length == nullptr) return E_POINTER;
        if (buffer != nullptr) *buffer = data_.get();
        if (length != nullptr) *length = length_;
        return S_OK;
    }

private:
    ~MemoryBuffer() override = default;

    std::unique_ptr<BYTE[]> data_;  // constant after construction (the pointer; contents change)
    const DWORD maxLength_;
    DWORD length_ = 0;
};

}  // namespace

HRESULT CreateMemoryBuffer(DWORD maxLength, IMediaBuffer** buffer) {
    if (buffer == nullptr) return E_POINTER;
    *buffer = nullptr;
    auto* created = new (std::nothrow) MemoryBuffer(maxLength);
    if (created == nullptr) return E_OUTOFMEMORY;
    if (!created->Valid()) {
        created->Release();
        return E_OUTOFMEMORY;
    }
    *buffer = created;
    return S_OK;
}

}  // namespace platform
