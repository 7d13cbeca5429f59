#include "player/ImTooAutomation.h"

#include "platform/Dialogs.h"
#include "platform/WindowSearch.h"
#include "player/SyntheticInput.h"

using namespace platform::winsys;

namespace {

bool Fail(const wchar_t* message) {
    platform::MessageBox(nullptr, message, kImTooMessageCaption, platform::MB_OK);
    return false;
}

// Selects entry `index` of a combo box and tells the combo's parent, as the combo does itself when
// the user picks an entry (the set-selection message alone does not notify anyone).
void SelectComboEntry(WindowSystem& desktop, WindowId combo, int32_t comboId, uint32_t index) {
    desktop.SendMessage(combo, CB_SETCURSEL, index, 0);
    desktop.SendMessage(desktop.GetParent(combo), WM_COMMAND,
                        MakeWParam(static_cast<uint32_t>(comboId), CBN_SELCHANGE),
                        static_cast<LPARAM>(combo));
}

}  // namespace

// The GUI thread stays in here for the whole sequence, waits included (about 0.7 s plus 0.6 s per
// title), and handles no other message meanwhile: remote-control commands from the web side wait
// until it is done. That is acceptable for this operation: the person at the PC started it and is
// watching the ripper while it runs. It even helps: with our loop still, none of our windows can come
// up and take the focus from the ripper, which the synthesized keys depend on.
bool ControlImToo(WindowSystem& desktop, uint32_t audio_index, uint32_t subtitle_index) {
    const WindowId ripper = desktop.FindTopLevelWindow(kImTooWindowTitle);
    if (ripper == kNoWindow) return Fail(kImTooNoMainWindow);

    desktop.SetForegroundWindow(ripper);
    desktop.Sleep(kImTooForegroundWaitMs);
    if (desktop.GetForegroundWindow() != ripper) return Fail(kImTooNotForeground);

    const WindowId zoomLabel =
        FindDescendantByClassAndText(desktop, ripper, kImTooLabelClass, kImTooZoomLabel);
    if (zoomLabel != kNoWindow) {
        const WindowId zoomCombo =
            FindDescendantById(desktop, desktop.GetParent(zoomLabel), kImTooZoomComboId);
        if (zoomCombo != kNoWindow) SelectComboEntry(desktop, zoomCombo, kImTooZoomComboId, kImTooZoomEntry);
    }

    const WindowId audioLabel =
        FindDescendantByClassAndText(desktop, ripper, kImTooLabelClass, kImTooAudioLabel);
    if (audioLabel == kNoWindow) return Fail(kImTooNoAudioStatic);
    const WindowId audioPanel = desktop.GetParent(audioLabel);
    const WindowId audioCombo = FindDescendantById(desktop, audioPanel, kImTooAudioComboId);
    const WindowId subtitleCombo = FindDescendantById(desktop, audioPanel, kImTooSubtitleComboId);
    if (audioCombo == kNoWindow) return Fail(kImTooNoAudioCombo);

    const WindowId titleList = FindDescendantByClassAndText(desktop, ripper, kImTooTitleListClass, L"");
    Rect rect;
    if (titleList != kNoWindow && desktop.GetWindowRect(titleList, &rect)) {
        ClickAt(desktop, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2, kClickLeftButton);
    }
    desktop.Sleep(kImTooAfterClickMs);

    const LRESULT titles =
        titleList != kNoWindow ? desktop.SendMessage(titleList, LVM_GETITEMCOUNT, 0, 0) : 0;
    if (titles < 1) return true;

    for (LRESULT i = 0; i < titles; ++i) PressKey(desktop, VK_UP, 0);
    for (LRESULT i = 0; i < titles; ++i) {
        SelectComboEntry(desktop, audioCombo, kImTooAudioComboId, audio_index);
        if (subtitleCombo != kNoWindow) {
            SelectComboEntry(desktop, subtitleCombo, kImTooSubtitleComboId, subtitle_index);
        }
        desktop.Sleep(kImTooPerTitleMs);
        PressKey(desktop, VK_DOWN, 0);
    }
    return true;
}

bool ControlImToo(uint32_t audio_index, uint32_t subtitle_index) {
    const std::unique_ptr<WindowSystem> desktop = CreateWindowSystem();
    return ControlImToo(*desktop, audio_index, subtitle_index);
}
