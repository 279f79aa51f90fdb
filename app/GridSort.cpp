#include "GridSort.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "AppSetup.h"
#include "table/StreamTable.h"

namespace tamrel {

namespace {

enum class Kind { Numeric, Date, DateTime, Time, Text };

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits, at most one "-" and only first, at most one decimal separator; no
// thousands separators.
bool IsNumeric(const std::string& text, char decimal) {
    bool digit = false, separator = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            digit = true;
        } else if (c == '-' && i == 0) {
        } else if (c == decimal && !separator) {
            separator = true;
        } else {
            return false;
        }
    }
    return digit;
}

// The separator stands at the second or third character, a digit on either side.
bool SeparatorNearStart(const std::string& text, char separator) {
    for (std::size_t at : {std::size_t{1}, std::size_t{2}}) {
        if (at + 1 < text.size() && text[at] == separator && IsDigit(text[at - 1]) &&
            IsDigit(text[at + 1]))
            return true;
    }
    return false;
}

Kind KindOf(const std::string& text, const SortLocale& locale) {
    if (!text.empty() && IsNumeric(text, locale.decimalSeparator))
        return Kind::Numeric;
    if (SeparatorNearStart(text, locale.dateSeparator))
        return text.find(locale.timeSeparator) != std::string::npos ? Kind::DateTime : Kind::Date;
    if (SeparatorNearStart(text, locale.timeSeparator))
        return Kind::Time;
    return Kind::Text;
}

std::optional<double> NumberOf(const std::string& text, const SortLocale& locale) {
    if (text.empty())
        return 0.0;
    if (!IsNumeric(text, locale.decimalSeparator))
        return std::nullopt;
    std::string plain = text;
    std::replace(plain.begin(), plain.end(), locale.decimalSeparator, '.');
    return std::strtod(plain.c_str(), nullptr);
}

// The locale's short format, the same with a four-digit year, and its long
// format: texts are read leniently, as people write them.
QStringList FormatsOf(const QString& shortFormat, const QString& longFormat) {
    QStringList formats{shortFormat};
    if (shortFormat.contains(QStringLiteral("yy")) &&
        !shortFormat.contains(QStringLiteral("yyyy"))) {
        QString fourDigits = shortFormat;
        fourDigits.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
        formats << fourDigits;
    }
    formats << longFormat;
    return formats;
}

// The first reading of text that one of the formats allows, as a number;
// read(text, format) gives nothing when the text does not fit the format.
template <typename Read>
double FirstReading(const QStringList& formats, Read read) {
    for (const QString& format : formats)
        if (auto value = read(format))
            return *value;
    return 0.0;
}

// Dates, date-times and times as numbers to compare; unreadable texts are 0.
double ValueOf(Kind kind, const std::string& text, const SortLocale& locale) {
    const QString qtext = FromNative(text);
    const QLocale& l = locale.locale;
    using Reading = std::optional<double>;
    switch (kind) {
        case Kind::Date:
            return FirstReading(
                FormatsOf(l.dateFormat(QLocale::ShortFormat), l.dateFormat(QLocale::LongFormat)),
                [&](const QString& format) -> Reading {
                    const QDate date = l.toDate(qtext, format);
                    if (!date.isValid())
                        return std::nullopt;
                    return static_cast<double>(date.toJulianDay());
                });
        case Kind::DateTime:
            return FirstReading(FormatsOf(l.dateTimeFormat(QLocale::ShortFormat),
                                          l.dateTimeFormat(QLocale::LongFormat)),
                                [&](const QString& format) -> Reading {
                                    const QDateTime when = l.toDateTime(qtext, format);
                                    if (!when.isValid())
                                        return std::nullopt;
                                    return static_cast<double>(when.toMSecsSinceEpoch());
                                });
        case Kind::Time:
            return FirstReading(
                FormatsOf(l.timeFormat(QLocale::ShortFormat), l.timeFormat(QLocale::LongFormat)),
                [&](const QString& format) -> Reading {
                    const QTime time = l.toTime(qtext, format);
                    if (!time.isValid())
                        return std::nullopt;
                    return static_cast<double>(time.msecsSinceStartOfDay());
                });
        default:
            return 0.0;
    }
}

int Sign(double difference) {
    return difference < 0 ? -1 : difference > 0 ? 1 : 0;
}

char FirstSeparatorIn(const QString& format, char fallback) {
    for (const QChar c : format)
        if (!c.isLetter() && !c.isSpace() && c.unicode() < 128)
            return static_cast<char>(c.unicode());
    return fallback;
}

}  // namespace

SortLocale SortLocale::From(const QLocale& locale) {
    SortLocale result;
    result.locale = locale;
    const QString decimal = locale.decimalPoint();
    if (decimal.size() == 1 && decimal[0].unicode() < 128)
        result.decimalSeparator = static_cast<char>(decimal[0].unicode());
    result.dateSeparator = FirstSeparatorIn(locale.dateFormat(QLocale::ShortFormat), '/');
    result.timeSeparator = FirstSeparatorIn(locale.timeFormat(QLocale::ShortFormat), ':');
    return result;
}

int CompareCellTexts(const std::string& first, const std::string& second,
                     const SortLocale& locale) {
    const Kind kind = KindOf(first, locale);
    if (kind == Kind::Numeric) {
        const auto a = NumberOf(first, locale);
        const auto b = NumberOf(second, locale);
        // A text that is no number ranks after every number; two such are equal.
        if (a && b)
            return Sign(*a - *b);
        if (!a && !b)
            return 0;
        return a ? -1 : 1;
    }
    if (kind == Kind::Text) {
        // By character code: capitals before small letters, a start before the longer text.
        const int order = first.compare(second);
        return order < 0 ? -1 : order > 0 ? 1 : 0;
    }
    return Sign(ValueOf(kind, first, locale) - ValueOf(kind, second, locale));
}

std::vector<std::int32_t> SortedRowOrder(const StreamTable& table, const SortSettings& settings,
                                         const SortLocale& locale, const ShownText& shown) {
    std::vector<std::int32_t> order;
    for (std::int32_t row = table.FixedRows(); row < table.RowCount(); ++row)
        order.push_back(row);
    const std::int32_t firstColumn = std::max(0, settings.Column);
    auto compareRows = [&](std::int32_t a, std::int32_t b) {
        // Columns right of the last one with any text compare equal throughout.
        const std::int32_t lastColumn = std::min(table.ColCount() - 1, table.LastColumnWithText());
        for (std::int32_t col = firstColumn; col <= lastColumn; ++col) {
            const std::optional<std::string> shownA = shown ? shown(col, a) : std::nullopt;
            const std::optional<std::string> shownB = shown ? shown(col, b) : std::nullopt;
            const int order = CompareCellTexts(shownA ? *shownA : table.CellText(col, a),
                                               shownB ? *shownB : table.CellText(col, b), locale);
            if (order != 0)
                return order;
        }
        return 0;
    };
    // The kind is decided from the first text of each comparison, so the
    // comparison need not be a consistent order; a merge sort stays safe with
    // that where an introsort would not.
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        const int result = compareRows(a, b);
        return settings.Direction == sdAscending ? result < 0 : result > 0;
    });
    return order;
}

}  // namespace tamrel
