// vexal-ping: the small program that holds Vexal's privileged sockets, so
// that Vexal itself never does. Vexal starts it when the system refuses it
// an ICMP datagram socket; it sends the echo requests (and the ARP questions
// for on-link targets) that Vexal asks for over its standard input, and
// reports back. Installed with cap_net_raw, it does no more than ping and an
// ARP tool let every user do.
#include "helper/confinement.h"
#include "helper/pingservice.h"
#include "sweep/pingers_linux.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>

// Vexal counts a request when the helper's report of it arrives, a moment
// after it left; the helper forgets it this much after its deadline, so that
// Vexal never sees it end before its full timeout.
constexpr int ExpiryGraceMs = 100;

int main(int, char *argv[])
{
    // First, before Qt or anything a caller controls: see confineHelper().
    const vexal::Confinement confined = vexal::confineHelper();
    if (!confined.error.empty()) {
        std::fprintf(stderr, "vexal-ping %s\n", confined.error.c_str());
        return 2;
    }
    // Qt Core alone; none of the caller's arguments reach it.
    int argc = 1;
    char *arguments[] = {argv[0], nullptr};
    QCoreApplication app(argc, arguments);

    const std::unique_ptr<vexal::Pinger> pinger =
        vexal::createRawPinger(confined.raw, &vexal::openPacketSocketForArp, ExpiryGraceMs);
    const bool opened = pinger->open();
    vexal::PingService service(0, *pinger, &vexal::openPacketSocketForArp);
    const int rawError = confined.raw.error != 0 ? confined.raw.error : opened ? 0 : EIO;
    service.greet({vexal::helper::ProtocolVersion, rawError, confined.packetError});
    if (!opened)
        return 1;
    QObject::connect(&service, &vexal::PingService::peerGone, &app, &QCoreApplication::quit);
    return app.exec();
}
