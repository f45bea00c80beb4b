#pragma once

#include <QDialog>
#include <QRect>
#include <QUrl>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace vexal {

class TypedCharacters;

// The About window (objectName "frmAbout"): version and contact text, the
// logo that opens the project's web page, Command Line and OK. The word
// typed as the first characters ever typed into it reveals a photograph,
// which grows into place and is hidden again by the next tick of a
// one-second timer.
class AboutDialog final : public QDialog
{
    Q_OBJECT

public:
    // Shows the command-line help window modally over `parent`.
    using CommandLineHandler = std::function<void(QWidget *parent)>;
    // Hands a web address to the desktop; the outcome is not looked at.
    using UrlOpener = std::function<void(const QUrl &url)>;
    // Paints one step of the photograph's growth at once; `twips` is its
    // place in the window, in twips.
    using PictureRepaint = std::function<void(const QRect &twips)>;

    // `typed` lives for the process; every opening of the window shares it.
    explicit AboutDialog(TypedCharacters &typed, QWidget *parent = nullptr);

    // The text of txtAbout, lines ended by CR LF, the last one by nothing.
    static QString aboutText();
    // The page the logo opens.
    static QUrl webPage();
    // The photograph's left edge, in twips, for a window this wide outside.
    static int pictureLeft(int outerWidthTwips);

    void setCommandLineHandler(CommandLineHandler handler);
    // By default QDesktopServices::openUrl.
    void setUrlOpener(UrlOpener opener);
    // By default an immediate repaint of the photograph.
    void setPictureRepaint(PictureRepaint repaint);

public slots:
    // tmrPicture: puts the window back as it was before the photograph.
    void onPictureTimerTick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void onCharacterTyped(const QString &text);
    void revealPicture();
    void setPictureTwips(const QRect &inTwips);
    void onCommandLineClicked();
    void onLogoClicked();

    TypedCharacters &m_typed;
    CommandLineHandler m_commandLineHandler;
    UrlOpener m_urlOpener;
    PictureRepaint m_pictureRepaint;
    QRect m_pictureTwips;
    bool m_watchingWindow = false;

    QPushButton *cmdOK = nullptr;
    QLabel *pctSinWave = nullptr;
    QLabel *pctAuth = nullptr;
    QPushButton *cmdCommandLine = nullptr;
    QPlainTextEdit *txtAbout = nullptr;
    QLabel *pctMakerLogo = nullptr;
    QTimer *tmrPicture = nullptr;
};

} // namespace vexal
