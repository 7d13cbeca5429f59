// TCP sockets for the web server: listening, accepting, options, receiving and sending. A socket is its
// descriptor number (-1 for none); the caller owns it and closes it with CloseSocket.
//
// Threads: any thread. Shutting a socket down from one thread wakes another that is blocked receiving,
// sending or accepting on it; the descriptor stays valid until it is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The largest backlog of pending connections the system accepts for a listening socket.
int MaxListenBacklog();

// A socket listening on `port` (0: a free one) of every local IPv4 address, with room for `backlog`
// pending connections. The address is reused at once, so a restarted program can listen again while
// connections of its previous run linger (never two listeners on one port). -1 on failure, with the
// system's reason in *error.
int ListenTcp(uint16_t port, int backlog, std::string* error);

// The local port a socket is bound to; 0 when it cannot be told.
uint16_t LocalPort(int socket);

// Why AcceptConnection gave no connection.
enum class AcceptFailure {
    kRetry,           // a signal, or a connection that went away before it was taken: try again at once
    kOutOfResources,  // no descriptor or memory left: the connection stays queued
    kOther,           // e.g. the listening socket was shut down
};

// Waits for the next connection on a listening socket and returns its socket; -1 with *failure set when
// there is none.
int AcceptConnection(int listenSocket, AcceptFailure* failure);

// Ends both directions of a connection or stops a listener; wakes whoever waits on it.
void ShutdownSocket(int socket);
void CloseSocket(int socket);

// Sends small writes at once instead of waiting to fill a packet.
void SetNoDelay(int socket);
// A receive or a send that waits longer than this fails (0: waits for ever).
void SetReceiveTimeout(int socket, uint32_t ms);
void SetSendTimeout(int socket, uint32_t ms);

// Receives up to `size` bytes; a signal does not cut the wait short. Returns the count, 0 when the peer
// has closed, -1 when the receive failed, timed out or the socket was shut down.
long Receive(int socket, char* buffer, size_t size);

// Sends `head` then `body` with as few calls as the kernel allows. A send cut short by a signal or a
// full buffer goes on where it stopped, so the peer never gets half of it followed by something else.
// A peer that has gone raises no signal. False when the connection failed (or timed out) first.
bool SendAll(int socket, std::string_view head, std::string_view body);

}  // namespace platform
