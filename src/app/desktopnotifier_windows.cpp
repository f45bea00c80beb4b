#include "app/desktopnotifier.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>

namespace vexal {

namespace {

// How long a notice is asked to stay; Windows decides in the end (its
// accessibility setting), and the icon goes with the last notice.
constexpr int ShownMs = 10000;

} // namespace

/*
 * Windows shows a program's notices as balloons (toasts on Windows 10 and
 * later) from its icon in the notification area, so the icon is made for
 * the first notice and shown only while a notice is up: a window run keeps
 * no icon there otherwise. Each notice replaces the one before it, as the
 * icon has one balloon at a time. Where there is no notification area (no
 * shell running), nothing is shown and nothing fails.
 *
 * The icon and its timer are this object's children, found by type: the
 * members the header declares are the freedesktop service's.
 */

DesktopNotifier::DesktopNotifier(QObject *parent) : QObject(parent) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::show(const QString &summary, const QString &body)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    auto *icon = findChild<QSystemTrayIcon *>(QString(), Qt::FindDirectChildrenOnly);
    auto *hiding = findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    if (!icon) {
        icon = new QSystemTrayIcon(QApplication::windowIcon(), this);
        icon->setToolTip(QStringLiteral("Vexal"));
        hiding = new QTimer(this);
        hiding->setSingleShot(true);
        connect(hiding, &QTimer::timeout, icon, &QSystemTrayIcon::hide);
        // A notice clicked away is gone; so is the reason for the icon.
        connect(icon, &QSystemTrayIcon::messageClicked, icon, &QSystemTrayIcon::hide);
    }
    icon->show();
    icon->showMessage(summary, body, QApplication::windowIcon(), ShownMs);
    hiding->start(ShownMs);
}

} // namespace vexal
