// Driving the outside DVD ripping program "ImTOO DVD Ripper" to prepare its rip job: set its zoom
// option, then for every title in its title list select the same audio track and the same subtitle.
// The ripper has no interface for this; the sequence finds its window and controls and sends them
// window messages and synthesized input through the window-system seam (platform/WindowSystem.h).
//
// The ripper's layout as this program expects it: a "Static" label "Zoom:" with the zoom combo box
// (control id 1024) under the same parent; a "Static" label "Audio:" with the audio combo box (1030)
// and the subtitle combo box (1031) under the same parent; a "SysListView32" list without text that
// holds the titles.
//
// Failures the person at the PC must know about are plain message boxes with a fixed text (see
// ControlImToo). The automation method ControlImToo of Door calls this and reports success to its
// caller whatever the result.
//
// Threads: GUI thread only. The sequence blocks the GUI thread from start to end (about 0.7 s plus
// 0.6 s per title) and uses the window searches, which must not run concurrently (WindowSearch.h).
#pragma once

#include <cstdint>

#include "platform/WindowSystem.h"

// What the sequence looks for in the ripper.
inline constexpr const wchar_t* kImTooWindowTitle = L"ImTOO DVD Ripper";
inline constexpr const wchar_t* kImTooLabelClass = L"Static";
inline constexpr const wchar_t* kImTooZoomLabel = L"Zoom:";
inline constexpr const wchar_t* kImTooAudioLabel = L"Audio:";
inline constexpr const wchar_t* kImTooTitleListClass = L"SysListView32";
constexpr int32_t kImTooZoomComboId = 1024;
constexpr int32_t kImTooAudioComboId = 1030;
constexpr int32_t kImTooSubtitleComboId = 1031;
constexpr uint32_t kImTooZoomEntry = 3;

// The waits of the sequence.
constexpr uint32_t kImTooForegroundWaitMs = 500;  // after asking for the foreground, before checking
constexpr uint32_t kImTooAfterClickMs = 200;      // after clicking the title list
constexpr uint32_t kImTooPerTitleMs = 200;        // after a title's selections, before Down

// The messages, and the caption of their boxes (the program's name: they are the program's own).
inline constexpr const wchar_t* kImTooNoMainWindow = L"Can not find the main window.";
inline constexpr const wchar_t* kImTooNotForeground = L"Failed to bring the window foreground.";
inline constexpr const wchar_t* kImTooNoAudioStatic = L"Can not find audio static.";
inline constexpr const wchar_t* kImTooNoAudioCombo = L"Can not find audio combo.";
inline constexpr const wchar_t* kImTooMessageCaption = L"Sinjo";

// Runs the sequence on `desktop`:
//   1. find the top-level window titled kImTooWindowTitle, else kImTooNoMainWindow;
//   2. bring it to the foreground, wait 500 ms, check it is the foreground window, else
//      kImTooNotForeground;
//   3. select entry 3 of the zoom combo box and tell its parent (skipped without label or combo);
//   4. find the "Audio:" label, else kImTooNoAudioStatic;
//   5. find the audio combo box under the label's parent, else kImTooNoAudioCombo (the subtitle combo
//      box may be missing: its selections are then left out);
//   6. click the centre of the title list with the left button (no list: no click) and wait 200 ms;
//   7. with fewer than one title, stop here;
//   8. press Up once per title, which moves the selection to the first title;
//   9. for each title: select `audio_index` and `subtitle_index`, each with the selection-change
//      command to the combo's parent, wait 200 ms, press Down.
// After a message (shown with an OK button and no icon) the result is false; otherwise true, also
// for an empty title list. The indexes are sent whatever they are: what the ripper does with an entry
// its combo box lacks is up to the ripper.
bool ControlImToo(platform::winsys::WindowSystem& desktop, uint32_t audio_index, uint32_t subtitle_index);

// The same on this process's desktop (platform::winsys::CreateWindowSystem): the real one under X11,
// or one where nothing is found when there is no display.
bool ControlImToo(uint32_t audio_index, uint32_t subtitle_index);
