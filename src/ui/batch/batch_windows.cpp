#include "ui/batch/batch_windows.h"

#include <memory>
#include <vector>

#include "ui/batch/result_form.h"

namespace tovi::ui {

namespace {

// Releases the result window once pending events are handled, as a window of
// one use is.
struct ReleaseLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

}  // namespace

process::BatchAnswer toBatchAnswer(ConfirmAnswer answer)
{
    switch (answer) {
    case ConfirmAnswer::Yes:
        return process::BatchAnswer::Yes;
    case ConfirmAnswer::No:
        return process::BatchAnswer::No;
    case ConfirmAnswer::Abort:
        return process::BatchAnswer::Abort;
    case ConfirmAnswer::YesToAll:
        return process::BatchAnswer::YesToAll;
    case ConfirmAnswer::Closed:
        break;
    }
    return process::BatchAnswer::Closed;
}

process::BatchAnswer ConfirmDialogAsker::ask(const std::string &fileName, const std::string &)
{
    return toBatchAnswer(askOverwrite(m_mainWindow, QString::fromStdString(fileName)));
}

void ResultFormReporter::addNormalLine(const std::string &line)
{
    m_form.AddNormalLine(QString::fromStdString(line));
}

void ResultFormReporter::addChangedLine(const std::string &line)
{
    m_form.AddChangedLine(QString::fromStdString(line));
}

void ResultFormReporter::addFailedLine(const std::string &line)
{
    m_form.AddFailedLine(QString::fromStdString(line));
}

void ResultFormReporter::finished()
{
    m_form.exec();
}

process::BatchSummary batchProcessWithWindows(QWidget *mainWindow, const QStringList &names,
                                              const process::BatchSettings &settings)
{
    const std::unique_ptr<TResultForm, ReleaseLater> form(new TResultForm(mainWindow));
    std::vector<std::string> list;
    list.reserve(std::size_t(names.size()));
    for (const QString &name : names)
        list.push_back(name.toStdString());
    ConfirmDialogAsker asker(mainWindow);
    ResultFormReporter reporter(*form);
    return process::batchProcess(list, settings, asker, reporter);
}

}  // namespace tovi::ui
