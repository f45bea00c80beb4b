#pragma once

#include <QObject>
#include <QString>

#include <optional>
#include <utility>

namespace vexal {

// Shows notices on the desktop (on Linux through the freedesktop
// notification service on the session bus). Each notice replaces the one
// before it, so an outage that goes on is one notification kept up to date,
// not a stack of them. Without a bus or a notification service nothing is
// shown and nothing fails; the window's thread never waits for either.
class DesktopNotifier final : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    ~DesktopNotifier() override;

    void show(const QString &summary, const QString &body);

private:
    enum class Bus { Unknown, Connecting, Connected, Absent };
    void sendWaiting();
    void connectInBackground();

    Bus m_bus = Bus::Unknown;
    // The service's name for the notice on screen; 0 before the first.
    quint32 m_shownId = 0;
    // A notice waits while the bus is being reached, or while the one before
    // it is unanswered: sent then, it could not name that one to replace and
    // would stack. Only the newest is worth showing.
    bool m_awaiting = false;
    std::optional<std::pair<QString, QString>> m_waiting;
};

} // namespace vexal
