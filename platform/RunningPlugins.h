// The DSP plug-in objects that run in an audio path right now, by class id, so that a settings dialog
// edits the very object that plays (its change is heard at once) instead of a fresh one.
//
// The audio path adds each plug-in object it loads and removes it when it lets it go. The table holds
// one reference per entry.
//
// Threads: any thread (the audio path loads plug-ins on GStreamer's threads, dialogs run on the GUI
// thread); the table is guarded by a mutex in RunningPlugins.cpp and no plug-in is called under it
// except for AddRef and Release.
#pragma once

#include "platform/Com.h"

namespace platform {

void AddRunningPlugin(const CLSID& clsid, IUnknown* object);
void RemoveRunningPlugin(IUnknown* object);
// The object of `clsid` loaded last and still running, or null.
ComPtr<IUnknown> FindRunningPlugin(const CLSID& clsid);

}  // namespace platform
