// Datagrams to one address on Windows: a UDP socket connected to it.
#include <winsock2.h>

#include <cstdio>

#include "platform/datagram_out.h"

bool plat_datagram_open(PlatDatagram* out, const char* address, uint16_t port, char* reason, size_t size)
{
    out->socket = -1;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        snprintf(reason, size, "no sockets");
        return false;
    }
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr(address);
    if (to.sin_addr.s_addr == INADDR_NONE) {
        WSACleanup();
        snprintf(reason, size, "no IPv4 address");
        return false;
    }
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        snprintf(reason, size, "socket error %d", WSAGetLastError());
        if (s != INVALID_SOCKET) closesocket(s);
        WSACleanup();
        return false;
    }
    out->socket = static_cast<intptr_t>(s);
    return true;
}

bool plat_datagram_send(PlatDatagram* out, const void* bytes, size_t count)
{
    if (out->socket < 0) return false;
    int sent = send(static_cast<SOCKET>(out->socket), static_cast<const char*>(bytes), static_cast<int>(count), 0);
    return sent == static_cast<int>(count) || (sent < 0 && WSAGetLastError() == WSAECONNRESET);
}

void plat_datagram_close(PlatDatagram* out)
{
    if (out->socket < 0) return;
    closesocket(static_cast<SOCKET>(out->socket));
    WSACleanup();
    out->socket = -1;
}
