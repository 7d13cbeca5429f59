// Helper threads that leave signals to the program's main thread.
//
// Threads: StartHelperThread may be called from any thread.
#pragma once

#include <functional>
#include <thread>

namespace platform {

// Starts `body` on a new thread with every signal blocked and named `name` (at most 15 characters) in
// tools such as top. The calling thread's signal mask is the same afterwards. Throws what std::thread
// throws when no thread can be created.
std::thread StartHelperThread(const char* name, std::function<void()> body);

}  // namespace platform
