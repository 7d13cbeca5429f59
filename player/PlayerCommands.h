// The player commands the queue, the automation object and the web commands use. They work on the
// player slot g_player (app/Globals.h) and create the player window when a command needs it.
//
// Failures of play and pause: Play, Pause and PlayPause return the control's failing status instead
// of raising it, and write one line to standard error. Callers may ignore it (the web commands do) or
// pass it on (the automation object returns it as its result); the program keeps running.
//
// Threads: GUI thread only.
#pragma once

#include <functional>

#include "platform/MediaPlayer.h"

// Who is told that the playing file has ended: the application connects the queue's advance here at
// start-up (the player knows nothing of songs). Called on the GUI thread from the player window's
// end-of-media message, outside the control's own call stack; an empty handler is allowed.
void SetMediaEndedHandler(std::function<void()> handler);

// Creates the player window when the slot is empty, or shows it when it is hidden. Always true.
bool EnsurePlayer();
// EnsurePlayer, then the control's play.
platform::MediaStatus Play();
// EnsurePlayer, then the control's pause.
platform::MediaStatus Pause();
// Nothing without a player; else pause when it plays, play otherwise (showing the window).
platform::MediaStatus PlayPause();
// Moves the position by `seconds` (not below 0). Nothing without a player or transport facet; never
// shows the window.
void Jump(int seconds);
// Changes the volume by `delta`, clamped to 0..100. Nothing without a player or settings facet.
void ChangeVolume(int delta);
// Destroys the player window and empties the slot; the main window calls this as it goes away.
void DestroyPlayer();
