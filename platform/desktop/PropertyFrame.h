// The property frame: the dialog in which a person edits an object through its property pages, as the
// platform's property frames do.
//
// ShowPropertyFrame asks the object for its pages (ISpecifyPropertyPages::GetPages), creates each page
// by class id, gives it a site of the frame and the object (SetPageSite, SetObjects), asks it for its
// title and size (GetPageInfo) and activates it inside a tab of the frame (Activate, Show); the page's
// dialog is drawn from its template by the dialog front end below. The buttons:
//   - OK applies every dirty page and closes the frame, unless a page refuses (then it stays open);
//   - Cancel, Escape and the close box close it without applying anything;
//   - Apply is enabled once a page reports itself dirty (IPropertyPageSite::OnStatusChange), applies
//     every dirty page, and stays enabled while a page is still dirty (one that refused its value).
// When the frame closes, every page is deactivated and lets its site and objects go.
//
// The dialog front end (RegisterPropertyDialogViews) draws a property dialog's template with GTK inside
// the frame's tab: a static text as a label, an edit box as an entry (widget name "control-<id>"), at the
// template's positions converted from dialog units. A person's typing is reported to the dialog; text
// the page sets is shown without being reported. Message boxes owned by the dialog open over the frame.
//
// Threads: GUI thread only.
#pragma once

#include <string>

#include "platform/Com.h"

typedef struct _GtkWindow GtkWindow;

namespace platform::desktop {

inline constexpr const char* kNamePropertyFrame = "property-frame";

// Shows the frame over `parent` for `object` and returns when it is closed: S_OK, E_NOINTERFACE when
// the object has no pages, or the failure of creating a page. `caption` names the object; the frame's
// title is "<caption> Properties".
HRESULT ShowPropertyFrame(GtkWindow* parent, const std::wstring& caption, IUnknown* object);

// Makes the dialog front end available to this program and to the modules it loads (HostServices).
// Called when GTK starts.
void RegisterPropertyDialogViews();

}  // namespace platform::desktop
