// A GoogleTest main for tests that need a QApplication. Windows are drawn
// offscreen unless the caller chose a platform.
#include <QApplication>
#include <QDir>
#include <QLocale>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef _WIN32
    // The offscreen platform reads fonts from a folder, not from Windows:
    // the system's own, where Arial is, as the program itself does.
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR"))
        qputenv("QT_QPA_FONTDIR", QDir::fromNativeSeparators(qEnvironmentVariable("WINDIR") + "/Fonts").toLocal8Bit());
#endif
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    return RUN_ALL_TESTS();
}
