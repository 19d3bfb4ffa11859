#pragma once
// The batch result window: below a title line, one line per folder change,
// processed file and failed file of a batch run, each kind with its own look.
//
// Use (the main window's batch run):
//     auto *form = new TResultForm(mainWindow);   // hidden, holds its title line
//     form->AddNormalLine(...);                    // any number, any order
//     form->exec();                                // fades in; OK fades it out
//     form->deleteLater();                         // also when the run fails

#include <QString>
#include <QTextCharFormat>
#include <QTextEdit>

#include "ui/common/fade_form.h"

class QPushButton;

namespace tovi::ui {

// The rich-text view of the result window: read-only, selectable, and showing
// its selection only while it has the focus.
class ResultTextView : public QTextEdit {
    Q_OBJECT

public:
    explicit ResultTextView(QWidget *parent);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    int m_hiddenAnchor = -1;
    int m_hiddenPosition = -1;
};

class TResultForm : public FadeForm {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 428;
    static constexpr int kClientHeight = 288;

    explicit TResultForm(QWidget *mainWindow);

    // Folder lines and processed lines: text colour := button text.
    void AddNormalLine(const QString &text);
    // Files whose pixel format changed: text colour := info text, background
    // := info background.
    void AddChangedLine(const QString &text);
    // Files that could not be processed: as a changed line, and bold.
    void AddFailedLine(const QString &text);

    QPushButton *const Button1;
    ResultTextView *const RichEdit1;

protected:
    // No close box: a close request from the window manager (its close
    // command, Alt+F4) does nothing; only OK or Enter close the window.
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    // Appends text + line end at the end of the text with the insertion
    // attributes; a failure loses the line and nothing else.
    void appendLine(const QString &text);

    // The attributes the next appended text receives. Each line operation
    // changes only its own attributes, so bold and the info background, once
    // set, stay for every later line.
    QTextCharFormat m_insertion;
};

}  // namespace tovi::ui
