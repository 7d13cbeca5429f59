// The console page's `external` object: how script in the main window's page calls its Door.
//
// The page side is a small script (PageExternalScript) that the main window runs at document start, before
// the page's own scripts. It gives the top page a frozen object `external` with one promise-returning
// method per method of Door's type information, a getter per property (a promise of the value), and a
// setter per writable property (AudioSource, NextScriptToExecute). Every call posts one message to the
// window's script message handler: a JSON array [member, kind, arguments...] where kind is "call" (a method,
// called as script calls one: method or property get), "get" or "put". The script is only set up in a
// top page opened from a local file (never in a frame, never in a page from the network), and every message
// starts with a key that only the script knows: window.webkit.messageHandlers is reachable from every frame
// of the window, and a page shown in a frame must not drive the jukebox through it.
//
// The program side is CallFromPage: it reads such a message and makes the call through the same invoke path
// as every other caller (platform::InvokeByName on the Door's IDispatch, names without regard to case, the
// arguments converted to the declared types). Success fulfils the page's promise with the value (a string,
// a number, a boolean, or undefined for a member without one); failure rejects it with an Error whose
// message is the HRESULT ("0x80004005 E_FAIL") and whose `hresult` is the code as an unsigned number.
// Calls run one after the other in the order the page made them, so a get after a put sees the new value.
//
// Threads: CallFromPage runs on the GUI thread (it calls Door); PageExternalScript anywhere.
#pragma once

#include <string>
#include <string_view>

#include "platform/Dispatch.h"

struct PageReply {
    bool ok = true;
    std::string json;   // the value as JSON; empty for undefined
    std::string error;  // the rejection's message
};

// Makes one call the page posted (see above). A message that is not such an array is refused with a
// message saying why, and nothing is called.
PageReply CallFromPage(platform::IDispatch& door, std::string_view message);

// The same for a message as the window receives it, [key, member, kind, arguments...]: one without `key`
// in front is refused and nothing is called.
PageReply CallFromPage(platform::IDispatch& door, std::string_view message, std::string_view key);

// The script that gives the page its `external`, talking to the message handler called `handlerName` and
// putting `key` (letters and digits) in front of every message.
std::string PageExternalScript(std::string_view handlerName, std::string_view key);

// A value as JSON ("null" for nothing; texts as UTF-8 with the characters JSON needs escaped).
std::string VariantToJson(const platform::Variant& value);
