#include "qtprinters.h"
#include "scripteddialogs.h"

#include "addresses/ipfilecommands.h"
#include "app/commandlinehelp.h"
#include "app/commandlinehelpdialog.h"
#include "common/logsettings.h"
#include "logging/logsettingsdialog.h"

#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace vexal;

namespace {

template<typename W = QWidget>
W *child(const QWidget *window, const QString &name)
{
    W *found = window->findChild<W *>(name);
    EXPECT_NE(found, nullptr) << name.toStdString();
    return found;
}

QString caption(const QWidget *control)
{
    if (auto *box = qobject_cast<const QGroupBox *>(control))
        return box->title();
    if (auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    return qobject_cast<const QLabel *>(control)->text();
}

void expectCentred(const QWidget *window)
{
    const QPoint screen = QGuiApplication::primaryScreen()->geometry().center();
    EXPECT_LE((window->frameGeometry().center() - screen).manhattanLength(), 8);
}

struct LogRig
{
    void open()
    {
        window = std::make_unique<LogSettingsDialog>(settings, dialogs);
        window->show();
    }
    QRadioButton *fileType(int i) const { return child<QRadioButton>(window.get(), QStringLiteral("optFileType%1").arg(i)); }
    QRadioButton *databaseType(int i) const { return child<QRadioButton>(window.get(), QStringLiteral("optDatabaseType%1").arg(i)); }
    QPushButton *button(const char *name) const { return child<QPushButton>(window.get(), QLatin1String(name)); }
    QString label(const char *name) const { return child<QLabel>(window.get(), QLatin1String(name))->text(); }

    ScriptedDialogs dialogs;
    LogSettings settings;
    std::unique_ptr<LogSettingsDialog> window;
};

} // namespace

TEST(LogSettingsWindow, LayoutCaptionsAndTabOrder)
{
    LogRig rig;
    rig.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.window.get()));
    EXPECT_EQ(rig.window->objectName(), QStringLiteral("frmLog"));
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("Log Information"));
    EXPECT_EQ(rig.window->size(), QSize(241, 289));
    EXPECT_FALSE(rig.window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    expectCentred(rig.window.get());

    const struct { const char *name, *parent; QString caption; QRect place; } controls[] = {
        {"fraFile", "frmLog", "File", {8, 8, 225, 121}},
        {"optFileType0", "fraFile", "None", {8, 16, 49, 17}},
        {"optFileType1", "fraFile", "Log Unique", {64, 16, 81, 17}},
        {"optFileType2", "fraFile", "Log All", {152, 16, 57, 17}},
        {"lblFileLabel", "fraFile", "File Name:", {8, 40, 57, 17}},
        {"lblFile", "fraFile", "", {8, 64, 209, 17}},
        {"cmdFile", "fraFile", "&File", {8, 88, 81, 25}},
        {"fraDatabase", "frmLog", "Database", {8, 136, 225, 113}},
        {"optDatabaseType0", "fraDatabase", "None", {8, 16, 49, 17}},
        {"optDatabaseType1", "fraDatabase", "Log Unique", {64, 16, 81, 17}},
        {"optDatabaseType2", "fraDatabase", "Log All", {152, 16, 57, 17}},
        {"lblDatabaseLabel", "fraDatabase", "Database Name:", {8, 40, 81, 17}},
        {"lblDatabase", "fraDatabase", "", {8, 56, 209, 17}},
        {"cmdDatabase", "fraDatabase", "&Database", {8, 80, 81, 25}},
        {"cmdClose", "frmLog", "&Close", {8, 256, 81, 25}},
    };
    for (const auto &c : controls) {
        const QWidget *control = child(rig.window.get(), QLatin1String(c.name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->parentWidget()->objectName(), QLatin1String(c.parent)) << c.name;
        EXPECT_EQ(control->geometry(), c.place) << c.name;
        EXPECT_EQ(caption(control), c.caption) << c.name;
    }

    // Qt keeps tab focus on one option of a group at a time (the arrow keys
    // move within it), so the chain is read over every focusable widget.
    const QList<QWidget *> expected = {rig.fileType(0), rig.fileType(1), rig.fileType(2),
                                       rig.databaseType(0), rig.databaseType(1), rig.databaseType(2),
                                       rig.button("cmdFile"), rig.button("cmdDatabase"), rig.button("cmdClose")};
    QList<QWidget *> order;
    QWidget *next = expected[0];
    do {
        if (next->focusPolicy() != Qt::NoFocus)
            order << next;
        next = next->nextInFocusChain();
    } while (next != expected[0] && order.size() < 20);
    EXPECT_EQ(order, expected);
}

TEST(LogSettingsWindow, OpensWithTheStoredModesAndPaths)
{
    for (const auto &[text, database] : {std::pair{LogMode::LogNone, LogMode::LogNone},
                                        {LogMode::LogUnique, LogMode::LogNone},
                                        {LogMode::LogAll, LogMode::LogUnique}}) {
        LogRig rig;
        rig.settings.TextLogMode = text;
        rig.settings.TextLogFile = QStringLiteral("/v/run.txt");
        rig.settings.DatabaseLogMode = database;
        rig.settings.DatabaseLogFile = QStringLiteral("/v/run.mdb");
        rig.open();
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(rig.fileType(i)->isChecked(), i == int(text));
            EXPECT_EQ(rig.databaseType(i)->isChecked(), i == int(database));
        }
        EXPECT_EQ(rig.button("cmdFile")->isEnabled(), text != LogMode::LogNone);
        EXPECT_EQ(rig.button("cmdDatabase")->isEnabled(), database != LogMode::LogNone);
        EXPECT_EQ(rig.label("lblFile"), QStringLiteral("/v/run.txt"));
        EXPECT_EQ(rig.label("lblDatabase"), QStringLiteral("/v/run.mdb"));
        rig.fileType(0)->click();
        rig.databaseType(2)->click();
        EXPECT_FALSE(rig.button("cmdFile")->isEnabled());
        EXPECT_TRUE(rig.button("cmdDatabase")->isEnabled());
    }
}

