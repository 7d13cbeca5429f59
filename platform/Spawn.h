// Starting another program detached from this one: in its own session, with its standard streams on
// /dev/null, no descriptor of ours, the default signal dispositions and an empty signal mask, adopted by
// init (a double fork), so that no zombie is left behind and it outlives its starter.
//
// Thread-safe: between fork and exec only async-signal-safe calls run.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

// Starts `program` (a path, not looked up in $PATH) with `args` (argv[1] onwards). 0 when the program was
// executed, else the errno of what failed (the fork, or the exec itself). *pid receives the started
// process's id when given.
int SpawnDetachedProcess(const std::string& program, const std::vector<std::string>& args, pid_t* pid);

// True while the process `pid` exists and has not ended (a zombie counts as ended).
bool ProcessRunning(pid_t pid);

}  // namespace platform
