// A Qt plugin of the tests' own, loaded from QT_PLUGIN_PATH as a user's own
// code would be: it prints the privileges of the process it finds itself in
// and whether it can open a raw socket.
#include <QFile>
#include <QGenericPlugin>

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>

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
        return new QObject;
    }
};

#include "capprobe.moc"