TEST(LogSettingsWindow, CloseChecksForAFileThenStoresBothModes)
{
    const QString fileText = QStringLiteral("Please select a file for logging IP information or select None!");
    const QString databaseText = QStringLiteral("Please select a IP database for logging information or select None!");
    const struct { const char *name; QString textFile, databaseFile; int textChoice, databaseChoice; QString title, text; } cases[] = {
        {"Log All, no file", "", "", 2, 0, "File Logging", fileText},
        {"database Log Unique, no file", "", "", 0, 1, "Database Logging", databaseText},
        {"neither has a file", "", "", 1, 2, "File Logging", fileText},
        {"text file only", "/t/a.txt", "", 1, 1, "Database Logging", databaseText},
        {"both None", "", "", 0, 0, "", ""},
        {"both with files", "/t/a.txt", "/t/b.mdb", 2, 1, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LogRig rig;
        rig.settings.TextLogFile = c.textFile;
        rig.settings.DatabaseLogFile = c.databaseFile;
        rig.open();
        rig.fileType(c.textChoice)->click();
        rig.databaseType(c.databaseChoice)->click();
        rig.button("cmdClose")->click();

        const bool accepted = c.title.isEmpty();
        ASSERT_EQ(rig.dialogs.messages.size(), accepted ? 0 : 1);
        if (!accepted) {
            const auto &m = rig.dialogs.messages[0];
            EXPECT_EQ(m.title, c.title);
            EXPECT_EQ(m.text, c.text);
            EXPECT_EQ(m.icon, Dialogs::Icon::Exclamation);
            EXPECT_EQ(m.buttons, Dialogs::Buttons::Ok);
        }
        EXPECT_EQ(rig.window->isVisible(), !accepted);
        EXPECT_EQ(rig.settings.TextLogMode, LogMode(accepted ? c.textChoice : 0));
        EXPECT_EQ(rig.settings.DatabaseLogMode, LogMode(accepted ? c.databaseChoice : 0));
    }
}

TEST(LogSettingsWindow, FileButtonsStoreTheChosenNameAndACancelEmptiesIt)
{
    const struct { const char *option, *button, *label; QString LogSettings::*stored; QString title, filter; } cases[] = {
        {"optFileType1", "cmdFile", "lblFile", &LogSettings::TextLogFile, "Log File", "Text (*.txt)|*.txt"},
        {"optDatabaseType2", "cmdDatabase", "lblDatabase", &LogSettings::DatabaseLogFile, "Log Database",
         "Database (*.mdb)|*.mdb"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.button);
        LogRig rig;
        rig.open();
        child<QRadioButton>(rig.window.get(), QLatin1String(c.option))->click();
        rig.dialogs.paths << QStringLiteral("/srv/first") << QStringLiteral("/srv/second") << std::nullopt;
        for (const QString expected : {"/srv/first", "/srv/second", ""}) {
            rig.button(c.button)->click();
            EXPECT_EQ(rig.settings.*c.stored, expected);
            EXPECT_EQ(rig.label(c.label), expected);
        }
        ASSERT_EQ(rig.dialogs.fileRequests.size(), 3);
        for (const auto &request : rig.dialogs.fileRequests) {
            EXPECT_FALSE(request.save);
            EXPECT_EQ(request.title, c.title);
            EXPECT_EQ(request.filter, c.filter);
            EXPECT_EQ(request.flags, 2052);
            EXPECT_EQ(request.presetName, QString()); // every use starts blank
        }
        rig.button("cmdClose")->click(); // the mode now lacks its file
        EXPECT_EQ(rig.dialogs.messages.size(), 1);
    }
}

TEST(LogSettingsWindow, TitleBarCloseStoresNoModesAndNoneKeepsThePath)
{
    LogRig rig;
    rig.open();
    rig.fileType(2)->click();
    rig.dialogs.paths << QStringLiteral("/srv/kept.txt");
    rig.button("cmdFile")->click();
    rig.window->close();
    EXPECT_EQ(rig.settings.TextLogMode, LogMode::LogNone);
    EXPECT_EQ(rig.settings.TextLogFile, QStringLiteral("/srv/kept.txt")); // stored when chosen

    rig.open();
    rig.fileType(1)->click();
    rig.fileType(0)->click();
    rig.button("cmdClose")->click();
    EXPECT_EQ(rig.settings.TextLogMode, LogMode::LogNone);

    rig.open();
    EXPECT_FALSE(rig.button("cmdFile")->isEnabled());
    EXPECT_EQ(rig.label("lblFile"), QStringLiteral("/srv/kept.txt"));
    rig.fileType(1)->click();
    rig.button("cmdClose")->click();
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(rig.settings.TextLogMode, LogMode::LogUnique);
    EXPECT_EQ(rig.settings.TextLogFile, QStringLiteral("/srv/kept.txt"));
    EXPECT_TRUE(rig.dialogs.messages.isEmpty());
}

TEST(CommandLineHelpWindow, LayoutAndEveryTextExact)
{
    CommandLineHelpDialog window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.objectName(), QStringLiteral("frmCommandLineOptions"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Command Line Options"));
    EXPECT_EQ(window.size(), QSize(319, 476));
    EXPECT_FALSE(window.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    expectCentred(&window);
    EXPECT_TRUE(child<QPushButton>(&window, QStringLiteral("cmdOK"))->isDefault());

    const struct { const char *name; QString text; QRect place; } controls[] = {
        {"lblOptions", "Vexal[.exe] [/p] [/t] [/d] [/c] [/lfu | /lfa] [/ldu | /lda] /ip [/s]", {8, 0, 297, 17}},
        {"grpOptions", "Options", {8, 24, 297, 409}},
        {"cmdOK", "OK", {120, 448, 73, 25}},
        {"lblp", "/p number", {8, 16, 49, 17}},
        {"lblPacket", "Tells Vexal what Packet Size to use.", {80, 16, 185, 17}},
        {"lblt", "/t number", {8, 40, 49, 17}},
        {"lblTimeout", "Tells Vexal what the Timeout to use.", {80, 40, 185, 17}},
        {"lbld", "/d number", {8, 64, 49, 17}},
        {"lblDelay", "Tells Vexal what delay should be used between consecutive pings.", {80, 64, 201, 33}},
        {"lblc", "/c", {8, 104, 17, 17}},
        {"lblContinuous", "Tells Vexal if it should run in continuous mode.", {80, 104, 193, 33}},
        {"lbllfu", "/lfu filename", {8, 136, 65, 17}},
        {"lblLogFileUnique", "Specifies the file Vexal is to use for logging unique positive response IP addresses.", {80, 136, 201, 41}},
        {"lbllfa", "/lfa filename", {8, 184, 65, 17}},
        {"lblLogFileAll", "Specifies the file Vexal is to use for logging all positive response IP addresses.", {80, 184, 185, 41}},
        {"lblldu", "/ldu filename", {8, 232, 65, 17}},
        {"lblLogDatabaseUnique", "Specifies the database Vexal is to use for logging unique positive response IP addresses.", {80, 232, 185, 41}},
        {"lbllda", "/lda filename", {8, 272, 65, 17}},
        {"lblLogDatabaseAll", "Specifies the database Vexal is to use for logging all positive response IP addresses.", {80, 272, 185, 41}},
        {"lblip", "/ip file or IP", {8, 320, 57, 17}},
        {"lblIP0rFile", "Tells Vexal what IP or IP addresses to Ping.  The user must specify either a single IP address or an IP file generated by Vexal.", {80, 320, 193, 57}},
        {"lbls", "/s", {8, 384, 17, 17}},
        {"lblStartupMode", "Tells Vexal to run in hidden mode.", {80, 384, 177, 17}},
    };
    for (const auto &c : controls) {
        const QWidget *control = child(&window, QLatin1String(c.name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(caption(control), c.text) << c.name;
        EXPECT_EQ(control->geometry(), c.place) << c.name;
        // A wrapped description fits its box.
        if (auto *label = qobject_cast<const QLabel *>(control); label && label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << c.name;
        }
    }
    EXPECT_EQ(window.findChildren<QWidget *>().size(), std::size(controls));
}

TEST(CommandLineHelpWindow, OnlyOkWithACommandLineEndsTheProcess)
{
    const struct { bool byOk; QString commandLine; bool asksForHelp, ends; } cases[] = {
        {true, "/?", true, true},       {true, "/p 64 /?", true, true}, {true, "cheese", false, true},
        {true, "", false, false},       {false, "/?", true, false},     {false, "/ip 10.0.0.1/?", true, false},
        {false, "", false, false},      {true, "/ ?", false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.commandLine.toStdString() + (c.byOk ? " OK" : " close box"));
        CommandLineHelpDialog window;
        window.show();
        if (c.byOk)
            QTest::keyClick(&window, Qt::Key_Return); // OK is the default button
        else
            window.close();
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(window.closedByOk(), c.byOk);
        EXPECT_EQ(helpEndsProcess(window.closedByOk(), c.commandLine), c.ends);
        EXPECT_EQ(commandLineAsksForHelp(c.commandLine), c.asksForHelp);
    }
}

TEST(QtDialogsFilters, DescriptionPatternPairsBecomeQtNameFilters)
{
    const struct { QString filter; QStringList expected; } cases[] = {
        {"IP File (*.ip)|*.ip", {"IP File (*.ip)"}},
        {"Text (*.txt)|*.txt|All Files (*.*)|*.*", {"Text (*.txt)", "All Files (*.*)"}},
        {"Logs|*.txt;*.log", {"Logs (*.txt *.log)"}},
        {"Old (*.old)|*.txt", {"Old (*.txt)"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(QtDialogs::nameFilters(c.filter), c.expected) << c.filter.toStdString();
}

namespace {

AddressSet example()
{
    AddressSet lists;
    for (const auto &[k, value] : {std::pair{0, 10}, {1, 0}, {1, 1}, {2, 255}, {3, 1}, {3, 2}, {3, 3}})
        lists[std::size_t(k)].setSelected(value, true);
    return lists;
}

// The IP file commands on a stand-in for the window's four lists.
struct IPRig
{
    QString file(const QString &name, const QByteArray &bytes = QByteArray()) const
    {
        QFile out(folder.filePath(name));
        EXPECT_TRUE(bytes.isNull() || (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size()));
        return out.fileName();
    }
    void checkRequests(bool save) const
    {
        for (const auto &request : dialogs.fileRequests) {
            EXPECT_EQ(request.save, save);
            EXPECT_EQ(request.title, QStringLiteral("IP File"));
            EXPECT_EQ(request.filter, QStringLiteral("IP File (*.ip)|*.ip"));
            EXPECT_EQ(request.flags, 2054);
        }
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }

    QTemporaryDir folder;
    ScriptedDialogs dialogs;
    QWidget window;
    AddressSet lists = example();
    int replaced = 0;
    bool hourglassWhileReplacing = false;
    IPFileCommands commands{dialogs,
                            {[this] { return lists; },
                             [this](const AddressSet &replacement) {
                                 lists = replacement;
                                 ++replaced;
                                 const QCursor *cursor = QGuiApplication::overrideCursor();
                                 hourglassWhileReplacing = cursor && cursor->shape() == Qt::WaitCursor;
                             }},
                            &window};
};

} // namespace

TEST(IPFileCommands, SaveChecksTheListsWritesAndSharesItsNameWithOpen)
{
    IPRig rig;
    const QString path = rig.file(QStringLiteral("seven.ip"));
    rig.lists = {};
    rig.commands.saveIPFile(); // nothing selected: the list check's message, no dialog
    ASSERT_EQ(rig.dialogs.messages.size(), 1);
    EXPECT_EQ(rig.dialogs.messages[0].title, QStringLiteral("List Box"));
    EXPECT_TRUE(rig.dialogs.fileRequests.isEmpty());

    rig.lists = example();
    rig.dialogs.paths << std::nullopt << path;
    rig.commands.saveIPFile(); // cancelled
    EXPECT_FALSE(QFile::exists(path));
    rig.commands.saveIPFile();
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("0,11\r\n1,1\r\n1,2\r\n2,256\r\n3,2\r\n3,3\r\n3,4\r\n"));
    rig.checkRequests(true);
    EXPECT_EQ(rig.dialogs.messages.size(), 1);

    // Saved then opened: the same selections; the dialog shows the saved name.
    rig.lists = {};
    rig.dialogs.paths << path;
    rig.commands.openIPFile();
    EXPECT_TRUE(rig.lists == example());
    EXPECT_EQ(rig.dialogs.fileRequests.last().presetName, path);

    // A full disk is reported, any other write error is not.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        rig.dialogs.paths << QStringLiteral("/dev/full") << rig.file(QStringLiteral("none/x.ip"));
        rig.commands.saveIPFile();
        rig.commands.saveIPFile();
        ASSERT_EQ(rig.dialogs.messages.size(), 2);
        EXPECT_EQ(rig.dialogs.messages[1].title, QStringLiteral("IP File"));
        EXPECT_EQ(rig.dialogs.messages[1].text, QStringLiteral("The IP File has filled up the current disk.  "
                                                               "Please resolve the issue and try to saving again!"));
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

TEST(IPFileCommands, OpenAsksAgainAfterAnInvalidFileUntilValidOrCancelled)
{
    const struct { const char *name; QList<QByteArray> files; bool cancelAtEnd; std::optional<AddressSet> loaded; } cases[] = {
        {"valid at once", {"3,256\r\n"}, false, [] { AddressSet s; s[3].setSelected(255, true); return s; }()},
        {"empty file clears every list", {""}, false, AddressSet{}},
        {"invalid, missing, then valid", {"4,1\r\n", QByteArray(), "1,1\r\n1,1\r\n"}, false,
         [] { AddressSet s; s[1].setSelected(0, true); return s; }()},
        {"cancelled at once", {}, true, std::nullopt},
        {"invalid then cancelled", {"0,257\r\n"}, true, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        IPRig rig;
        QStringList chosen;
        for (const QByteArray &bytes : c.files)
            chosen << rig.file(QString::number(chosen.size()) + QStringLiteral(".ip"), bytes);
        for (const QString &path : chosen)
            rig.dialogs.paths << path;
        if (c.cancelAtEnd)
            rig.dialogs.paths << std::nullopt;
        rig.dialogs.paths << rig.file(QStringLiteral("never.ip"), "0,1\r\n");

        rig.commands.openIPFile();

        EXPECT_EQ(rig.dialogs.paths.size(), 1); // never.ip was not asked for
        EXPECT_EQ(rig.dialogs.messages.size(), chosen.size() - (c.loaded ? 1 : 0));
        for (const auto &m : rig.dialogs.messages) {
            EXPECT_EQ(m.title, QStringLiteral("IP File"));
            EXPECT_EQ(m.text, QStringLiteral("The IP File is invalid.  Please select a different file!"));
            EXPECT_EQ(m.icon, Dialogs::Icon::Exclamation);
        }
        EXPECT_TRUE(rig.lists == c.loaded.value_or(example()));
        EXPECT_EQ(rig.replaced, c.loaded ? 1 : 0);
        EXPECT_EQ(rig.hourglassWhileReplacing, c.loaded.has_value());
        rig.checkRequests(false);
        for (qsizetype i = 1; i < rig.dialogs.fileRequests.size(); ++i)
            EXPECT_EQ(rig.dialogs.fileRequests[i].presetName, chosen[i - 1]);
    }
}
