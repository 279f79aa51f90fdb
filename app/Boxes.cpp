#include "Boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "Placement.h"

namespace tamrel {

QWidget* DesktopBoxes::Parent() const {
    // A box over an open dialog belongs to that dialog; otherwise to the
    // main window.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return owner_;
}

void DesktopBoxes::MessageBox(Icon icon, const QString& text, const QString& caption) {
    const QMessageBox::Icon boxIcon = icon == Icon::Warning       ? QMessageBox::Warning
                                      : icon == Icon::Information ? QMessageBox::Information
                                                                  : QMessageBox::Critical;
    // The main window is the parent, for activation when the box closes; the
    // box itself stands centred on the screen, and application-modal keeps
    // every window of the program out meanwhile.
    CentredMessageBox box(boxIcon, caption, text, QMessageBox::Ok, Parent());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool DesktopBoxes::Question(const QString& text, const QString& caption, const QString& yes,
                            const QString& no) {
    CentredMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, Parent());
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* noButton = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(noButton);
    box.setEscapeButton(noButton);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return box.clickedButton() == yesButton;
}

}  // namespace tamrel
