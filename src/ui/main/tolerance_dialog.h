#pragma once
// The small modal dialog of "許容差(&T)...": the swap's tolerance, a number
// from 0 to 255, with OK and Cancel. F1 opens its help page.

#include <QDialog>

#include <optional>

class QSpinBox;

namespace tovi::ui {

class ToleranceDialog : public QDialog {
public:
    ToleranceDialog(int tolerance, QWidget *parent);
    int tolerance() const;
    QSpinBox *spinBox() const { return m_spinBox; }

    // The tolerance the user confirmed; nothing when cancelled.
    static std::optional<int> ask(int tolerance, QWidget *parent);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QSpinBox *m_spinBox;
};

}  // namespace tovi::ui
