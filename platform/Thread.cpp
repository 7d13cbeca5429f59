#include "platform/Thread.h"

#include <pthread.h>
#include <signal.h>
#include <utility>

namespace platform {

std::thread StartHelperThread(const char* name, std::function<void()> body) {
    // A new thread inherits its creator's mask: block everything around the creation, then restore.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread thread;
    try {
        thread = std::thread([name, body = std::move(body)] {
            pthread_setname_np(pthread_self(), name);
            body();
        });
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

}  // namespace platform
