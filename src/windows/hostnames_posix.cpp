#include "windows/hostnames.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vexal {

QString reverseHostName(Ipv4 address)
{
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    char host[NI_MAXHOST];
    // NI_NAMEREQD: an address without a name is a failure, not its own
    // dotted text passed off as a name.
    if (::getnameinfo(reinterpret_cast<const sockaddr *>(&socketAddress), sizeof socketAddress, host,
                      sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
        return QString();
    return QString::fromUtf8(host);
}

} // namespace vexal
