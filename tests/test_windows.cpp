// The secondary windows and the IP file commands, headless.
#include "windowrig.h"

#include "addresses/ipfilecommands.h"
#include "app/commandlinehelp.h"
#include "app/commandlinehelpdialog.h"
#include "logging/logsettingsdialog.h"

#include <QFile>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace vexal;

namespace {

void expectFixedAndCentred(QWidget *window, const char *name, const char *title, QSize size)
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->objectName() + '|' + window->windowTitle(), QStringLiteral("%1|%2").arg(name, title));
    EXPECT_EQ(window->size(), size);
    EXPECT_FALSE(window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
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
    template<typename W = QPushButton>
    W *find(const QString &name) const { return window->findChild<W *>(name); }
    QRadioButton *fileType(int i) const { return find<QRadioButton>(QStringLiteral("optFileType%1").arg(i)); }
    QRadioButton *databaseType(int i) const { return find<QRadioButton>(QStringLiteral("optDatabaseType%1").arg(i)); }
    void close() const { find(QStringLiteral("cmdClose"))->click(); }

    ScriptedDialogs dialogs;
    LogSettings settings;
    std::unique_ptr<LogSettingsDialog> window;
};

} // namespace

TEST(LogSettingsWindow, OpensWithTheStoredModesAndOnlyCloseStoresNewOnes)
{
    LogRig rig;
    rig.settings.TextLogMode = LogMode::LogAll;
    rig.settings.TextLogFile = QStringLiteral("/v/run.txt");
    rig.settings.DatabaseLogFile = QStringLiteral("/v/run.mdb");
    rig.open();
    expectFixedAndCentred(rig.window.get(), "frmLog", "Log Information", {241, 289});
    const std::pair<const char *, const char *> captions[] = {
        {"fraFile", "File"}, {"optFileType0", "None"}, {"optFileType1", "Log Unique"}, {"optFileType2", "Log All"},
        {"lblFileLabel", "File Name:"}, {"cmdFile", "&File"}, {"fraDatabase", "Database"},
        {"lblDatabaseLabel", "Database Name:"}, {"cmdDatabase", "&Database"}, {"cmdClose", "&Close"},
        {"lblFile", "/v/run.txt"}, {"lblDatabase", "/v/run.mdb"}};
    for (const auto &[name, text] : captions)
        EXPECT_EQ(caption(rig.find<QWidget>(name)), QLatin1String(text)) << name;
    EXPECT_TRUE(rig.fileType(2)->isChecked() && rig.databaseType(0)->isChecked());
    EXPECT_TRUE(rig.find("cmdFile")->isEnabled());
    EXPECT_FALSE(rig.find("cmdDatabase")->isEnabled());
    rig.fileType(1)->click();
    rig.databaseType(1)->click();
    EXPECT_TRUE(rig.find("cmdFile")->isEnabled() && rig.find("cmdDatabase")->isEnabled());
    rig.window->close(); // the title bar's close stores nothing
    EXPECT_EQ(rig.settings.TextLogMode, LogMode::LogAll);
    EXPECT_EQ(rig.settings.DatabaseLogMode, LogMode::LogNone);

    // The file buttons store the name chosen, and a cancelled dialog's empty one.
    rig.open();
    rig.dialogs.paths << QStringLiteral("/srv/run.txt") << QStringLiteral("/srv/run.mdb") << std::nullopt;
    rig.find("cmdFile")->click();
    rig.databaseType(1)->click();
    rig.find("cmdDatabase")->click();
    EXPECT_EQ(rig.settings.TextLogFile + ' ' + rig.settings.DatabaseLogFile, QStringLiteral("/srv/run.txt /srv/run.mdb"));
    EXPECT_EQ(rig.find<QLabel>("lblDatabase")->text(), QStringLiteral("/srv/run.mdb"));
    rig.find("cmdDatabase")->click();
    EXPECT_EQ(rig.settings.DatabaseLogFile + rig.find<QLabel>("lblDatabase")->text(), QString());
    QStringList requests; // every use starts blank
    for (const auto &r : rig.dialogs.fileRequests)
        requests << QStringLiteral("%1|%2|%3|%4|%5").arg(r.title, r.filter).arg(r.flags).arg(r.presetName).arg(r.save);
    EXPECT_EQ(requests, QStringList({"Log File|Text (*.txt)|*.txt|2052||0", "Log Database|Database (*.mdb)|*.mdb|2052||0",
                                     "Log Database|Database (*.mdb)|*.mdb|2052||0"}));
    rig.fileType(0)->click();
    EXPECT_FALSE(rig.find("cmdFile")->isEnabled());
    rig.dialogs.paths << QStringLiteral("/srv/other.mdb");
    rig.find("cmdDatabase")->click();
    rig.close();
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(rig.settings.TextLogMode, LogMode::LogNone);
    EXPECT_EQ(rig.settings.DatabaseLogMode, LogMode::LogUnique);
    EXPECT_EQ(rig.settings.TextLogFile, QStringLiteral("/srv/run.txt")) << "None keeps the path";
    EXPECT_TRUE(rig.dialogs.messages.isEmpty());
}

