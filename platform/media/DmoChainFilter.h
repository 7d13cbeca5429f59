// The GStreamer element "sinjodmochain": the step of the player's audio path that runs the DSP
// plug-ins (DmoChain) over the decoded audio.
//
// It takes and gives audio/x-raw, format S16LE, interleaved, any rate and channel count. When the
// caps are set it loads the recorded plug-ins (the first time in each run of the element) and gives
// them the format; every buffer then goes through the chain, keeping its time stamp; a seek's flush
// flushes the plug-ins, end of stream drains them. With no plug-in in the chain, buffers pass as they
// are. The plug-ins are released when the element stops (PAUSED to READY) and when it is disposed.
//
// Property "active-plugins" (string, read-only): the friendly names of the plug-ins in the chain,
// joined with "; ", in UTF-8; empty before the caps are set.
//
// Threads: GStreamer's streaming thread calls the processing; state changes and property reads come
// from other threads. The chain is guarded by a mutex inside the element; no lock is held while
// pushing data downstream.
#pragma once

namespace platform::media {

// The factory name of the element.
inline constexpr const char* kDmoChainElementName = "sinjodmochain";

// Registers the element with GStreamer for this process (once; later calls return the first
// answer). gst_init must have run. False when registration fails.
bool RegisterDmoChainElement();

}  // namespace platform::media
