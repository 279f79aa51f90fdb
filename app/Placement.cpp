#include "Placement.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace tamrel {

namespace {
// Long enough for a window manager to have framed a mapped window.
constexpr int kFrameCorrectionMs = 50;
}  // namespace

void CentreWindow(QWidget* window, const QRect& area) {
    const QSize outer = window->frameGeometry().size();
    // move() places the outer frame's top-left corner of a top-level window.
    window->move(area.left() + (area.width() - outer.width()) / 2,
                 area.top() + (area.height() - outer.height()) / 2);
}

void CentreWhenShown(QWidget* window, const std::function<QRect()>& area) {
    CentreWindow(window, area());
    QPointer<QWidget> guarded(window);
    QTimer::singleShot(kFrameCorrectionMs, window, [guarded, area] {
        if (guarded && guarded->isVisible())
            CentreWindow(guarded, area());
    });
}

QRect ScreenAreaOf(const QWidget* window) {
    const QScreen* screen = window ? window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

void CentredMessageBox::showEvent(QShowEvent* event) {
    // QMessageBox sizes itself in its own showEvent: centre after it.
    QMessageBox::showEvent(event);
    QWidget* owner = parentWidget() ? parentWidget()->window() : this;
    CentreWhenShown(this, [owner] { return ScreenAreaOf(owner); });
}

}  // namespace tamrel
