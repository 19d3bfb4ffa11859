#include "ui/batch/confirm_dialog.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "ui/common/window_frames.h"
#include "ui/common/window_placement.h"

namespace tovi::ui {

namespace {

const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
constexpr int kLetterCount = 52;
constexpr int kDividerLength = 27;
constexpr int kCaptionPadding = 8;
constexpr int kTextFlags = Qt::TextWordWrap | Qt::TextExpandTabs;

// value * numerator / denominator, halves rounded up (the values are never
// negative).
int scaled(int value, int numerator, int denominator)
{
    return (2 * value * numerator + denominator) / (2 * denominator);
}

// The message draws its "\n\r" (and any other CR and LF pair) as one line
// break; the text itself, as copied, keeps it.
QString displayText(QString text)
{
    text.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QChar accelerator(const QString &caption)
{
    const qsizetype at = caption.indexOf(QLatin1Char('&'));
    return at >= 0 && at + 1 < caption.size() ? caption[at + 1].toUpper() : QChar();
}

}  // namespace

const QString ConfirmDialog::kCaption = QStringLiteral("警告");
const QStringList ConfirmDialog::kButtonCaptions = {QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)"),
                                                    QStringLiteral("中止(&A)"), QStringLiteral("すべてはい(&A)")};

ConfirmLayout layoutConfirmDialog(const ConfirmMetrics &metrics)
{
    const int cw = metrics.charWidth;
    const int chh = metrics.charHeight;
    const int marginX = scaled(cw, 8, 4);
    const int marginY = scaled(chh, 8, 8);
    const int spacingX = scaled(cw, 10, 4);
    const int spacingY = scaled(chh, 10, 8);
    const int buttonHeight = scaled(chh, 14, 8);
    const int buttonGap = scaled(cw, 4, 4);
    int buttonWidth = scaled(cw, 50, 4);
    for (const int caption : metrics.captions)
        buttonWidth = std::max(buttonWidth, caption + kCaptionPadding);

    const int icon = ConfirmDialog::kIconSize;
    const int blockWidth = metrics.text.width() + icon + spacingX;
    const int blockHeight = std::max(metrics.text.height(), icon);
    const int count = int(metrics.captions.size());
    const int rowWidth = count > 0 ? count * buttonWidth + (count - 1) * buttonGap : 0;

    ConfirmLayout layout;
    layout.client = QSize(std::max(blockWidth, rowWidth) + 2 * marginX,
                          blockHeight + buttonHeight + spacingY + 2 * marginY);
    layout.icon = QRect(marginX, marginY, icon, icon);
    layout.text = QRect(QPoint(marginX + icon + spacingX, marginY), metrics.text);
    const int rowTop = marginY + blockHeight + spacingY;
    const int rowLeft = (layout.client.width() - rowWidth) / 2;
    for (int i = 0; i < count; ++i)
        layout.buttons.emplace_back(rowLeft + i * (buttonWidth + buttonGap), rowTop, buttonWidth, buttonHeight);
    return layout;
}

ConfirmMetrics measureConfirmDialog(const QFont &font, const QString &message, const QStringList &captions,
                                    int screenWidth)
{
    const QFontMetrics fm(font);
    ConfirmMetrics metrics;
    metrics.charWidth = fm.horizontalAdvance(kLetters) / kLetterCount;
    metrics.charHeight = fm.size(Qt::TextSingleLine, kLetters).height();
    metrics.text = fm.boundingRect(QRect(0, 0, screenWidth / 2, 0), kTextFlags, displayText(message)).size();
    for (const QString &caption : captions)
        metrics.captions.push_back(fm.size(Qt::TextSingleLine | Qt::TextShowMnemonic, caption).width());
    return metrics;
}

QString confirmMessage(const QString &fileName)
{
    return QStringLiteral("現在の設定で画像処理し、上書きします.\n\r") + fileName;
}

QString confirmCopyText(const QString &caption, const QString &message, const QStringList &captions)
{
    const QString divider(kDividerLength, QLatin1Char('-'));
    const QString lineEnd = QStringLiteral("\r\n");
    QString buttons;
    for (QString text : captions)
        buttons += text.remove(QLatin1Char('&')) + QStringLiteral("   ");
    return divider + lineEnd + caption + lineEnd + divider + lineEnd + message + lineEnd + divider + lineEnd +
           buttons + lineEnd + divider + lineEnd;
}

ConfirmDialog::ConfirmDialog(QWidget *mainWindow, const QString &fileName)
    : QDialog(mainWindow), m_message(confirmMessage(fileName))
{
    // A dialog frame with a close box only.
    setWindowFlags(closeBoxDialogFlags());
    keepNormalState(this);
    setWindowTitle(kCaption);
    setFont(QApplication::font("QMessageBoxLabel"));
    m_icon = style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(kIconSize, kIconSize);

    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        auto *button = new QPushButton(kButtonCaptions[qsizetype(i)], this);
        // The accelerators are handled by the dialog: a letter alone counts,
        // and a letter two buttons carry goes to the first of them.
        button->setShortcut(QKeySequence());
        button->setAutoDefault(true);
        const auto answer = ConfirmAnswer(i);
        connect(button, &QPushButton::clicked, this, [this, answer] { choose(answer); });
        m_buttons[i] = button;
    }
    button(ConfirmAnswer::Yes)->setDefault(true);

    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 640, 480);
    m_layout = layoutConfirmDialog(measureConfirmDialog(font(), m_message, kButtonCaptions, screenRect.width()));
    setFixedSize(m_layout.client);
    for (std::size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setGeometry(m_layout.buttons[i]);

    const QPointer<QWidget> owner = mainWindow;
    const auto place = [this, owner, screenRect](const QSize &outer) {
        move(owner ? confirmDialogPosition(owner->window()->frameGeometry(), outer, screenRect)
                   : centredOver(screenRect, outer));
    };
    // Until the dialog has its own frame, the main window's stands in for it.
    place(outerSizeLike(mainWindow, m_layout.client));
    whenFramed(this, [this, place](const QMargins &frame) { place(m_layout.client.grownBy(frame)); });

    button(ConfirmAnswer::Yes)->setFocus();
}

