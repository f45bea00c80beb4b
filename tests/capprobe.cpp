// A Qt generic plugin of the tests' own, loaded from QT_PLUGIN_PATH as a
// user's own code would be: it writes to standard error the privileges of
// the process it finds itself in and whether it can open a raw socket.
#include <QFile>
#include <QGenericPlugin>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class CapabilityProbe final : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "capprobe.json")

public:
    QObject *create(const QString &, const QString &) override
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n'))
                std::fprintf(stderr, "probe: %s\n", line.constData());
        const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        std::fprintf(stderr, "probe: raw socket: %s\n", fd >= 0 ? "opened" : std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return new QObject;
    }
};

#include "capprobe.moc"