TEST(LogSettingsWindow, CloseChecksForAFileThenStoresBothModes)
{
    const QString fileText = QStringLiteral("Please select a file for logging IP information or select None!");
    const QString databaseText = QStringLiteral("Please select a IP database for logging information or select None!");
    const struct { QString textFile, databaseFile; int textChoice, databaseChoice; QString title, text; } cases[] = {
        {"", "", 2, 0, "File Logging", fileText},
        {"", "", 0, 1, "Database Logging", databaseText},
        {"", "", 1, 2, "File Logging", fileText},
        {"/t/a.txt", "", 1, 1, "Database Logging", databaseText},
        {"/t/a.txt", "/t/b.mdb", 2, 1, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.textChoice * 10 + c.databaseChoice);
        LogRig rig;
        rig.settings.TextLogFile = c.textFile;
        rig.settings.DatabaseLogFile = c.databaseFile;
        rig.open();
        rig.fileType(c.textChoice)->click();
        rig.databaseType(c.databaseChoice)->click();
        rig.close();
        const bool accepted = c.title.isEmpty();
        ASSERT_EQ(rig.dialogs.messages.size(), accepted ? 0 : 1);
        if (!accepted) {
            EXPECT_EQ(rig.dialogs.messages[0].title + '|' + rig.dialogs.messages[0].text, c.title + '|' + c.text);
            EXPECT_EQ(rig.dialogs.messages[0].icon, Dialogs::Icon::Exclamation);
        }
        EXPECT_EQ(rig.window->isVisible(), !accepted);
        EXPECT_EQ(rig.settings.TextLogMode, LogMode(accepted ? c.textChoice : 0));
        EXPECT_EQ(rig.settings.DatabaseLogMode, LogMode(accepted ? c.databaseChoice : 0));
    }
}

TEST(CommandLineHelpWindow, EveryTextExactAndOnlyOkWithACommandLineEndsTheProcess)
{
    CommandLineHelpDialog window;
    window.show();
    expectFixedAndCentred(&window, "frmCommandLineOptions", "Command Line Options", {319, 476});
    EXPECT_TRUE(window.findChild<QPushButton *>(QStringLiteral("cmdOK"))->isDefault());
    const std::pair<const char *, const char *> texts[] = {
        {"lblOptions", "Vexal[.exe] [/p] [/t] [/d] [/c] [/lfu | /lfa] [/ldu | /lda] /ip [/s]"},
        {"grpOptions", "Options"}, {"cmdOK", "OK"},
        {"lblp", "/p number"}, {"lblPacket", "Tells Vexal what Packet Size to use."},
        {"lblt", "/t number"}, {"lblTimeout", "Tells Vexal what the Timeout to use."},
        {"lbld", "/d number"}, {"lblDelay", "Tells Vexal what delay should be used between consecutive pings."},
        {"lblc", "/c"}, {"lblContinuous", "Tells Vexal if it should run in continuous mode."},
        {"lbllfu", "/lfu filename"},
        {"lblLogFileUnique", "Specifies the file Vexal is to use for logging unique positive response IP addresses."},
        {"lbllfa", "/lfa filename"},
        {"lblLogFileAll", "Specifies the file Vexal is to use for logging all positive response IP addresses."},
        {"lblldu", "/ldu filename"},
        {"lblLogDatabaseUnique", "Specifies the database Vexal is to use for logging unique positive response IP addresses."},
        {"lbllda", "/lda filename"},
        {"lblLogDatabaseAll", "Specifies the database Vexal is to use for logging all positive response IP addresses."},
        {"lblip", "/ip file or IP"},
        {"lblIP0rFile", "Tells Vexal what IP or IP addresses to Ping.  The user must specify either a single IP address "
                        "or an IP file generated by Vexal."},
        {"lbls", "/s"}, {"lblStartupMode", "Tells Vexal to run in hidden mode."},
    };
    for (const auto &[name, text] : texts) {
        const QWidget *control = window.findChild<QWidget *>(QLatin1String(name));
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(caption(control), QLatin1String(text)) << name;
        if (auto *label = qobject_cast<const QLabel *>(control); label && label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << name << " fits its box";
        }
    }
    EXPECT_EQ(window.findChildren<QWidget *>().size(), std::size(texts));

    const struct { bool byOk; QString commandLine; bool asksForHelp, ends; } cases[] = {
        {true, "/?", true, true},   {true, "/p 64 /?", true, true}, {true, "cheese", false, true}, {true, "", false, false},
        {false, "/?", true, false}, {false, "/ip 10.0.0.1/?", true, false}, {true, "/ ?", false, true},
    };
    for (const auto &c : cases) {
        CommandLineHelpDialog help;
        help.show();
        if (c.byOk)
            QTest::keyClick(&help, Qt::Key_Return); // OK is the default button
        else
            help.close();
        EXPECT_FALSE(help.isVisible());
        EXPECT_EQ(helpEndsProcess(help.closedByOk(), c.commandLine), c.ends) << c.commandLine.toStdString();
        EXPECT_EQ(commandLineAsksForHelp(c.commandLine), c.asksForHelp) << c.commandLine.toStdString();
    }
}

