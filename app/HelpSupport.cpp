#include "HelpSupport.h"

#include "Placement.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "AppSetup.h"
#include "Icons.h"

namespace tamrel {

HelpDocuments HelpDocuments::Installed() {
    HelpDocuments documents;
    const QDir program(QCoreApplication::applicationDirPath());
    // The Debian package: /usr/share/doc/tamrel and the manual's section 1;
    // the Windows ZIP: README.txt beside the program.
    for (const QString& readme : {program.filePath(QStringLiteral("../share/doc/tamrel/README.md")),
                                  program.filePath(QStringLiteral("README.txt"))})
        if (QFileInfo(readme).isFile()) {
            documents.readme = QDir::cleanPath(readme);
            break;
        }
    for (const QString& manual :
         {program.filePath(QStringLiteral("../share/man/man1/tamrel-cli.1.gz")),
          program.filePath(QStringLiteral("../share/man/man1/tamrel-cli.1"))})
        if (QFileInfo(manual).isFile()) {
            documents.manual = QDir::cleanPath(manual);
            break;
        }
    return documents;
}

void CaptionedBox::paintEvent(QPaintEvent*) {
    // An etched frame (a dark line with a light one inside it) whose top
    // line runs through the middle of the caption; the caption's own
    // background breaks the line, and the controls inside stand clear of both.
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRect frame = rect().adjusted(0, top, -1, -1);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.adjusted(1, 1, 0, 0));
    const QRect caption(8, 0, metrics.horizontalAdvance(title()) + 2, metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption.adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title());
}

LinkLabel::LinkLabel(const QString& text, const QString& target, UrlOpener opener, QWidget* parent)
    : QLabel(text, parent), target_(target), opener_(std::move(opener)) {
    QFont font = SansSerifFont(12);
    font.setUnderline(true);
    setFont(font);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    ShowColor(palette().color(QPalette::Highlight));
    adjustSize();
}

QUrl LinkLabel::Address() const {
    const QString target = target_.trimmed().isEmpty() ? text() : target_;
    // The desktop opens "MailTo:" targets in the mail program and a web
    // address without a scheme in the browser.
    return QUrl::fromUserInput(target);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return;
    // A link the desktop refuses changes nothing and shows nothing.
    if (opener_(Address())) {
        visited_ = true;
        ShowColor(kVisitedColor);
    }
}

void LinkLabel::ShowColor(const QColor& color) {
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, color);
    setPalette(colors);
}

THelpSupport::THelpSupport(QWidget* parent, UrlOpener opener, const HelpDocuments& documents)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    if (!opener)
        opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    setObjectName(QStringLiteral("HelpSupport"));
    setWindowTitle(QStringLiteral("Help / Support"));
    setWindowIcon(ProgramIcon());
    setFont(SansSerifFont(10));
    setFixedSize(kClientWidth, kClientHeight);

    auto* picture = new QLabel(this);
    picture->setPixmap(Picture(QStringLiteral("tamrel"), 32));
    picture->setGeometry(8, 0, 32, 32);

    // The free "MS Sans Serif" comes only in bitmap sizes, with no bold; the
    // credit asks an outline font for its 19 bold pixels, and names the
    // program as short as that size allows in this width.
    credit_ = new QLabel(QStringLiteral("Tamrel Ast-Abk"), this);
    QFont creditFont = SansSerifFont(19);
    creditFont.setFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Tahoma"), QStringLiteral("sans-serif")});
    creditFont.setStyleStrategy(QFont::ForceOutline);
    creditFont.setBold(true);
    credit_->setFont(creditFont);
    credit_->move(49, 10);
    credit_->adjustSize();

    // No address is made up: the two links lead to what is installed with
    // the program, the README and the manual, and stay empty without them.
    GroupBox1 = new CaptionedBox(QStringLiteral("Contact Info: "), this);
    GroupBox1->setGeometry(7, 33, 234, 59);
    const QString readmeText =
        QFontMetrics(SansSerifFont(12))
            .elidedText(QDir::toNativeSeparators(documents.readme), Qt::ElideMiddle, 212);
    mailLink_ = new LinkLabel(
        readmeText,
        documents.readme.isEmpty() ? QString() : QUrl::fromLocalFile(documents.readme).toString(),
        opener, GroupBox1);
    mailLink_->move(11, 14);
    mailLink_->setVisible(!documents.readme.isEmpty());
    webLink_ =
        new LinkLabel(documents.manual.isEmpty() ? QString() : QStringLiteral("man tamrel-cli"),
                      QStringLiteral("man:tamrel-cli"), opener, GroupBox1);
    webLink_->move(11, 33);
    webLink_->setVisible(!documents.manual.isEmpty());

    GroupBox2 = new CaptionedBox(QStringLiteral("Financially support of Author: "), this);
    GroupBox2->setGeometry(7, 98, 234, 182);
    auto* text =
        new QLabel(QStringLiteral("You can support Author financially\nBank Numbers:"), GroupBox2);
    text->setGeometry(7, 20, 161, 26);
    // The program is free: the fields say so instead of holding account numbers.
    fields_[0] =
        AddField(QStringLiteral("No payment needed: this program is free"), {7, 52, 221, 24});
    fields_[1] = AddField(QStringLiteral("No bank account: nothing to pay"), {7, 78, 221, 24});
    auto* service = new QLabel(QStringLiteral("When something fails, keep:"), GroupBox2);
    service->move(7, 105);
    service->adjustSize();
    fields_[2] = AddField(QStringLiteral("the pair's names"), {7, 124, 104, 24});
    fields_[3] = AddField(QStringLiteral("the error's text"), {124, 124, 104, 24});
    fields_[4] = AddField(QStringLiteral("what you did"), {7, 150, 104, 24});
    fields_[5] = AddField(QStringLiteral("the _.tba file"), {124, 150, 104, 24});

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(88, 287, 65, 19);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &THelpSupport::Button1Click);

    // Tab: OK, the narrow fields left-top, right-top, right-bottom,
    // left-bottom, the wide fields top and bottom, and back to OK.
    QWidget* order[] = {Button1,    fields_[2], fields_[3], fields_[5],
                        fields_[4], fields_[0], fields_[1]};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    Button1->setFocus();
}

QLineEdit* THelpSupport::AddField(const QString& text, const QRect& place) {
    auto* field = new QLineEdit(text, GroupBox2);
    field->setGeometry(place);
    field->setReadOnly(true);  // selectable and copyable, never changed
    field->setFocusPolicy(Qt::StrongFocus);
    field->setCursorPosition(0);
    QPalette colors = field->palette();
    // One line on the scroll-bar colour, focused or not.
    for (auto group : {QPalette::Active, QPalette::Inactive})
        colors.setColor(group, QPalette::Base, palette().color(QPalette::Midlight));
    field->setPalette(colors);
    return field;
}

void THelpSupport::Button1Click() {
    accept();
}

void THelpSupport::keyPressEvent(QKeyEvent* event) {
    // Esc does not close this dialog; only OK, the close box, Alt+F4 do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tamrel

namespace tamrel {

void THelpSupport::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred over the main window, frames included.
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        CentreWhenShown(this, [owner] { return owner->frameGeometry(); });
}

}  // namespace tamrel
