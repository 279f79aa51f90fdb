// ProgressBar1: a progress bar that keeps the range rule. QProgressBar would
// quietly move one bound to fit the other and drop positions outside the
// range; here a refused bound raises an error and leaves the range as it was,
// and any position is taken and drawn limited to the range.
#pragma once

#include <QProgressBar>

#include "archive/host/ProgressRange.h"

namespace tamrel {

class RangeProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit RangeProgressBar(QWidget* parent = nullptr);

    // Throw ProgressRangeError when refused.
    void SetMin(std::int32_t value);
    void SetMax(std::int32_t value);
    void SetPosition(std::int32_t value);
    const ProgressRange& Range() const { return range_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ProgressRange range_;
};

}  // namespace tamrel
