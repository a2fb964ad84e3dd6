#pragma once

// Plain sockets on 127.0.0.1 for the socket tests: a listener on a free
// port, and a port that nobody listens on.

// A listening socket on a free loopback port.
struct Listener {
    explicit Listener(int backlog = 1);
    ~Listener();
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
    int fd;
    int port;
};

// A port with nobody listening on it.
int ClosedPort();
