// Placing the program's boxes and dialogs exactly: centred with their outer
// frame included, whether or not a window manager draws one.
#pragma once

#include <QMessageBox>
#include <QRect>
#include <functional>

class QWidget;

namespace tamrel {

// Moves a top-level window so that its outer frame stands centred in area.
void CentreWindow(QWidget* window, const QRect& area);

// Centres the window now, as it is being shown, and once more right after:
// a window manager's frame is known only once the window is mapped.
void CentreWhenShown(QWidget* window, const std::function<QRect()>& area);

// The screen of a window (the primary one when it has none): its whole area.
QRect ScreenAreaOf(const QWidget* window);

// A message box that stands centred on its screen.
class CentredMessageBox : public QMessageBox {
    Q_OBJECT
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace tamrel
