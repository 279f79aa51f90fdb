#include "BalloonTip.h"

#include <QBitmap>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QScreen>

#include "AppSetup.h"

namespace tamrel {

BalloonLayout LayOutBalloon(QPoint pointer, QSize textSize, const QRect& screen) {
    BalloonLayout layout;
    const int boxWidth = std::max(kBalloonMinWidth, textSize.width() + 2 * kBalloonPadding);
    const int boxHeight = textSize.height() + 2 * kBalloonPadding;
    const int windowHeight = boxHeight + kBalloonTailLength;

    // Above and to the right, unless the screen has no room there.
    layout.above = pointer.y() - windowHeight >= screen.top();
    layout.right = pointer.x() - kBalloonRadius + boxWidth - 1 <= screen.right();

    // The tail's tip sits 10 pixels in from the box's side nearest the pointer.
    const int tipX = layout.right ? kBalloonRadius : boxWidth - kBalloonRadius;
    const int boxTop = layout.above ? 0 : kBalloonTailLength;
    layout.box = QRect(0, boxTop, boxWidth, boxHeight);
    layout.text =
        layout.box.adjusted(kBalloonPadding, kBalloonPadding, -kBalloonPadding, -kBalloonPadding);
    const int tipY = layout.above ? windowHeight - 1 : 0;
    // The tip points at the pointer from the pixel just above (or below)
    // it: were the balloon under the pointer, it would take the pointer from
    // the control, which would close the balloon at once.
    const int gap = layout.above ? -1 : 1;
    layout.window = QRect(pointer.x() - tipX, pointer.y() - tipY + gap, boxWidth + 1, windowHeight);

    // The tail: a right triangle whose base runs along the edge nearer the
    // pointer, from 10 to 30 pixels in from the corner, with its tip straight
    // out from the base's end at 10 pixels.
    const int edgeY = layout.above ? layout.box.bottom() : layout.box.top();
    const int farX = layout.right ? tipX + 2 * kBalloonRadius : tipX - 2 * kBalloonRadius;
    QPainterPath box;
    box.addRoundedRect(QRectF(layout.box).adjusted(0.5, 0.5, -0.5, -0.5), kBalloonRadius,
                       kBalloonRadius);
    QPainterPath tail;
    tail.moveTo(tipX + 0.5, edgeY + (layout.above ? -2.0 : 2.0));
    tail.lineTo(tipX + 0.5, tipY + 0.5);
    tail.lineTo(farX + 0.5, edgeY + (layout.above ? -2.0 : 2.0));
    tail.closeSubpath();
    layout.shape = box.united(tail);
    return layout;
}

BalloonTip::BalloonTip()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(SansSerifFont(13));
}

void BalloonTip::ShowAt(const QString& text, QPoint pointer) {
    text_ = text;
    const QFontMetrics metrics(font());
    const QSize textSize =
        metrics.boundingRect(QRect(0, 0, kBalloonTextWidth, 10000), Qt::TextWordWrap, text).size();
    const QScreen* screen = QGuiApplication::screenAt(pointer);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    layout_ =
        LayOutBalloon(pointer, textSize, screen ? screen->geometry() : QRect(0, 0, 4096, 4096));
    setGeometry(layout_.window);
    // A mask gives the window the balloon's shape on every desktop, with or
    // without a compositor. It is drawn with the very pen and path that
    // paint the balloon, so the outline lies inside it on every side and
    // nothing of the window shows outside.
    QBitmap mask(layout_.window.size());
    mask.fill(Qt::color0);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(Qt::color1, 1));
        painter.setBrush(Qt::color1);
        painter.drawPath(layout_.shape);
    }
    setMask(mask);
    show();
    update();
}

void BalloonTip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(palette().color(QPalette::ToolTipText), 1));
    painter.setBrush(palette().color(QPalette::ToolTipBase));
    painter.drawPath(layout_.shape);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(layout_.text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text_);
}

