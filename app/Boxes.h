// The program's modal boxes, behind one interface so that tests can answer
// them without a person: a message, and a question whose answer that
// changes nothing is the default.
#pragma once

#include <QString>

class QWidget;

namespace tamrel {

class Boxes {
public:
    enum class Icon { Warning, Information, Error };

    virtual ~Boxes() = default;
    // A modal box with that icon and one "OK"; returns when it is closed.
    virtual void MessageBox(Icon icon, const QString& text, const QString& caption) = 0;
    // A modal question with the question icon and two buttons; true for yes.
    // The answer that changes nothing (no) is the default, and Escape gives it.
    virtual bool Question(const QString& text, const QString& caption, const QString& yes,
                          const QString& no) = 0;
};

// The desktop's boxes: children of the open dialog or of owner (for
// activation when they close), centred on the screen, modal to the program.
class DesktopBoxes : public Boxes {
public:
    void SetOwner(QWidget* owner) { owner_ = owner; }
    void MessageBox(Icon icon, const QString& text, const QString& caption) override;
    bool Question(const QString& text, const QString& caption, const QString& yes,
                  const QString& no) override;

private:
    QWidget* Parent() const;

    QWidget* owner_ = nullptr;
};

}  // namespace tamrel
