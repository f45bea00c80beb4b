#include "app/desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

namespace vexal {

DesktopNotifier::DesktopNotifier(QObject *parent) : QObject(parent) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::show(const QString &summary, const QString &body)
{
    m_waiting.emplace(summary, body);
    sendWaiting();
}

void DesktopNotifier::sendWaiting()
{
    if (!m_waiting || m_awaiting || m_bus == Bus::Connecting)
        return;
    if (m_bus == Bus::Unknown) {
        connectInBackground();
        return;
    }
    const auto [summary, body] = *std::exchange(m_waiting, std::nullopt);
    // Made already, so this returns at once; it is disconnected when there
    // is no bus or the bus has gone away (Qt does not connect again).
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The desktop entry lets the desktop show the notice under Vexal's name
    // and icon; an expiry of -1 leaves its time on screen to the desktop.
    notify << QStringLiteral("Vexal") << uint(m_shownId) << QStringLiteral("vexal") << summary << body
           << QStringList()
           << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("org.example.Vexal")}} << int(-1);
    m_awaiting = true;
    auto *answer = new QDBusPendingCallWatcher(bus.asyncCall(notify), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        const QDBusPendingReply<uint> reply = *call;
        call->deleteLater();
        // Without a service the notice is lost, and the one on screen, if
        // any, is still the one to replace.
        if (!reply.isError())
            m_shownId = reply.value();
        m_awaiting = false;
        sendWaiting();
    });
}

// Connecting to the session bus waits for the bus's answer (25 s when a bus
// accepts the connection and never answers), so it is made on a thread of
// its own. The thread ends when Qt has the connection, or knows there is
// none; the process may end before that.
void DesktopNotifier::connectInBackground()
{
    m_bus = Bus::Connecting;
    QThread *connecting = QThread::create([] { QDBusConnection::sessionBus(); });
    connect(connecting, &QThread::finished, connecting, &QObject::deleteLater);
    connect(connecting, &QThread::finished, this, [this] {
        m_bus = QDBusConnection::sessionBus().isConnected() ? Bus::Connected : Bus::Absent;
        sendWaiting();
    });
    connecting->start();
}

} // namespace vexal