BalloonTipController::BalloonTipController(QObject* parent)
    : QObject(parent), tip_(new BalloonTip) {
    showTimer_.setSingleShot(true);
    hideTimer_.setSingleShot(true);
    // The delays are the user's to feel: a coarse timer may run 5 % late.
    showTimer_.setTimerType(Qt::PreciseTimer);
    hideTimer_.setTimerType(Qt::PreciseTimer);
    reshowWindow_.setSingleShot(true);
    connect(&showTimer_, &QTimer::timeout, this, &BalloonTipController::ShowTip);
    connect(&hideTimer_, &QTimer::timeout, this, &BalloonTipController::HideTip);
}

BalloonTipController::~BalloonTipController() {
    delete tip_;
}

void BalloonTipController::AddHint(QWidget* control, const QString& hint) {
    hints_.insert(control, hint);
    Watch(control);
}

void BalloonTipController::AddHintSource(QWidget* control, std::function<QString(QPoint)> source) {
    sources_.insert(control, std::move(source));
    Watch(control);
}

void BalloonTipController::Watch(QWidget* control) {
    control->setMouseTracking(true);
    control->installEventFilter(this);
    connect(control, &QObject::destroyed, this, [this, control] {
        hints_.remove(control);
        sources_.remove(control);
    });
}

QString BalloonTipController::HintHere(QWidget* control) const {
    if (const auto source = sources_.find(control); source != sources_.end())
        return (*source)(control->mapFromGlobal(QCursor::pos()));
    return hints_.value(control);
}

bool BalloonTipController::eventFilter(QObject* watched, QEvent* event) {
    auto* control = qobject_cast<QWidget*>(watched);
    if (!control || (!hints_.contains(control) && !sources_.contains(control)))
        return false;
    switch (event->type()) {
        case QEvent::ToolTip:
            return true;  // our balloon, never Qt's own tip
        case QEvent::Enter:
            current_ = control;
            pending_ = HintHere(control);
            if (!pending_.isEmpty())
                showTimer_.start(tip_->isVisible() || reshowWindow_.isActive() ? kReshowDelayMs
                                                                               : kInitialDelayMs);
            break;
        case QEvent::MouseMove:
            if (current_ != control)
                break;
            // Onto another part of a control with hints by place: that
            // part's hint, or none.
            if (sources_.contains(control)) {
                const QString hint = HintHere(control);
                if (hint != pending_) {
                    const bool wasShowing = tip_->isVisible();
                    HideTip();
                    pending_ = hint;
                    showTimer_.stop();
                    if (!hint.isEmpty())
                        showTimer_.start(wasShowing ? kReshowDelayMs : kInitialDelayMs);
                    break;
                }
            }
            // The delay counts from the moment the pointer came to rest.
            if (!tip_->isVisible() && showTimer_.isActive() &&
                showTimer_.interval() == kInitialDelayMs)
                showTimer_.start(kInitialDelayMs);
            break;
        case QEvent::Leave:
            // A window that opens under the pointer can take it for a
            // moment; while the pointer still stands on the control, the
            // pointer did not leave it.
            if (current_ == control &&
                control->rect().contains(control->mapFromGlobal(QCursor::pos())))
                break;
            if (current_ == control) {
                current_ = nullptr;
                showTimer_.stop();
                if (tip_->isVisible()) {
                    HideTip();
                    reshowWindow_.start(kInitialDelayMs);
                }
            }
            break;
        case QEvent::MouseButtonPress:
        case QEvent::Hide:
            showTimer_.stop();
            HideTip();
            break;
        default:
            break;
    }
    return false;
}

void BalloonTipController::ShowTip() {
    if (!current_ || !current_->isVisible() || pending_.isEmpty())
        return;
    tip_->ShowAt(pending_, QCursor::pos());
    hideTimer_.start(kShowTimeMs);
}

void BalloonTipController::HideTip() {
    hideTimer_.stop();
    tip_->hide();
}

}  // namespace tamrel
