// Property pages: the interfaces through which a settings frame shows an object's pages, and a small
// dialog stand-in on which a page's logic runs without a display.
//
// The frame asks an object for its pages (ISpecifyPropertyPages::GetPages), creates each page by class
// id, gives it a site (SetPageSite) and the objects to edit (SetObjects), then Activate shows the page's
// dialog inside the frame; Apply stores what the user typed; Deactivate destroys the dialog.
//
// PropertyDialog is the dialog: it holds the texts of its edit boxes by control id, a shown/hidden
// state, a rectangle and an extended style. The page sets and reads edit texts like any dialog; a
// user's typing (UserEdit, which tests and a drawing front end call) changes the text and then tells
// the page through the edit-change callback, as the edit control's change notification would. Text set
// by the program itself (SetItemText) does not notify, so filling the dialog does not count as an edit.
//
// Drawn on screen: a dialog made from a template (DialogTemplate) asks the program's dialog front end
// (HostServices, platform/HostServices.h: a desktop's, found even from a plug-in module that links its
// own copy of this library) for a view, which draws the template's controls inside the parent given to
// the page's Activate, follows SetItemText, Show and Move, and reports a person's typing back through
// the same path as UserEdit. Without a front end the dialog works as before, unseen.
//
// Threads: pages and dialogs belong to the GUI thread, like every window. Only FromHandle may be called
// from any thread; the table of live dialogs it reads is guarded by a mutex in PropertyPage.cpp.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Com.h"
#include "platform/Gui.h"

namespace platform {

struct POINT {
    LONG x;
    LONG y;
};
struct SIZE {
    LONG cx;
    LONG cy;
};
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

constexpr UINT WM_KEYFIRST = 0x0100;
constexpr UINT WM_KEYLAST = 0x0109;
constexpr UINT WM_MOUSEFIRST = 0x0200;
constexpr UINT WM_MOUSELAST = 0x020E;
constexpr UINT WM_STYLECHANGING = 0x007C;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;
constexpr UINT SW_HIDE = 0;
constexpr UINT SW_SHOWNORMAL = 1;
constexpr UINT SW_SHOW = 5;

// A counted array of GUIDs; pElems comes from CoTaskMemAlloc and the receiver frees it.
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};

// What a page tells its frame. The strings come from CoTaskMemAlloc; the frame frees them.
struct PROPPAGEINFO {
    ULONG cb;  // sizeof(PROPPAGEINFO)
    LPOLESTR pszTitle;
    SIZE size;  // pixels
    LPOLESTR pszDocString;
    LPOLESTR pszHelpFile;
    DWORD dwHelpContext;
};

// IPropertyPageSite::OnStatusChange flags
constexpr DWORD PROPPAGESTATUS_DIRTY = 0x1;
constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x2;
constexpr DWORD PROPPAGESTATUS_CLEAN = 0x4;

// The frame's side of a page.
class IPropertyPageSite : public IUnknown {
public:
    virtual HRESULT OnStatusChange(DWORD flags) = 0;
    virtual HRESULT GetLocaleID(LCID* locale) = 0;
    virtual HRESULT GetPageContainer(IUnknown** container) = 0;
    virtual HRESULT TranslateAccelerator(MSG* message) = 0;

protected:
    ~IPropertyPageSite() = default;
};

// A page, in the platform's method order.
class IPropertyPage : public IUnknown {
public:
    virtual HRESULT SetPageSite(IPropertyPageSite* site) = 0;
    virtual HRESULT Activate(HWND parent, const RECT* rect, BOOL modal) = 0;
    virtual HRESULT Deactivate() = 0;
    virtual HRESULT GetPageInfo(PROPPAGEINFO* info) = 0;
    virtual HRESULT SetObjects(ULONG count, IUnknown** objects) = 0;
    virtual HRESULT Show(UINT command) = 0;
    virtual HRESULT Move(const RECT* rect) = 0;
    virtual HRESULT IsPageDirty() = 0;
    virtual HRESULT Apply() = 0;
    virtual HRESULT Help(LPCOLESTR helpDir) = 0;
    virtual HRESULT TranslateAccelerator(MSG* message) = 0;

protected:
    ~IPropertyPage() = default;
};

// Implemented by objects that have property pages.
class ISpecifyPropertyPages : public IUnknown {
public:
    virtual HRESULT GetPages(CAUUID* pages) = 0;

protected:
    ~ISpecifyPropertyPages() = default;
};

