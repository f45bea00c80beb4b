#pragma once

#include <QMargins>
#include <QObject>

class QWidget;

namespace vexal {

// Centres a top-level window on its screen by its outer size, title bar and
// borders included, each time the program shows it.
//
// Under X11 the window manager adds the frame only after the window is
// mapped, so at show time the frame is unknown. The centring then borrows the frame of another
// visible top-level window (the parent's, as a rule: same window manager,
// same decoration) and, once the window's own frame is known, centres again
// if it turned out different. Without a window manager there is no frame
// and the client area is centred.
//
// Usage: `new WindowCentring(this);` in the window's constructor.
class WindowCentring final : public QObject
{
    Q_OBJECT

public:
    // Watches `window`, which also owns this object.
    explicit WindowCentring(QWidget *window);

    // Centres now, by the real frame when it is known, else by the estimate.
    void centre();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMargins estimatedFrame() const;

    QWidget *m_window;
    QMargins m_frameUsed;
    bool m_settling = false;
};

} // namespace vexal
