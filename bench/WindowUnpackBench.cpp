// Unpack and Pack through the main window, offscreen, with the dialogs
// answered and the boxes swallowed: the window's pumping and repainting must
// not add much to the commands' own time.
//
//   tamrel_window_bench unpack ARCHIVE
//   tamrel_window_bench pack FOLDER
//   tamrel_window_bench paint ROWS      (the cost of one repaint and one pump)
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "AppSetup.h"
#include "Prompts.h"
#include "Unit1.h"
#include "table/StreamTable.h"

namespace {

class AnsweringPrompts : public tamrel::Prompts {
public:
    explicit AnsweringPrompts(QString path) : path_(std::move(path)) {}
    void MessageBox(Icon icon, const QString& text, const QString&) override {
        if (icon != Icon::Information)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    std::optional<QString> OpenFile(QWidget*, const QString&, Purpose) override { return path_; }
    std::optional<QString> SelectFolder(QWidget*, Purpose) override { return path_; }
    std::optional<QString> SaveFile(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    // Unpacking again over the same folder replaces it, as a benchmark wants.
    bool Question(const QString&, const QString&, const QString&, const QString&) override {
        return true;
    }

private:
    QString path_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s unpack ARCHIVE | pack FOLDER\n", argv[0]);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    tamrel::TamrelApplication app(argc, argv);
    tamrel::TForm1 form(std::make_unique<AnsweringPrompts>(QString::fromLocal8Bit(argv[2])));
    form.show();
    QElapsedTimer timer;
    if (QByteArray(argv[1]) == "paint") {
        tamrel::StreamTable& table = form.Table();
        table.SetColCount(17);
        table.SetRowCount(std::atoi(argv[2]) + 1);
        for (int row = 1; row < table.RowCount(); ++row)
            for (int col : {0, 1, 3, 4, 11})
                table.SetCellText(col, row, std::to_string(row * 7));
        QCoreApplication::processEvents();
        timer.start();
        for (int i = 0; i < 100; ++i)
            form.repaint();
        std::printf("repaint: %.3f ms\n", static_cast<double>(timer.nsecsElapsed()) / 1e8);
        timer.restart();
        for (int i = 0; i < 100; ++i) {
            form.SetProgressPosition(i);
            QCoreApplication::processEvents();
        }
        std::printf("position + pump: %.3f ms\n", static_cast<double>(timer.nsecsElapsed()) / 1e8);
        return 0;
    }
    timer.start();
    if (QByteArray(argv[1]) == "unpack") {
        form.ExportButtonClick();
    } else {
        form.ImportButtonClick();
    }
    std::printf("%.3f\n", static_cast<double>(timer.nsecsElapsed()) / 1e9);
    return 0;
}