constexpr IID IID_ISpecifyPropertyPages{0xB196B28B, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IPropertyPageSite{0xB196B28C, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IPropertyPage{0xB196B28D, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// Dialog units to pixels for the dialog font ("MS Shell Dlg" 8 pt: 6 x 13 base units at 96 dots per
// inch), rounded to the nearest pixel.
SIZE DialogUnitsToPixels(LONG widthDlu, LONG heightDlu);

// One control of a dialog template; positions and sizes in dialog units.
struct DialogControl {
    const wchar_t* kind;  // "STATIC" or "EDIT"
    int id;               // -1 for a static text
    const wchar_t* text;
    int x, y, width, height;
    const wchar_t* styles;
};

// A dialog template (constant data of the module that owns the dialog).
struct DialogTemplate {
    int id;
    int width, height;  // dialog units
    const wchar_t* fontName;
    int fontPoints;
    const wchar_t* styles;
    const DialogControl* controls;
    int controlCount;
};

// What a view reports to its dialog: a person changed the text of an edit box.
class PropertyDialogEvents {
public:
    virtual void OnUserEdit(int controlId, std::wstring_view text) = 0;

protected:
    ~PropertyDialogEvents() = default;
};

// The front end's drawing of one dialog. The dialog calls it while it lives and Destroy as it goes
// (the view frees itself then).
class PropertyDialogView {
public:
    virtual void SetItemText(int controlId, std::wstring_view text) = 0;
    virtual void Show(bool show) = 0;
    virtual void Move(const RECT& rect) = 0;
    virtual void Destroy() = 0;

protected:
    ~PropertyDialogView() = default;
};

// Makes views; null when it cannot draw inside `parent`.
class PropertyDialogViewFactory {
public:
    virtual PropertyDialogView* CreateView(PropertyDialogEvents* events, HWND dialog, HWND parent, const RECT& rect,
                                           const DialogTemplate& dialogTemplate) = 0;

protected:
    ~PropertyDialogViewFactory() = default;
};

// The dialog stand-in (see the file comment). Owned by the page that creates it.
class PropertyDialog final : private PropertyDialogEvents {
public:
    // Called with the control id after a user edit of that edit box.
    using EditChangeHandler = std::function<void(int controlId)>;
    // Called with the proposed extended style before it changes; may alter it.
    using StyleChangingHandler = std::function<void(DWORD* newExtendedStyle)>;

    PropertyDialog(int templateId, HWND parent, const RECT& rect);
    // A dialog drawn from `dialogTemplate` (which must outlive it) when a front end is there.
    PropertyDialog(const DialogTemplate& dialogTemplate, HWND parent, const RECT& rect);
    ~PropertyDialog();
    PropertyDialog(const PropertyDialog&) = delete;
    PropertyDialog& operator=(const PropertyDialog&) = delete;

    // The live dialog with this handle, or null.
    static PropertyDialog* FromHandle(HWND handle);

    HWND Handle() const { return handle_; }
    HWND Parent() const { return parent_; }
    int TemplateId() const { return templateId_; }

    void SetEditChangeHandler(EditChangeHandler handler) { onEditChange_ = std::move(handler); }
    void SetStyleChangingHandler(StyleChangingHandler handler) { onStyleChanging_ = std::move(handler); }

    // The program's own setting of an edit box's text (no notification).
    void SetItemText(int controlId, std::wstring_view text);
    // At most maxChars - 1 characters of the text, as a read into a buffer of maxChars characters
    // with its terminating zero; empty for a control that has no text.
    std::wstring GetItemText(int controlId, size_t maxChars) const;
    // A user's edit: sets the text, then notifies the edit-change handler.
    void UserEdit(int controlId, std::wstring_view text);

    void Show(bool show);
    bool IsVisible() const { return visible_; }
    void Move(const RECT& rect);
    // True when a front end draws this dialog.
    bool HasView() const { return view_ != nullptr; }
    RECT Rect() const { return rect_; }

    // Changes the extended style, letting the style-changing handler adjust it first.
    void SetExtendedStyle(DWORD style);
    DWORD ExtendedStyle() const { return extendedStyle_; }

    // Whether a message belongs to this dialog's keyboard and mouse handling: keyboard or mouse
    // messages addressed to the dialog. Such messages count as handled.
    bool IsDialogMessage(const MSG& message) const;

private:
    void OnUserEdit(int controlId, std::wstring_view text) override { UserEdit(controlId, text); }

    // Constant after construction.
    const int templateId_;
    const HWND parent_;
    const HWND handle_;

    // GUI thread only.
    RECT rect_;
    bool visible_ = false;
    DWORD extendedStyle_ = 0;
    std::map<int, std::wstring> texts_;
    EditChangeHandler onEditChange_;
    StyleChangingHandler onStyleChanging_;
    PropertyDialogView* view_ = nullptr;  // the front end's drawing, or null; destroyed with the dialog
};

}  // namespace platform
