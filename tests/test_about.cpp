#include "qtprinters.h"

#include "about/aboutdialog.h"
#include "about/typedcharacters.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <vector>

using namespace vexal;

namespace {

// One opening of the About window, shown offscreen, with every painted step
// of the photograph's growth and whether any control was usable meanwhile.
struct Opening
{
    explicit Opening(TypedCharacters &typed)
        : dialog(typed)
    {
        dialog.setPictureRepaint([this](const QRect &twips) {
            steps.push_back(twips);
            controlsShownWhileGrowing |= find("cmdOK")->isEnabled() || find("cmdCommandLine")->isEnabled()
                || find("txtAbout")->isVisible();
        });
        dialog.show();
        exposed = QTest::qWaitForWindowExposed(&dialog);
    }
    template<typename W = QWidget>
    W *find(const char *name) const { return dialog.findChild<W *>(QLatin1String(name)); }
    // Typed as the user types: through the window, to whichever control has the focus.
    void type(const char *keys)
    {
        for (const char *k = keys; *k; ++k)
            QTest::keyClick(dialog.windowHandle(), *k);
    }

    AboutDialog dialog;
    std::vector<QRect> steps;
    bool controlsShownWhileGrowing = false;
    bool exposed = false;
};

} // namespace

TEST(About, LayoutTextButtonsAndLogo)
{
    TypedCharacters typed;
    Opening about(typed);
    ASSERT_TRUE(about.exposed);
    AboutDialog &d = about.dialog;
    EXPECT_EQ(d.objectName() + '|' + d.windowTitle(), QStringLiteral("frmAbout|About Vexal"));
    EXPECT_EQ(d.size(), QSize(201, 209));
    EXPECT_FALSE(d.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(d.windowIcon().isNull());
    EXPECT_LE((d.frameGeometry().center() - d.screen()->geometry().center()).manhattanLength(), 2);
    EXPECT_EQ(about.find<QPushButton>("cmdOK")->text() + '|' + about.find<QPushButton>("cmdCommandLine")->text(),
              QStringLiteral("OK|Command Line"));
    EXPECT_EQ(QApplication::focusWidget(), about.find("cmdOK"));
    EXPECT_FALSE(about.find("pctAuth")->isVisible());
    const QString text = QStringLiteral("Written by: The Vexal project\r\nVersion Number: 2.0\r\nE-mail: vexal@example.org\r\n"
                                        "https://vexal.example.org/\r\n\r\nAddress:\r\n\tThe Vexal Project\r\n"
                                        "\tP.O. Box 0000\r\n\tAnytown, ST 00000");
    EXPECT_EQ(AboutDialog::aboutText(), text);
    auto *txtAbout = about.find<QPlainTextEdit>("txtAbout");
    EXPECT_EQ(txtAbout->toPlainText(), QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    EXPECT_TRUE(txtAbout->isReadOnly());

    std::vector<QWidget *> helpParents;
    std::vector<QUrl> opened;
    d.setCommandLineHandler([&](QWidget *parent) { helpParents.push_back(parent); });
    d.setUrlOpener([&](const QUrl &url) { opened.push_back(url); });
    QTest::mouseClick(about.find("cmdCommandLine"), Qt::LeftButton);
    EXPECT_EQ(helpParents, std::vector<QWidget *>{&d});
    EXPECT_EQ(about.find("pctMakerLogo")->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(about.find("pctMakerLogo"), Qt::LeftButton);
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl(QStringLiteral("https://vexal.example.org/"))});
    QTest::keyClick(d.windowHandle(), Qt::Key_Escape); // no Cancel button: the window stays
    EXPECT_TRUE(d.isVisible());
    QTest::mouseClick(about.find("cmdOK"), Qt::LeftButton);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST(About, TheWordRevealsAcrossOpeningsOnlyWhenTypedExactly)
{
    // Keys typed in successive openings of the window, and which opening reveals.
    const std::pair<std::vector<const char *>, std::vector<bool>> rows[] = {
        {{"zorbel"}, {true}},          {{"Zorbel"}, {false}},         {{"zorBel"}, {false}},
        {{"xzorbel"}, {false}},        {{"zor", "bel"}, {false, true}}, {{"x", "zorbel"}, {false, false}},
        {{"zorbel", "zorbel"}, {true, false}}, {{"zorbelzorbel"}, {true}},
    };
    for (const auto &[openings, reveals] : rows) {
        TypedCharacters typed;
        for (std::size_t i = 0; i < openings.size(); ++i) {
            Opening about(typed);
            about.type(openings[i]);
            EXPECT_EQ(about.find("pctAuth")->isVisible(), reveals[i]) << openings[0] << " opening " << i;
        }
    }
    // Ctrl+A types a control character and selects all the text: the window
    // counts it (so the word can no longer reveal) and the field still acts on it.
    TypedCharacters typed;
    Opening about(typed);
    auto *txtAbout = about.find<QPlainTextEdit>("txtAbout");
    txtAbout->setFocus();
    QTest::keyClick(about.dialog.windowHandle(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(txtAbout->textCursor().selectedText().size(), txtAbout->toPlainText().size());
    about.type("zorbel");
    EXPECT_TRUE(about.steps.empty());
}

TEST(About, RevealGrowsThePictureThenTheTickRestores)
{
    TypedCharacters typed;
    Opening about(typed);
    ASSERT_TRUE(about.exposed);
    auto *timer = about.find<QTimer>("tmrPicture");
    EXPECT_TRUE(timer->isActive() && timer->interval() == 1000) << "running from the start";
    about.dialog.onPictureTimerTick(); // the first tick finds nothing to restore and stops it
    EXPECT_FALSE(timer->isActive());
    about.type("zorbel");

    const int left = AboutDialog::pictureLeft(about.dialog.frameGeometry().width() * 15);
    ASSERT_EQ(about.steps.size(), 192u + 179u);
    for (std::size_t i = 0; i < about.steps.size(); ++i) {
        const int n = int(i < 192 ? i : i - 192);
        ASSERT_EQ(about.steps[i], QRect(QPoint(left, 480), i < 192 ? QSize(1 + 10 * n, 1) : QSize(1911, 1 + 10 * n))) << i;
    }
    EXPECT_FALSE(about.controlsShownWhileGrowing);
    EXPECT_EQ(about.find("pctAuth")->geometry(), QRect(left / 15, 32, 127, 118));
    EXPECT_TRUE(about.find("pctAuth")->isVisible());
    EXPECT_TRUE(timer->isActive());
    about.dialog.onPictureTimerTick();
    EXPECT_FALSE(about.find("pctAuth")->isVisible());
    EXPECT_TRUE(about.find("txtAbout")->isVisible());
    EXPECT_TRUE(about.find("cmdOK")->isEnabled() && about.find("cmdCommandLine")->isEnabled());
    EXPECT_FALSE(timer->isActive());

    // Integer division truncates towards zero, also for a window narrower than the photograph.
    for (const auto &[outer, pictureLeft] : {std::pair{3135, 547}, {3015, 487}, {2039, 0}, {2037, -1}, {1000, -520}})
        EXPECT_EQ(AboutDialog::pictureLeft(outer), pictureLeft) << outer;
}
