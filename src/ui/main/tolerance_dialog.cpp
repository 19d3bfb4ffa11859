#include "ui/main/tolerance_dialog.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "process/color_modes.h"
#include "ui/help/application_help.h"
#include "ui/help/help_requests.h"

namespace tovi::ui {

ToleranceDialog::ToleranceDialog(int tolerance, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ToleranceDialog"));
    setWindowTitle(QStringLiteral("許容差"));
    help::setHelpContext(this, help::kHelpContextTolerance);
    auto *column = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("色交換の許容差(&T) (0～%1):").arg(process::kMaxTolerance), this);
    m_spinBox = new QSpinBox(this);
    m_spinBox->setObjectName(QStringLiteral("ToleranceSpinBox"));
    m_spinBox->setRange(0, process::kMaxTolerance);
    m_spinBox->setValue(tolerance);
    label->setBuddy(m_spinBox);
    auto *note = new QLabel(QStringLiteral("色1と色2を結ぶ線分からこの距離 (RGB) 以内の色を、線分に沿って\n"
                                           "反対側へ写します (アンチエイリアスの縁の色)。0 のときは色1と色2\n"
                                           "だけを交換します。"),
                            this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(label);
    column->addWidget(m_spinBox);
    column->addWidget(note);
    column->addWidget(buttons);
    m_spinBox->selectAll();
    m_spinBox->setFocus();
}

int ToleranceDialog::tolerance() const
{
    return m_spinBox->value();
}

std::optional<int> ToleranceDialog::ask(int tolerance, QWidget *parent)
{
    ToleranceDialog dialog(tolerance, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.tolerance();
}

void ToleranceDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1) {
        help::applicationHelpCommand(help::HELP_CONTEXT, help::kHelpContextTolerance);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tovi::ui
