#include "platform/PropertyPage.h"
#include "platform/ThreadAnnotations.h"

#include "platform/HostServices.h"

#include <mutex>
#include <set>

namespace platform {
namespace {

constexpr LONG kBaseUnitX = 6;
constexpr LONG kBaseUnitY = 13;

// Live dialogs, for FromHandle.
struct DialogTable {
    Mutex mutex;
    std::set<PropertyDialog*> live GUARDED_BY(mutex);
};
DialogTable& Dialogs() {
    static DialogTable* table = new DialogTable;  // never destroyed: dialogs may outlive statics
    return *table;
}

LONG MulDivRound(LONG value, LONG mul, LONG div) {
    const long long product = static_cast<long long>(value) * mul;
    const long long half = div / 2;
    return static_cast<LONG>(product >= 0 ? (product + half) / div : (product - half) / div);
}

}  // namespace

SIZE DialogUnitsToPixels(LONG widthDlu, LONG heightDlu) {
    return SIZE{MulDivRound(widthDlu, kBaseUnitX, 4), MulDivRound(heightDlu, kBaseUnitY, 8)};
}

PropertyDialog::PropertyDialog(int templateId, HWND parent, const RECT& rect)
    : templateId_(templateId), parent_(parent), handle_(reinterpret_cast<HWND>(this)), rect_(rect) {
    DialogTable& table = Dialogs();
    MutexLock lock(table.mutex);
    table.live.insert(this);
}

PropertyDialog::PropertyDialog(const DialogTemplate& dialogTemplate, HWND parent, const RECT& rect)
    : PropertyDialog(dialogTemplate.id, parent, rect) {
    const HostServices* host = FindHostServices();
    if (host != nullptr && host->dialogViews != nullptr) {
        view_ = host->dialogViews->CreateView(this, handle_, parent, rect, dialogTemplate);
    }
}

PropertyDialog::~PropertyDialog() {
    if (view_ != nullptr) {
        PropertyDialogView* view = view_;
        view_ = nullptr;
        view->Destroy();
    }
    DialogTable& table = Dialogs();
    MutexLock lock(table.mutex);
    table.live.erase(this);
}

PropertyDialog* PropertyDialog::FromHandle(HWND handle) {
    DialogTable& table = Dialogs();
    MutexLock lock(table.mutex);
    for (PropertyDialog* dialog : table.live) {
        if (dialog->handle_ == handle) return dialog;
    }
    return nullptr;
}

void PropertyDialog::SetItemText(int controlId, std::wstring_view text) {
    texts_[controlId] = std::wstring(text);
    if (view_ != nullptr) view_->SetItemText(controlId, text);
}

void PropertyDialog::Show(bool show) {
    visible_ = show;
    if (view_ != nullptr) view_->Show(show);
}

void PropertyDialog::Move(const RECT& rect) {
    rect_ = rect;
    if (view_ != nullptr) view_->Move(rect);
}

std::wstring PropertyDialog::GetItemText(int controlId, size_t maxChars) const {
    auto it = texts_.find(controlId);
    if (it == texts_.end() || maxChars == 0) return {};
    return it->second.substr(0, maxChars - 1);
}

void PropertyDialog::UserEdit(int controlId, std::wstring_view text) {
    texts_[controlId] = std::wstring(text);  // the view shows it already
    if (onEditChange_) onEditChange_(controlId);
}

void PropertyDialog::SetExtendedStyle(DWORD style) {
    if (onStyleChanging_) onStyleChanging_(&style);
    extendedStyle_ = style;
}

bool PropertyDialog::IsDialogMessage(const MSG& message) const {
    if (message.hwnd != handle_) return false;
    return (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
           (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST);
}

}  // namespace platform
