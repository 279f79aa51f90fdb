// Balloon tool tips: a rounded box with a tail pointing at the pointer,
// opening after the pointer has rested on a control with a hint.
#pragma once

#include <QHash>
#include <QPainterPath>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace tamrel {

// Where a balloon stands for a pointer position; plain data, so tests can
// check the placement without showing anything.
struct BalloonLayout {
    QRect window;        // the balloon's window in global coordinates
    QRect box;           // the rounded box, in window coordinates
    QRect text;          // the text's rectangle, in window coordinates
    QPainterPath shape;  // box and tail together, in window coordinates
    bool above = true;   // false: below the pointer, tail on the upper edge
    bool right = true;   // false: left of the pointer, tail at the right
};

inline constexpr int kBalloonRadius = 10;
inline constexpr int kBalloonTailLength = 20;
inline constexpr int kBalloonTextWidth = 100;
inline constexpr int kBalloonMinWidth = 55;
inline constexpr int kBalloonPadding = 4;

// textSize: the wrapped text's size. The tail's tip stands on the pixel just
// above the pointer (below it when the balloon stands below), never under it.
BalloonLayout LayOutBalloon(QPoint pointer, QSize textSize, const QRect& screen);

class BalloonTip : public QWidget {
    Q_OBJECT
public:
    BalloonTip();
    // Shows text in a balloon pointing at pointer (global coordinates).
    void ShowAt(const QString& text, QPoint pointer);
    const QString& Text() const { return text_; }
    const BalloonLayout& Layout() const { return layout_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    BalloonLayout layout_;
};

// Shows each control's hint as a balloon: after 500 ms of rest on it, after
// 50 ms when the pointer moves on from a control whose tip was showing, and
// for at most 2500 ms or until the pointer leaves the control.
class BalloonTipController : public QObject {
    Q_OBJECT
public:
    static constexpr int kInitialDelayMs = 500;
    static constexpr int kReshowDelayMs = 50;
    static constexpr int kShowTimeMs = 2500;

    explicit BalloonTipController(QObject* parent = nullptr);
    ~BalloonTipController() override;

    void AddHint(QWidget* control, const QString& hint);
    // A control whose hint depends on where the pointer rests (a cell, a
    // panel): source gives it for a point of the control, empty for none.
    void AddHintSource(QWidget* control, std::function<QString(QPoint)> source);
    QString HintOf(QWidget* control) const { return hints_.value(control); }
    BalloonTip* Tip() const { return tip_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowTip();
    void HideTip();
    void Watch(QWidget* control);
    // The hint of the control where the pointer stands now.
    QString HintHere(QWidget* control) const;

    QHash<QWidget*, QString> hints_;
    QHash<QWidget*, std::function<QString(QPoint)>> sources_;
    QString pending_;  // the hint the show timer is for
    QPointer<QWidget> current_;
    BalloonTip* tip_;
    QTimer showTimer_;
    QTimer hideTimer_;
    // While this runs, a tip was showing a moment ago: the next one opens quickly.
    QTimer reshowWindow_;
};

}  // namespace tamrel
