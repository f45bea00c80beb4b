#include "windows/aboutdialog.h"

#include "common/typedcharacters.h"
#include "windows/windowlook.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

// The pictures are linked in from a static library, where nothing would
// otherwise pull their registration in; Q_INIT_RESOURCE must be called
// outside any namespace.
static void initAboutResources()
{
    Q_INIT_RESOURCE(about);
}

namespace vexal {

namespace {

// The photograph grows to 1911 x 1781 twips in steps of ten, starting at 1.
constexpr int GrowthStep = 10;
constexpr int WidestStep = 1920;
constexpr int HighestStep = 1785;
constexpr int PictureTop = 480;
// The outer width minus this, halved, centres the grown photograph.
constexpr int PictureCentring = 2040;

QLabel *picture(QWidget *parent, const char *name, const QString &resource, const QRect &inTwips)
{
    auto *label = place(new QLabel(parent), QLatin1String(name), twips(inTwips));
    // Shown at its own size from the top-left corner and cut off by the
    // control's edges, never scaled: that is what makes the growth a wipe.
    label->setPixmap(QPixmap(resource));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

AboutDialog::AboutDialog(TypedCharacters &typed, QWidget *parent)
    : QDialog(parent)
    , m_typed(typed)
    , m_urlOpener([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    initAboutResources();
    m_pictureRepaint = [this](const QRect &) { pctAuth->repaint(); };
    buildControls();
    centreOnScreen(this);

    txtAbout->setPlainText(aboutText());
    // Its first tick comes a second after the window opens and finds
    // nothing to put back; it only stops itself.
    tmrPicture->start();
}

QString AboutDialog::aboutText()
{
    return QStringLiteral("Written by: The Vexal project\r\n"
                          "Version Number: 2.0\r\n"
                          "E-mail: vexal@example.org\r\n"
                          "https://vexal.example.org/\r\n"
                          "\r\n"
                          "Address:\r\n"
                          "\tThe Vexal Project\r\n"
                          "\tP.O. Box 0000\r\n"
                          "\tAnytown, ST 00000");
}

QUrl AboutDialog::webPage()
{
    return QUrl(QStringLiteral("https://vexal.example.org/"));
}

int AboutDialog::pictureLeft(int outerWidthTwips)
{
    // Integer division truncates towards zero, also for a window narrower
    // than the photograph.
    return (outerWidthTwips - PictureCentring) / 2;
}

void AboutDialog::setCommandLineHandler(CommandLineHandler handler)
{
    m_commandLineHandler = std::move(handler);
}

void AboutDialog::setUrlOpener(UrlOpener opener)
{
    m_urlOpener = std::move(opener);
}

void AboutDialog::setPictureRepaint(PictureRepaint repaint)
{
    m_pictureRepaint = std::move(repaint);
}

void AboutDialog::buildControls()
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Vexal"));
    setWindowIcon(QIcon(QStringLiteral(":/about/vexal.png")));
    setModal(true);
    // A fixed single border: title and close box, nothing to resize or minimise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twipsSize(3015, 3135));

    // Created in tab order: OK first.
    cmdOK = place(new QPushButton(QStringLiteral("OK"), this), "cmdOK", twips(120, 2640, 1335, 375));
    pctSinWave = picture(this, "pctSinWave", QStringLiteral(":/about/vexal.png"),
                         QRect(120, 0, 480, 480));
    m_pictureTwips = QRect(840, PictureTop, 240, 225);
    pctAuth = picture(this, "pctAuth", QStringLiteral(":/about/photo.jpg"), m_pictureTwips);
    pctAuth->hide();
    cmdCommandLine = place(new QPushButton(QStringLiteral("Command Line"), this), "cmdCommandLine",
                           twips(1560, 2640, 1335, 375));
    txtAbout = place(new QPlainTextEdit(this), "txtAbout", twips(120, 600, 2775, 1935));
    txtAbout->setReadOnly(true);
    // Read-only, yet the reader can still move through it and copy from it.
    txtAbout->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtAbout->setFocusPolicy(Qt::StrongFocus);
    txtAbout->setTabChangesFocus(true);
    txtAbout->document()->setDocumentMargin(2);
    txtAbout->setTabStopDistance(txtAbout->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 6);
    pctMakerLogo = picture(this, "pctMakerLogo", QStringLiteral(":/about/logo.bmp"),
                           QRect(720, 0, 2175, 495));
    pctMakerLogo->setCursor(Qt::PointingHandCursor);
    pctMakerLogo->installEventFilter(this);

    tmrPicture = new QTimer(this);
    tmrPicture->setObjectName(QStringLiteral("tmrPicture"));
    tmrPicture->setInterval(1000);

    setTabOrder(cmdOK, cmdCommandLine);
    setTabOrder(cmdCommandLine, txtAbout);
    cmdOK->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &AboutDialog::accept);
    connect(cmdCommandLine, &QPushButton::clicked, this, &AboutDialog::onCommandLineClicked);
    connect(tmrPicture, &QTimer::timeout, this, &AboutDialog::onPictureTimerTick);
    // The same face and size as the main window, for which the twip layouts
    // were drawn; set on every control, the text box included.
    applyFormLook(this);
    txtAbout->setTabStopDistance(txtAbout->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 6);
}

void AboutDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Every key typed into this window, whichever control has the focus,
    // passes its native window first; watching there sees each character
    // once and before any control, and lets it go on to the control.
    if (!m_watchingWindow && windowHandle()) {
        windowHandle()->installEventFilter(this);
        m_watchingWindow = true;
    }
}

bool AboutDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched == windowHandle()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Tab only moves the focus; it types nothing.
        if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab && !key->text().isEmpty())
            onCharacterTyped(key->text());
    } else if (event->type() == QEvent::MouseButtonRelease && watched == pctMakerLogo) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && pctMakerLogo->rect().contains(mouse->position().toPoint()))
            onLogoClicked();
    }
    return false;
}

