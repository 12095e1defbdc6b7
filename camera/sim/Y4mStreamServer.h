#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

// The listening end of a YUV4MPEG2 stream on a local UNIX socket, the way FFmpeg's "unix:" protocol
// reads it: every client that connects gets the stream header, then every frame written. One client at
// a time: a newer connection takes over from an older one (a viewer that reconnects is served at once,
// even if the old connection has not been noticed as closed yet).
//
// Threads: listen() and close() run on the owner's thread while no stream thread uses the server;
// waitUntil() and write() run on the stream thread; requestStop(), hasClient() and connections() on
// any thread.
class Y4mStreamServer
{
public:
    Y4mStreamServer();
    ~Y4mStreamServer();
    Y4mStreamServer(const Y4mStreamServer &) = delete;
    Y4mStreamServer &operator=(const Y4mStreamServer &) = delete;

    // Listens at path (a stale socket file there is replaced) and remembers the header for new clients.
    bool listen(const QString &path, const QByteArray &header);
    // Drops the client, stops listening and removes the socket file.
    void close();

    // Serves connections (accepts, notices hang-ups) until the deadline or until a stop is requested.
    void waitUntil(std::chrono::steady_clock::time_point deadline);
    // Writes one chunk to the client, waiting while its socket is full. False when there is no client,
    // it went away, a newer client took over (the chunk is dropped), or a stop was requested.
    bool write(const uint8_t *data, size_t size);

    // Makes waitUntil() and write() return at once, now and until the next listen().
    void requestStop();
    bool stopRequested() const { return stopping.load(); }
    bool hasClient() const { return connected.load(); }
    // Connections accepted since construction.
    int connections() const { return connectionCount.load(); }

private:
    enum class Event
    {
        Ready,
        Timeout,
        Stop
    };
    // Waits for the client to become writable (wantWrite) or readable/hung up, for a new connection or
    // a stop; serves new connections and hang-ups itself.
    Event poll(bool wantWrite, int timeoutMs);
    void acceptPending();
    void dropClient();
    bool sendAll(const uint8_t *data, size_t size);

    int listenFd = -1;
    int clientFd = -1;
    int wakeFd = -1;
    QString socketPath;
    QByteArray streamHeader;
    bool clientReplaced = false; // stream thread only
    std::atomic<bool> stopping{false};
    std::atomic<bool> connected{false};
    std::atomic<int> connectionCount{0};
};
