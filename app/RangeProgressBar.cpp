#include "RangeProgressBar.h"

namespace tamrel {

RangeProgressBar::RangeProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    Show();
}

void RangeProgressBar::SetMin(std::int32_t value) {
    range_.SetMin(value);
    Show();
}

void RangeProgressBar::SetMax(std::int32_t value) {
    range_.SetMax(value);
    Show();
}

void RangeProgressBar::SetPosition(std::int32_t value) {
    range_.SetPosition(value);
    Show();
}

void RangeProgressBar::Show() {
    // QProgressBar treats an empty range (minimum = maximum) as "busy" and
    // animates; every position is then at or below the minimum, so the bar is empty.
    if (range_.Min() == range_.Max()) {
        setRange(0, 1);
        setValue(0);
        return;
    }
    setRange(range_.Min(), range_.Max());
    setValue(range_.ShownPosition());
}

}  // namespace tamrel
