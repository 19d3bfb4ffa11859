#pragma once
// The batch run with its windows: the engine asks through the confirmation
// dialog and reports into a result window, which it shows once every name has
// been gone through.
//
// The main window's batch run is one call:
//     void TMainForm::BatchProcess(const QStringList &names)
//     {
//         tovi::ui::batchProcessWithWindows(this, names, {mode, color1, color2});
//     }

#include <string>

#include <QStringList>

#include "process/batch.h"
#include "ui/batch/confirm_dialog.h"

class QWidget;

namespace tovi::ui {

class TResultForm;

process::BatchAnswer toBatchAnswer(ConfirmAnswer answer);

// Asks with the confirmation dialog, placed by the main window.
class ConfirmDialogAsker : public process::BatchAsker {
public:
    explicit ConfirmDialogAsker(QWidget *mainWindow) : m_mainWindow(mainWindow) {}
    process::BatchAnswer ask(const std::string &fileName, const std::string &name) override;

private:
    QWidget *m_mainWindow;
};

// Collects the lines in a result window and shows it modally when the run has
// gone through every name. A run that ends in an error leaves it unshown.
class ResultFormReporter : public process::BatchReporter {
public:
    explicit ResultFormReporter(TResultForm &form) : m_form(form) {}
    void addNormalLine(const std::string &line) override;
    void addChangedLine(const std::string &line) override;
    void addFailedLine(const std::string &line) override;
    void finished() override;

private:
    TResultForm &m_form;
};

// Runs the batch over names (full paths): creates the result window owned by
// the main window, asks for each file, processes and overwrites it, shows the
// result window modally, and releases it (deleteLater) afterwards, also when
// an error other than a picture-format error ends the run; that error is
// passed on to the caller.
process::BatchSummary batchProcessWithWindows(QWidget *mainWindow, const QStringList &names,
                                              const process::BatchSettings &settings);

}  // namespace tovi::ui
