// StatusBar1: four text panels with lowered bevels, at fixed places.
#pragma once

#include <QString>
#include <QWidget>
#include <array>

namespace tamrel {

class StatusPanels : public QWidget {
    Q_OBJECT
public:
    explicit StatusPanels(QWidget* parent = nullptr);

    static constexpr int kPanelCount = 4;
    // Left edges of the panels; the last one runs to the bar's right end.
    static constexpr std::array<int, kPanelCount> kPanelLeft = {0, 150, 270, 440};

    void SetPanelText(int panel, const QString& text);
    QString PanelText(int panel) const;
    // The whole text of a panel that shows it shortened, for its balloon.
    void SetPanelHint(int panel, const QString& hint);
    // The hint of the panel at a point of the bar; empty where there is none.
    QString HintAt(QPoint pos) const;
    // The panel's rectangle in the bar.
    QRect PanelRect(int panel) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<QString, kPanelCount> texts_;
    std::array<QString, kPanelCount> hints_;
};

}  // namespace tamrel
