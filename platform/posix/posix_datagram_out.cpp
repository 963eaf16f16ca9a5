// Datagrams to one address on POSIX: a UDP socket connected to it.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/datagram_out.h"

bool plat_datagram_open(PlatDatagram* out, const char* address, uint16_t port, char* reason, size_t size)
{
    out->socket = -1;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, address, &to.sin_addr) != 1) {
        snprintf(reason, size, "no IPv4 address");
        return false;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        snprintf(reason, size, "%s", strerror(errno));
        if (fd >= 0) close(fd);
        return false;
    }
    out->socket = fd;
    return true;
}

bool plat_datagram_send(PlatDatagram* out, const void* bytes, size_t count)
{
    if (out->socket < 0) return false;
    ssize_t sent = send(static_cast<int>(out->socket), bytes, count, MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(count) || (sent < 0 && errno == ECONNREFUSED);
}

void plat_datagram_close(PlatDatagram* out)
{
    if (out->socket >= 0) close(static_cast<int>(out->socket));
    out->socket = -1;
}