void AboutDialog::keyPressEvent(QKeyEvent *event)
{
    // There is no Cancel button: Escape types a character like any other
    // key and leaves the window open.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AboutDialog::onCharacterTyped(const QString &text)
{
    if (m_typed.append(text))
        revealPicture();
}

void AboutDialog::revealPicture()
{
    txtAbout->hide();
    repaint();
    const int left = pictureLeft(frameGeometry().width() * TwipsPerPixel);
    setPictureTwips(QRect(left, PictureTop, m_pictureTwips.width(), 1));
    pctAuth->show();
    cmdOK->setEnabled(false);
    cmdCommandLine->setEnabled(false);

    // The growth runs to its end without returning to the event loop; each
    // step is painted at once.
    for (int w = 1; w <= WidestStep; w += GrowthStep) {
        setPictureTwips(QRect(left, PictureTop, w, 1));
        m_pictureRepaint(m_pictureTwips);
    }
    const int width = m_pictureTwips.width();
    for (int h = 1; h <= HighestStep; h += GrowthStep) {
        setPictureTwips(QRect(left, PictureTop, width, h));
        m_pictureRepaint(m_pictureTwips);
    }
    // Restarted, so the grown photograph stays a whole second.
    tmrPicture->start();
}

void AboutDialog::setPictureTwips(const QRect &inTwips)
{
    m_pictureTwips = inTwips;
    pctAuth->setGeometry(twips(inTwips));
}

void AboutDialog::onPictureTimerTick()
{
    pctAuth->hide();
    txtAbout->show();
    cmdOK->setEnabled(true);
    cmdCommandLine->setEnabled(true);
    tmrPicture->stop();
}

void AboutDialog::onCommandLineClicked()
{
    if (m_commandLineHandler)
        m_commandLineHandler(this);
}

void AboutDialog::onLogoClicked()
{
    if (m_urlOpener)
        m_urlOpener(webPage());
}

} // namespace vexal
