#include "windows/hostnames.h"

#include <mutex>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace vexal {

QString reverseHostName(Ipv4 address)
{
    // Winsock works only once started, once per process; it stays started
    // for the life of the program, as the names are kept that long too.
    static std::once_flag started;
    static bool ready = false;
    std::call_once(started, [] {
        WSADATA data;
        ready = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    if (!ready)
        return QString();
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    wchar_t host[NI_MAXHOST];
    // NI_NAMEREQD: an address without a name is a failure, not its own
    // dotted text passed off as a name. The wide call: a name in the
    // hosts file or from DNS need not fit the ANSI code page.
    if (::GetNameInfoW(reinterpret_cast<const sockaddr *>(&socketAddress), sizeof socketAddress, host,
                       NI_MAXHOST, nullptr, 0, NI_NAMEREQD) != 0)
        return QString();
    return QString::fromWCharArray(host);
}

} // namespace vexal
