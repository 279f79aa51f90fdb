// The progress bar's range rule, kept apart from any widget so that the window,
// the console and the tests all refuse the same ranges.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace tamrel {

// A range whose maximum would fall below its minimum.
class ProgressRangeError : public std::range_error {
public:
    ProgressRangeError() : std::range_error("TProgressBar property out of range") {}
};

class ProgressRange {
public:
    std::int32_t Min() const { return min_; }
    std::int32_t Max() const { return max_; }
    std::int32_t Position() const { return position_; }
    // The position as the bar shows it: limited to the range.
    std::int32_t ShownPosition() const {
        return position_ < min_ ? min_ : (position_ > max_ ? max_ : position_);
    }

    // Each bound is tested against the other bound as it stands now, so the
    // order of two settings matters; a refused setting leaves the range as it was.
    void SetMin(std::int32_t value) {
        if (value > max_)
            throw ProgressRangeError();
        min_ = value;
    }
    void SetMax(std::int32_t value) {
        if (value < min_)
            throw ProgressRangeError();
        max_ = value;
    }
    // Any value is taken.
    void SetPosition(std::int32_t value) { position_ = value; }

private:
    std::int32_t min_ = 0;
    std::int32_t max_ = 100;
    std::int32_t position_ = 0;
};

}  // namespace tamrel
