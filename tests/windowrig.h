#pragma once

#include "qtprinters.h"

#include "fakescheduler.h"
#include "manualclock.h"
#include "scripteddialogs.h"

#include "app/mainwindow.h"
#include "common/logsettings.h"
#include "sweep/fakepinger.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtWidgets/qtestsupport_widgets.h>

#include <memory>

// The text a user reads on a control: a frame's title, a button's caption, a label's text.
inline QString caption(const QWidget *control)
{
    if (auto *box = qobject_cast<const QGroupBox *>(control))
        return box->title();
    if (auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    return qobject_cast<const QLabel *>(control)->text();
}

// The real main window with a scripted network, clock, scheduler and dialogs.
struct WindowRig
{
    explicit WindowRig(const QString &commandLine = QString())
        : window(std::make_unique<vexal::MainWindow>(
              vexal::MainWindowServices{dialogs, pinger, scheduler, clock, logSettings}, commandLine))
    {
    }

    template<typename W = QWidget>
    W *find(const char *name) const
    {
        return window->findChild<W *>(QLatin1String(name));
    }
    QLineEdit *field(const char *name) const { return find<QLineEdit>(name); }
    QListWidget *list(int k) const { return window->findChild<QListWidget *>(QStringLiteral("lstIP%1").arg(k)); }
    QLineEdit *octetField(int k) const { return window->findChild<QLineEdit *>(QStringLiteral("txtIP%1").arg(k)); }
    QPushButton *button(const char *name) const { return find<QPushButton>(name); }
    QString text(const char *labelName) const { return find<QLabel>(labelName)->text(); }

    // Shown, exposed and active, so that keys and the focus behave as on a desktop.
    bool showActive() const
    {
        window->show();
        const bool exposed = QTest::qWaitForWindowExposed(window.get());
        QApplication::setActiveWindow(window.get());
        return exposed;
    }
    void select(int k, std::initializer_list<int> positions) const
    {
        for (int p : positions)
            list(k)->item(p)->setSelected(true);
    }
    int selectedCount(int k) const { return int(list(k)->selectedItems().size()); }

    ScriptedDialogs dialogs;
    vexal::FakePinger pinger;
    FakeScheduler scheduler;
    ManualClock clock;
    vexal::LogSettings logSettings;
    std::unique_ptr<vexal::MainWindow> window;
};
