#pragma once
// Shared pieces of the file, drop and clipboard tests: real drops on the main
// window, a watch on its raising, the picture dialogs answered as a user
// answers them, and a look at the picture the window holds.

#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QRect>
#include <QStringList>

#include <ostream>

#include "fixture.h"
#include "ui/main/picture_dialogs.h"

// Failure messages show Qt texts as text.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << '[' << texts.join(QStringLiteral(", ")).toStdString() << ']';
}

namespace tovi::test {

// Counts the window's raisings and activations.
class WindowWatch : public QObject {
public:
    explicit WindowWatch(QWidget *window);
    int raised = 0;
    int activated = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

class FilesTest : public MainFormTest {
protected:
    // A modal window that no step takes care of fails the test and is
    // closed, so that a wrong window ends the test instead of hanging it.
    void SetUp() override;
    void TearDown() override;

    // Drags the files over the window and drops them, as the desktop does,
    // then lets the window take them.
    void drop(const QStringList &fileNames);

    // The caption for a current file.
    static QString captionFor(const QString &fileNamePart);
    // The format label's text.
    QString formatLabel() const;
    // The colour of a pixel of the picture the window holds.
    ColorRef pictureColor(int x, int y) const;
    // The colour of a pixel as the window paints it.
    ColorRef shownColor(int x, int y) const;

    // A step for a picture dialog: checks its kind and types `name` into its
    // name box and presses Enter.
    static ModalDriver::Step typeName(ui::PictureDialog::Kind kind, const QString &name);
    // A step for a message box: keeps its text and presses `button` (Enter for
    // the default).
    static ModalDriver::Step messageBox(QString *text, Qt::Key key = Qt::Key_Return);
    // A step for a window that should not appear: notes it and closes it.
    static ModalDriver::Step unexpected(QStringList *seen);
    // A step that cancels a dialog with Escape, after `look` had a look at it.
    static ModalDriver::Step cancel(std::function<void(ui::PictureDialog &)> look = {});

    // The 3 x 2 picture most tests open: six different colours.
    static const std::vector<ColorRef> kSixColors;
    QString sixColors(const QString &name = QStringLiteral("six.bmp"));

private:
    void watch();
    std::unique_ptr<QTimer> m_watchdog;
    QPointer<QWidget> m_waiting;
    int m_waitingTicks = 0;
};

// Files that keep more than a bitmap does: a 32-bit picture with alpha in a
// 124-byte header, written by ImageMagick, and a 24-bit one with an embedded
// colour profile.
QStringList keepingFiles();
// Checks that `back` has the header block, masks, profile and every pixel's
// alpha bits of `original`; `file` names the case.
void expectKeptBeyondColors(const picture::Bitmap &original, const picture::Bitmap &back, const QString &file);

// The name box of a picture dialog.
QLineEdit *nameBox(QWidget *dialog);
// Types a name into the dialog's name box (without pressing Enter).
void typeInto(QWidget *dialog, const QString &name);

}  // namespace tovi::test