ConfirmAnswer ConfirmDialog::ask()
{
    m_answer = ConfirmAnswer::Closed;
    exec();
    return m_answer;
}

QPushButton *ConfirmDialog::button(ConfirmAnswer answer) const
{
    const auto index = std::size_t(answer);
    return index < m_buttons.size() ? m_buttons[index] : nullptr;
}

void ConfirmDialog::choose(ConfirmAnswer answer)
{
    m_answer = answer;
    accept();
}

QPushButton *ConfirmDialog::buttonForLetter(QChar letter) const
{
    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        if (accelerator(kButtonCaptions[qsizetype(i)]) == letter.toUpper())
            return m_buttons[i];
    }
    return nullptr;
}

void ConfirmDialog::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (key == Qt::Key_C && modifiers == Qt::ControlModifier) {
        QApplication::beep();
        copyToClipboard();
        event->accept();
        return;
    }
    if (key == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        button(ConfirmAnswer::No)->click();
        event->accept();
        return;
    }
    // A letter alone, with Alt, in either case.
    const bool letterModifiers = !(modifiers & ~(Qt::AltModifier | Qt::ShiftModifier));
    if (letterModifiers && key >= Qt::Key_A && key <= Qt::Key_Z) {
        if (QPushButton *target = buttonForLetter(QChar(key))) {
            target->click();
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void ConfirmDialog::closeEvent(QCloseEvent *event)
{
    m_answer = ConfirmAnswer::Closed;
    QDialog::closeEvent(event);
}

void ConfirmDialog::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(m_layout.icon, m_icon);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(m_layout.text, kTextFlags | Qt::AlignLeft | Qt::AlignTop, displayText(m_message));
}

void ConfirmDialog::copyToClipboard()
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(confirmCopyText(kCaption, m_message, kButtonCaptions));
}

ConfirmAnswer askOverwrite(QWidget *mainWindow, const QString &fileName)
{
    ConfirmDialog dialog(mainWindow, fileName);
    return dialog.ask();
}

}  // namespace tovi::ui
