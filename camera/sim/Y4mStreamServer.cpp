#include "camera/sim/Y4mStreamServer.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

Y4mStreamServer::Y4mStreamServer() : wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Y4mStreamServer::~Y4mStreamServer()
{
    close();
    if (wakeFd >= 0)
        ::close(wakeFd);
}

bool Y4mStreamServer::listen(const QString &path, const QByteArray &header)
{
    close();
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (size_t(encoded.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    ::unlink(encoded.constData());
    if (bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0 || ::listen(fd, 4) < 0) {
        ::close(fd);
        return false;
    }
    listenFd = fd;
    socketPath = path;
    streamHeader = header;
    stopping.store(false);
    uint64_t drained;
    while (::read(wakeFd, &drained, sizeof drained) > 0) {
    }
    return true;
}

void Y4mStreamServer::close()
{
    dropClient();
    if (listenFd >= 0) {
        ::close(listenFd);
        listenFd = -1;
        ::unlink(QFile::encodeName(socketPath).constData());
    }
}

void Y4mStreamServer::requestStop()
{
    stopping.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

void Y4mStreamServer::dropClient()
{
    if (clientFd >= 0) {
        ::close(clientFd);
        clientFd = -1;
    }
    connected.store(false);
}

void Y4mStreamServer::acceptPending()
{
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        dropClient();
        clientFd = fd;
        clientReplaced = true;
        connected.store(true);
        connectionCount.fetch_add(1);
        if (!sendAll(reinterpret_cast<const uint8_t *>(streamHeader.constData()),
                     size_t(streamHeader.size())))
            dropClient();
    }
}

Y4mStreamServer::Event Y4mStreamServer::poll(bool wantWrite, int timeoutMs)
{
    pollfd fds[3];
    fds[0] = {wakeFd, POLLIN, 0};
    fds[1] = {listenFd, POLLIN, 0};
    fds[2] = {clientFd, short(wantWrite ? POLLOUT : POLLIN), 0};
    const nfds_t count = clientFd >= 0 ? 3 : 2;
    const int ready = ::poll(fds, count, timeoutMs);
    if (stopping.load())
        return Event::Stop;
    if (ready <= 0)
        return Event::Timeout;
    const int acceptedBefore = connectionCount.load();
    if (fds[1].revents & POLLIN)
        acceptPending();
    // The polled client's events are stale once a newer one took over (it may even reuse the number).
    const bool sameClient = connectionCount.load() == acceptedBefore && clientFd == fds[2].fd;
    if (count == 3 && sameClient && fds[2].revents) {
        if (fds[2].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            dropClient();
        } else if (!wantWrite && (fds[2].revents & POLLIN)) {
            // The reader never talks; readable means it closed its end.
            char scratch[256];
            const ssize_t got = ::recv(clientFd, scratch, sizeof scratch, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                dropClient();
        } else if (wantWrite && (fds[2].revents & POLLOUT)) {
            return Event::Ready;
        }
    }
    return Event::Timeout;
}

void Y4mStreamServer::waitUntil(std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    while (!stopping.load()) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return;
        if (poll(false, int(left) + 1) == Event::Stop)
            return;
    }
}

namespace {
enum class SendResult
{
    Done,
    Full,
    Failed
};

// Sends what is left of data without blocking: Done when all of it went, Full when the socket has no
// room (wait, then call again), Failed when the reader is gone.
SendResult sendWithoutBlocking(int fd, const uint8_t *data, size_t size, size_t &sent)
{
    while (sent < size) {
        const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return SendResult::Failed;
        return SendResult::Full;
    }
    return SendResult::Done;
}
} // namespace

bool Y4mStreamServer::sendAll(const uint8_t *data, size_t size)
{
    const int fd = clientFd;
    size_t sent = 0;
    for (;;) {
        const SendResult result = sendWithoutBlocking(fd, data, size, sent);
        if (result != SendResult::Full)
            return result == SendResult::Done;
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, POLLOUT, 0}};
        ::poll(fds, 2, 100);
        if (stopping.load())
            return false;
        if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
}

bool Y4mStreamServer::write(const uint8_t *data, size_t size)
{
    acceptPending();
    if (clientFd < 0 || stopping.load())
        return false;
    clientReplaced = false;
    size_t sent = 0;
    for (;;) {
        const SendResult result = sendWithoutBlocking(clientFd, data, size, sent);
        if (result == SendResult::Done)
            return true;
        if (result == SendResult::Failed) {
            dropClient();
            return false;
        }
        // The reader is behind: wait for room, but keep serving new connections and stop requests.
        if (poll(true, 100) == Event::Stop)
            return false;
        if (clientFd < 0 || clientReplaced)
            return false; // gone, or a newer client took over mid-chunk: it starts with the next one
    }
}
