#pragma once

#include "qtprinters.h"

#include "fakescheduler.h"
#include "manualclock.h"
#include "scripteddialogs.h"

#include "app/mainwindow.h"
#include "common/logsettings.h"
#include "sweep/fakepinger.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <memory>

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
