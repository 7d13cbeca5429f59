// "Audio plug-ins": the list of the DSP plug-ins recorded in the registry (platform/WmpPlugins.h), as a
// media player offers it, with each one's friendly name and description, a switch that enables or
// disables it (only for a plug-in that offers IWMPPluginEnable) and a "Properties" button that opens
// the selected plug-in's property pages in a property frame (PropertyFrame.h).
//
// The objects edited are the ones that run in the audio path now when there are (RunningPlugins.h), so
// that a change is heard at once; otherwise a fresh object of the class, kept while the dialog is open.
//
// Threads: GUI thread only.
#pragma once

typedef struct _GtkWindow GtkWindow;

namespace platform::desktop {

inline constexpr const char* kNameAudioPlugins = "audio-plugins";

// Shows the list over `parent` and returns when it is closed.
void ShowAudioPluginsDialog(GtkWindow* parent);

}  // namespace platform::desktop
