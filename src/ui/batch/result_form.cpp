#include "ui/batch/result_form.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QFont>
#include <QPalette>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>

#include "platform/system_colors.h"
#include "process/batch.h"
#include "ui/common/palette_colors.h"
#include "ui/common/window_frames.h"

namespace tovi::ui {

namespace {

const QString kCaption = QStringLiteral("連続処理結果");

constexpr int kViewHeight = 247;
const QRect kButtonRect(176, 256, 75, 25);
constexpr int kFontPixels = 11;
// The rich-text control's default tab stops: every half inch at 96 dpi.
constexpr int kTabStop = 48;

}  // namespace

ResultTextView::ResultTextView(QWidget *parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QTextEdit::NoWrap);
    setWordWrapMode(QTextOption::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTabStopDistance(kTabStop);
    setUndoRedoEnabled(false);
}

// The selection is kept while the view lacks the focus, only not drawn.
void ResultTextView::focusOutEvent(QFocusEvent *event)
{
    QTextCursor cursor = textCursor();
    if (event->reason() != Qt::PopupFocusReason && cursor.hasSelection()) {
        m_hiddenAnchor = cursor.anchor();
        m_hiddenPosition = cursor.position();
        cursor.clearSelection();
        setTextCursor(cursor);
    }
    QTextEdit::focusOutEvent(event);
}

void ResultTextView::focusInEvent(QFocusEvent *event)
{
    if (m_hiddenAnchor >= 0) {
        QTextCursor cursor = textCursor();
        cursor.setPosition(m_hiddenAnchor);
        cursor.setPosition(m_hiddenPosition, QTextCursor::KeepAnchor);
        setTextCursor(cursor);
        m_hiddenAnchor = m_hiddenPosition = -1;
    }
    QTextEdit::focusInEvent(event);
}

TResultForm::TResultForm(QWidget *mainWindow)
    : FadeForm(mainWindow, QSize(kClientWidth, kClientHeight)),
      Button1(new QPushButton(QStringLiteral("OK"), this)),
      RichEdit1(new ResultTextView(this))
{
    // A dialog frame with no title-bar buttons at all.
    setWindowFlags(buttonlessDialogFlags());
    setWindowTitle(kCaption);

    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(kFontPixels);
    setFont(font);

    QPalette colors = palette();
    colors.setColor(QPalette::Window, sysQColor(platform::kColorBtnFace));
    colors.setColor(QPalette::WindowText, sysQColor(platform::kColorWindowText));
    setPalette(colors);

    Button1->setGeometry(kButtonRect);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    RichEdit1->setGeometry(0, 0, kClientWidth, kViewHeight);
    QPalette viewColors = RichEdit1->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        viewColors.setColor(group, QPalette::Base, sysQColor(platform::kColorBtnFace));
    RichEdit1->setPalette(viewColors);

    // OK first: it has the focus when the window opens.
    setTabOrder(Button1, RichEdit1);
    Button1->setFocus();

    FormCreate();
}

void TResultForm::FormCreate()
{
    RichEdit1->clear();
    m_insertion = QTextCharFormat();
    m_insertion.setFont(font());
    m_insertion.setForeground(sysQColor(platform::kColorWindowText));
    appendLine(QString::fromUtf8(process::kBatchResultTitle));
    FadingIn = true;
}

void TResultForm::closeEvent(QCloseEvent *event)
{
    event->ignore();
}

void TResultForm::AddNormalLine(const QString &text)
{
    m_insertion.setForeground(sysQColor(platform::kColorBtnText));
    appendLine(text);
}

void TResultForm::AddChangedLine(const QString &text)
{
    m_insertion.setForeground(sysQColor(platform::kColorInfoText));
    m_insertion.setBackground(sysQColor(platform::kColorInfoBk));
    appendLine(text);
}

void TResultForm::AddFailedLine(const QString &text)
{
    m_insertion.setForeground(sysQColor(platform::kColorInfoText));
    m_insertion.setBackground(sysQColor(platform::kColorInfoBk));
    m_insertion.setFontWeight(QFont::Bold);
    appendLine(text);
}

void TResultForm::appendLine(const QString &text)
{
    try {
        QTextCursor cursor(RichEdit1->document());
        cursor.movePosition(QTextCursor::End);
        // One paragraph per line: the line end takes the line's attributes,
        // as the closing CR LF of the rich-text control does.
        cursor.insertText(text + QLatin1Char('\n'), m_insertion);
        RichEdit1->setTextCursor(cursor);
    } catch (...) {
        // A line that can't be appended is lost; the run goes on.
    }
}

}  // namespace tovi::ui
