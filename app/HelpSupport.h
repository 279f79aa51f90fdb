// THelpSupport: the "Help / Support" dialog, created anew on each press of
// its tool button. It says what the program is, where its README and its
// manual are installed, what to keep when something fails, and that nothing
// needs paying; its two links open through the desktop.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QUrl>
#include <array>
#include <functional>

class QLineEdit;
class QPushButton;

namespace tamrel {

// Hands a link to the desktop's "open" action; false when the desktop refuses it.
using UrlOpener = std::function<bool(const QUrl&)>;

// Where the program's documents are installed; empty for one that is not.
struct HelpDocuments {
    QString readme;  // the README file
    QString manual;  // the console program's manual page
    // Beside the program as the Debian package and the Windows ZIP put them.
    static HelpDocuments Installed();
};

// A label that opens its target when clicked, and shows it was opened.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    static inline const QColor kVisitedColor{128, 0, 128};

    LinkLabel(const QString& text, const QString& target, UrlOpener opener, QWidget* parent);
    bool Visited() const { return visited_; }
    // The address the desktop is given: the target, or the text when the target is blank.
    QUrl Address() const;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void ShowColor(const QColor& color);

    QString target_;
    UrlOpener opener_;
    bool visited_ = false;
};

// A group box whose caption sits on its etched frame line.
class CaptionedBox : public QGroupBox {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class THelpSupport : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 249;
    static constexpr int kClientHeight = 312;

    // opener: the desktop's open action; QDesktopServices::openUrl when empty.
    explicit THelpSupport(QWidget* parent = nullptr, UrlOpener opener = {},
                          const HelpDocuments& documents = HelpDocuments::Installed());

    LinkLabel* MailLink() const { return mailLink_; }
    LinkLabel* WebLink() const { return webLink_; }
    QPushButton* OkButton() const { return Button1; }
    QLabel* CreditLabel() const { return credit_; }
    QGroupBox* ContactBox() const { return GroupBox1; }
    QGroupBox* SupportBox() const { return GroupBox2; }
    // The two wide fields, then the four narrow ones: left-top, right-top,
    // left-bottom, right-bottom.
    const std::array<QLineEdit*, 6>& Fields() const { return fields_; }

    void Button1Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* AddField(const QString& text, const QRect& place);

    QLabel* credit_;
    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    LinkLabel* mailLink_;
    LinkLabel* webLink_;
    std::array<QLineEdit*, 6> fields_{};
    QPushButton* Button1;
};

}  // namespace tamrel
