// A Qt plugin of the tests' own, loaded from QT_PLUGIN_PATH as a user's own
// code would be: it prints the privileges of the process it finds itself in,
// whether it can open a raw socket, and, once the sweep is under way, how
// many of the process's sockets would let it capture every frame of every
// link or forge IP packets.
#include <QDir>
#include <QFile>
#include <QGenericPlugin>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

// Tries, on every socket the process holds, what a privileged descriptor
// allows: rebinding a packet socket to every protocol, or having a raw
// socket send headers of one's own.
int privilegedSockets()
{
    int found = 0;
    for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System)) {
        const int fd = name.toInt();
        struct stat info{};
        if (::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        sockaddr_ll everything{};
        everything.sll_family = AF_PACKET;
        everything.sll_protocol = htons(ETH_P_ALL);
        const int on = 1;
        if (::bind(fd, reinterpret_cast<const sockaddr *>(&everything), sizeof everything) == 0
            || ::setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) == 0) {
            std::fprintf(stderr, "probe: descriptor %d is privileged\n", fd);
            ++found;
        }
    }
    return found;
}

} // namespace

class CapabilityProbe final : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "capprobe.json")

public:
    QObject *create(const QString &, const QString &) override
    {
        QFile status(QStringLiteral("/proc/self/status"));
        for (const QByteArray &line : (status.open(QIODevice::ReadOnly) ? status.readAll() : "").split('\n'))
            std::fprintf(stderr, "probe: %s\n", line.constData());
        const bool opened = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP) >= 0; // kept until exit
        std::fprintf(stderr, "probe: raw socket: %s\n", opened ? "opened" : std::strerror(errno));
        // The command line starts the sweep at once; a second later any
        // socket it needed is open.
        QTimer::singleShot(1000, [] { std::fprintf(stderr, "probe: privileged sockets: %d\n", privilegedSockets()); });
        return new QObject;
    }
};

#include "capprobe.moc"
