#pragma once
// The confirmation dialog of the batch run: a warning asking whether one file
// is to be processed and overwritten, with the answers Yes, No, Abort and Yes
// to all (or closed, when its close box was used).
//
// Use: ConfirmAnswer answer = askOverwrite(mainWindow, fileNamePart);

#include <array>
#include <vector>

#include <QDialog>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

class QPushButton;

namespace tovi::ui {

enum class ConfirmAnswer { Yes, No, Abort, YesToAll, Closed };

// What the layout is computed from, measured in the dialog's font.
struct ConfirmMetrics {
    int charWidth = 0;         // average width of the 52 letters A-Z a-z, rounded down
    int charHeight = 0;        // height of that string
    QSize text;                // the message, tabs expanded, wrapped within half the screen
    std::vector<int> captions;  // each button caption on one line, "&" not counted
};

struct ConfirmLayout {
    QSize client;
    QRect icon;
    QRect text;
    std::vector<QRect> buttons;  // left to right
};

// The message box layout: margins, spacings and button sizes in units of the
// font's average character width and height, the icon at the left of the
// text, the button row centred below.
ConfirmLayout layoutConfirmDialog(const ConfirmMetrics &metrics);

ConfirmMetrics measureConfirmDialog(const QFont &font, const QString &message, const QStringList &captions,
                                    int screenWidth);

// "現在の設定で画像処理し、上書きします." LF CR file name.
QString confirmMessage(const QString &fileName);

// The dialog as plain text, for Ctrl+C: each piece between dividers, every
// piece ending in CR LF, the captions without "&", each followed by three
// blanks.
QString confirmCopyText(const QString &caption, const QString &message, const QStringList &captions);

class ConfirmDialog : public QDialog {
    Q_OBJECT

public:
    static const QString kCaption;
    // The buttons, left to right, in the order of ConfirmAnswer.
    static const QStringList kButtonCaptions;
    static constexpr int kIconSize = 32;

    ConfirmDialog(QWidget *mainWindow, const QString &fileName);

    // Shows the dialog modally and gives the answer.
    ConfirmAnswer ask();
    ConfirmAnswer answer() const { return m_answer; }

    QString message() const { return m_message; }
    const ConfirmLayout &dialogLayout() const { return m_layout; }
    QPushButton *button(ConfirmAnswer answer) const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void choose(ConfirmAnswer answer);
    // The first button whose caption carries the letter as its accelerator.
    QPushButton *buttonForLetter(QChar letter) const;
    void copyToClipboard();

    QString m_message;
    ConfirmLayout m_layout;
    QPixmap m_icon;
    std::array<QPushButton *, 4> m_buttons{};
    ConfirmAnswer m_answer = ConfirmAnswer::Closed;
};

ConfirmAnswer askOverwrite(QWidget *mainWindow, const QString &fileName);

}  // namespace tovi::ui
