// The registry stand-in's store: the hive file of each root on disk, the parsed version this process
// last saw, and atomic changes that are safe across processes.
//
// Reading: a read sees the latest file and costs only a stat when the file has not changed (the plug-in
// polls every 100 ms). Each root keeps the parsed hive with the file's device, inode, size,
// modification time and change time (ns), and reuses the parse while those are unchanged. Because
// file-system time stamps are coarse, a file whose modification time lies within 50 ms of the moment it
// was read is not trusted and is read again on the next call, so a quick sequence of writes that reuses
// an inode with an equal size can never hide behind an equal time stamp.
//
// Changing: an exclusive flock on "<hive>.lock", a re-read of the hive, the change on a copy, then (only
// when something changed, so that pollers see no change otherwise) a temporary file, fsync and a rename
// over the hive. The folder is created on the first write. A new hive is made with mode 0644 (less the
// umask); a rewrite keeps the old file's mode.
//
// Damage: lines that cannot be parsed are skipped (RegHiveFormat.h) and reported once per file version
// on standard error. Before the first write over such a file its bytes are copied to "<hive>.bad"; when
// that name is taken by an older, different copy, the next free "<hive>.bad.1", "<hive>.bad.2", ... is
// used, so no damaged version is ever lost. A hive that exists but cannot be read at all (a directory, a
// device, a read error) reads as empty and is never written over: changes fail with
// ERROR_ACCESS_DENIED.
//
// Threads: any thread. Per root, a write mutex serialises this process's writers (held across the file
// work) and a cache mutex guards the cached version (held only to copy or replace it, never across file
// work); the flock serialises writers across processes.
#pragma once

#include <functional>
#include <memory>

#include "platform/RegHive.h"
#include "platform/Registry.h"

namespace platform::reghive {

// The current hive of a root (its file at RegHivePath): the cached parse while the file is unchanged,
// else a fresh read. Never null; a missing or unreadable file gives an empty hive.
std::shared_ptr<const Hive> CurrentHive(RegRoot root);

// A change to a hive's keys: returns the call's status and sets *changed when it changed anything.
using HiveChange = std::function<LSTATUS(KeyMap& keys, bool* changed)>;

// Runs `change` on a fresh copy of the root's hive under the cross-process lock and writes the result
// when the change reports success and a change. Returns the change's status, or ERROR_CANTWRITE when the
// folder, the lock, the .bad copy or the new file could not be made, or ERROR_ACCESS_DENIED when the
// hive file exists but cannot be read.
LSTATUS ModifyHive(RegRoot root, const HiveChange& change);

}  // namespace platform::reghive
