#include "RangeProgressBar.h"

#include <QPainter>
#include <QStyleOptionProgressBar>

namespace tamrel {

RangeProgressBar::RangeProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setRange(0, 100);
}

void RangeProgressBar::SetMin(std::int32_t value) {
    range_.SetMin(value);
    update();
}

void RangeProgressBar::SetMax(std::int32_t value) {
    range_.SetMax(value);
    update();
}

void RangeProgressBar::SetPosition(std::int32_t value) {
    if (value == range_.Position())
        return;
    range_.SetPosition(value);
    // update(), not QProgressBar::setValue(): setValue paints at once, and a
    // command that moves the bar once per stream would then spend its time
    // painting. The bar is drawn at the next pumping of events instead.
    update();
}

void RangeProgressBar::paintEvent(QPaintEvent*) {
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    // An empty range (minimum = maximum) would read as "busy" to the style;
    // every position is then at or below the minimum, so the bar is empty.
    if (range_.Min() == range_.Max()) {
        option.minimum = 0;
        option.maximum = 1;
        option.progress = 0;
    } else {
        option.minimum = range_.Min();
        option.maximum = range_.Max();
        option.progress = range_.ShownPosition();
    }
    // The bar shows how far the work is while the window is disabled for it:
    // it keeps the enabled look then.
    option.state |= QStyle::State_Enabled;
    option.palette.setCurrentColorGroup(QPalette::Active);
    QPainter painter(this);
    style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
}

}  // namespace tamrel
