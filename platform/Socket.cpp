#include "platform/Socket.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {
namespace {

void SetTimeout(int socket, int option, uint32_t ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    setsockopt(socket, SOL_SOCKET, option, &tv, sizeof tv);
}

}  // namespace

int MaxListenBacklog() { return SOMAXCONN; }

int ListenTcp(uint16_t port, int backlog, std::string* error) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::system_category().message(errno);
        return -1;
    }
    // On Linux this never lets two programs listen on the same port.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0) {
        *error = std::system_category().message(errno);
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t LocalPort(int socket) {
    sockaddr_in bound{};
    socklen_t boundSize = sizeof bound;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0) return 0;
    return ntohs(bound.sin_port);
}

int AcceptConnection(int listenSocket, AcceptFailure* failure) {
    const int accepted = accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted >= 0) return accepted;
    const int e = errno;
    if (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM) {
        *failure = AcceptFailure::kOutOfResources;
    } else if (e == EINTR || e == ECONNABORTED || e == EPROTO) {
        *failure = AcceptFailure::kRetry;
    } else {
        *failure = AcceptFailure::kOther;
    }
    return -1;
}

void ShutdownSocket(int socket) { shutdown(socket, SHUT_RDWR); }

void CloseSocket(int socket) { close(socket); }

void SetNoDelay(int socket) {
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void SetReceiveTimeout(int socket, uint32_t ms) { SetTimeout(socket, SO_RCVTIMEO, ms); }

void SetSendTimeout(int socket, uint32_t ms) { SetTimeout(socket, SO_SNDTIMEO, ms); }

long Receive(int socket, char* buffer, size_t size) {
    ssize_t n;
    do {
        n = recv(socket, buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
}

bool SendAll(int socket, std::string_view head, std::string_view body) {
    size_t headSent = 0;
    size_t bodySent = 0;
    while (headSent < head.size() || bodySent < body.size()) {
        iovec parts[2];
        int count = 0;
        if (headSent < head.size()) {
            parts[count++] = {const_cast<char*>(head.data() + headSent), head.size() - headSent};
        }
        if (bodySent < body.size()) {
            parts[count++] = {const_cast<char*>(body.data() + bodySent), body.size() - bodySent};
        }
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(count);
        const ssize_t n = sendmsg(socket, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        size_t done = static_cast<size_t>(n);
        const size_t fromHead = std::min(done, head.size() - headSent);
        headSent += fromHead;
        done -= fromHead;
        bodySent += done;
    }
    return true;
}

}  // namespace platform