TEST(QtDialogsFilters, DescriptionPatternPairsBecomeQtNameFilters)
{
    const std::pair<QString, QStringList> cases[] = {
        {"IP File (*.ip)|*.ip", {"IP File (*.ip)"}},
        {"Text (*.txt)|*.txt|All Files (*.*)|*.*", {"Text (*.txt)", "All Files (*.*)"}},
        {"Logs|*.txt;*.log", {"Logs (*.txt *.log)"}},
        {"Old (*.old)|*.txt", {"Old (*.txt)"}},
    };
    for (const auto &[filter, expected] : cases)
        EXPECT_EQ(QtDialogs::nameFilters(filter), expected) << filter.toStdString();
}

namespace {

AddressSet example()
{
    AddressSet lists;
    for (const auto &[k, value] : {std::pair{0, 10}, {1, 0}, {1, 1}, {2, 255}, {3, 1}, {3, 2}, {3, 3}})
        lists[std::size_t(k)].setSelected(value, true);
    return lists;
}

} // namespace

TEST(IPFileCommands, SaveAndOpenCheckTellAFullDiskAndAskAgainAfterAnInvalidFile)
{
    QTemporaryDir folder;
    const auto file = [&](const char *name, const QByteArray &bytes = QByteArray()) {
        QFile out(folder.filePath(QLatin1String(name)));
        EXPECT_TRUE(bytes.isNull() || (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size()));
        return out.fileName();
    };
    ScriptedDialogs dialogs;
    QWidget window;
    AddressSet lists;
    int replaced = 0;
    bool hourglassWhileReplacing = false;
    IPFileCommands commands(dialogs, {[&] { return lists; }, [&](const AddressSet &replacement) {
                                          lists = replacement;
                                          ++replaced;
                                          const QCursor *cursor = QGuiApplication::overrideCursor();
                                          hourglassWhileReplacing = cursor && cursor->shape() == Qt::WaitCursor;
                                      }}, &window);
    commands.saveIPFile(); // nothing selected: the list check's message, no dialog
    EXPECT_TRUE(dialogs.fileRequests.isEmpty());
    lists = example();
    const QString saved = file("seven.ip");
    dialogs.paths << std::nullopt << file("none/x.ip") << QStringLiteral("/dev/full") << saved;
    QList<qsizetype> messagesAfter; // cancelled, a missing folder (no full disk), a full disk, written
    for (int i = 0; i < 4; ++i) {
        commands.saveIPFile();
        messagesAfter << dialogs.messages.size();
    }
    EXPECT_EQ(messagesAfter, QList<qsizetype>({1, 1, 2, 2})) << "only the full disk is reported";
    QFile written(saved);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("0,11\r\n1,1\r\n1,2\r\n2,256\r\n3,2\r\n3,3\r\n3,4\r\n"));
    const qsizetype saves = dialogs.fileRequests.size();

    // Opening asks again after an invalid or missing file until a valid one
    // is loaded, or the dialog is cancelled; each dialog shows the last name.
    lists = {};
    dialogs.paths << file("bad.ip", "4,1\r\n") << file("missing.ip") << saved << file("bad2.ip", "0,257\r\n") << std::nullopt;
    commands.openIPFile();
    EXPECT_TRUE(lists == example());
    EXPECT_TRUE(hourglassWhileReplacing);
    commands.openIPFile();
    EXPECT_EQ(replaced, 1) << "nothing loaded after the cancel";
    EXPECT_TRUE(lists == example());

    QStringList messages;
    for (const auto &m : dialogs.messages)
        messages << m.title + '|' + m.text;
    const QString invalid = QStringLiteral("IP File|The IP File is invalid.  Please select a different file!");
    EXPECT_EQ(messages, QStringList({"List Box|The first list box has no entries selected.  Please select at least one entry to continue!",
                                     "IP File|The IP File has filled up the current disk.  Please resolve the issue and try to saving again!",
                                     invalid, invalid, invalid}));
    ASSERT_EQ(dialogs.fileRequests.size(), saves + 5);
    QStringList presets;
    for (const auto &r : dialogs.fileRequests) {
        EXPECT_EQ(QStringLiteral("%1|%2|%3").arg(r.title, r.filter).arg(r.flags), QStringLiteral("IP File|IP File (*.ip)|*.ip|2054"));
        presets << QFileInfo(r.presetName).fileName() + (r.save ? "!" : "?");
    }
    EXPECT_EQ(presets.join(' '), QStringLiteral("! ! x.ip! full! seven.ip? bad.ip? missing.ip? seven.ip? bad2.ip?"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "no hourglass left behind";
}
