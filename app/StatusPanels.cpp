#include "StatusPanels.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace tamrel {

StatusPanels::StatusPanels(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StatusPanels::SetPanelText(int panel, const QString& text) {
    if (panel < 0 || panel >= kPanelCount)
        return;
    texts_[static_cast<std::size_t>(panel)] = text;
    update(PanelRect(panel));
}

QString StatusPanels::PanelText(int panel) const {
    if (panel < 0 || panel >= kPanelCount)
        return {};
    return texts_[static_cast<std::size_t>(panel)];
}

void StatusPanels::SetPanelHint(int panel, const QString& hint) {
    if (panel >= 0 && panel < kPanelCount)
        hints_[static_cast<std::size_t>(panel)] = hint;
}

QString StatusPanels::HintAt(QPoint pos) const {
    for (int panel = 0; panel < kPanelCount; ++panel)
        if (PanelRect(panel).contains(pos))
            return hints_[static_cast<std::size_t>(panel)];
    return {};
}

QRect StatusPanels::PanelRect(int panel) const {
    const int left = kPanelLeft[static_cast<std::size_t>(panel)];
    const int right =
        panel + 1 < kPanelCount ? kPanelLeft[static_cast<std::size_t>(panel) + 1] : width();
    // Panels stand two pixels apart and two pixels below the bar's top.
    return QRect(left, 2, std::max(0, right - left - 2), height() - 2);
}

void StatusPanels::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The enabled colours also while the window is disabled for a command:
    // the status text stays readable.
    const QPalette::ColorGroup group = QPalette::Active;
    painter.fillRect(rect(), palette().color(group, QPalette::Button));
    const QColor shadow = palette().color(group, QPalette::Dark);
    const QColor light = palette().color(group, QPalette::Light);
    for (int panel = 0; panel < kPanelCount; ++panel) {
        const QRect r = PanelRect(panel);
        if (r.width() <= 0)
            continue;
        // A lowered bevel: dark top and left edges, light bottom and right.
        painter.setPen(shadow);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(light);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
        // One line of text, cut off at the panel's edge.
        const QRect textRect = r.adjusted(3, 1, -2, -1);
        painter.save();
        painter.setClipRect(textRect);
        painter.setPen(palette().color(group, QPalette::WindowText));
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         texts_[static_cast<std::size_t>(panel)]);
        painter.restore();
    }
}

}  // namespace tamrel
