// Opening and saving through the picture dialogs and the open step: what the
// window shows afterwards, what the caption says, what is written, and which
// failures are shown and which are not.

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstring>

#include "files_fixture.h"
#include "support/tiny_bmp.h"
#include "ui/main/application.h"

namespace tovi::test {
namespace {

using Kind = ui::PictureDialog::Kind;

const QString kUnsupported = QStringLiteral("未サポートフォーマット");
const QString kTrueColor24 = QStringLiteral("24bit : TrueColorビットマップ");
const QString kDevice = QStringLiteral("デバイス依存フォーマット");

class OpenSave : public FilesTest {};

TEST_F(OpenSave, OpenDialogOpensTheChosenPictureAndNamesItInTheCaption)
{
    ui::TMainForm &form = start();
    const QString name = sixColors();
    ModalDriver driver;
    driver.then(typeName(Kind::Open, name));
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("six.bmp")));
    EXPECT_EQ(ui::applicationTitle(), form.windowTitle());
    EXPECT_EQ(form.fileName(), name);
    EXPECT_EQ(formatLabel(), kTrueColor24);
    ASSERT_TRUE(form.pictureShown());
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(shownColor(i % 3, i / 3), kSixColors[std::size_t(i)]) << "pixel " << i;
    EXPECT_TRUE(form.EditCopy1->isEnabled());
    EXPECT_TRUE(form.SavePicture1->isEnabled());
}

TEST_F(OpenSave, OpenDialogStartsOnTheCurrentFile)
{
    ui::TMainForm &form = start({sixColors()});
    QString typed;
    bool previewed = false;
    ModalDriver driver;
    driver.then(cancel([&](ui::PictureDialog &dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("画像を開く"));
        EXPECT_EQ(QDir(dialog.directory()).canonicalPath(), QDir(QString::fromStdString(m_dir.path())).canonicalPath());
        typed = nameBox(&dialog)->text();
        previewed = dialog.preview()->hasPicture();
    }));
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(typed, QStringLiteral("six.bmp"));
    EXPECT_TRUE(previewed);
}

TEST_F(OpenSave, NameWithoutExtensionGetsTheDefaultOne)
{
    ui::TMainForm &form = start();
    sixColors(QStringLiteral("plain.bmp"));
    ModalDriver driver;
    driver.then(typeName(Kind::Open, QString::fromStdString(m_dir.file("plain"))));
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    settle();
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("plain.bmp")));
    EXPECT_TRUE(form.pictureShown());
}

// Contents and names the program can't show as a picture: the unsupported
// state, silently, with the failed name in the caption.
struct UnsupportedCase {
    const char *label;
    const char *fileName;
    Bytes content;
};

Bytes textBytes(const char *text)
{
    return Bytes(text, text + std::strlen(text));
}

class OpenUnsupported : public FilesTest, public ::testing::WithParamInterface<UnsupportedCase> {};

TEST_P(OpenUnsupported, ShowsTheUnsupportedStateWithoutAMessage)
{
    ui::TMainForm &form = start({sixColors()});
    ASSERT_TRUE(form.pictureShown());
    const QString name = writeFile(QString::fromLatin1(GetParam().fileName), GetParam().content);
    QStringList seen;
    ModalDriver driver;
    driver.then(typeName(Kind::Open, name)).then(unexpected(&seen));
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    settle(50);
    EXPECT_EQ(seen, QStringList());
    EXPECT_EQ(formatLabel(), kUnsupported);
    EXPECT_FALSE(form.pictureShown());
    EXPECT_EQ(form.windowTitle(), captionFor(QString::fromLatin1(GetParam().fileName)));
    for (ui::TAction *action : {form.ColorPick1, form.ColorPick2, form.ColorChange, form.EditCopy1, form.SavePicture1})
        EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenUnsupported,
    ::testing::Values(UnsupportedCase{"BmpNameWithText", "notes.bmp", textBytes("these are notes, not a picture")},
                      UnsupportedCase{"JpgName", "photo.jpg", bmp24Filled(2, 2, 0)},
                      UnsupportedCase{"OtherSignature", "other.bmp", textBytes("GIF89a and more bytes after it")},
                      UnsupportedCase{"BadIcon", "bad.ico", Bytes{0, 0, 7, 0, 1, 0}}),
    [](const auto &info) { return std::string(info.param.label); });

TEST_F(OpenSave, MissingFileShowsTheErrorAndKeepsThePicture)
{
    ui::TMainForm &form = start({sixColors()});
    const QString missing = QString::fromStdString(m_dir.file("missing.bmp"));
    QString text;
    ModalDriver driver;
    driver.then(typeName(Kind::Open, missing)).then(messageBox(&text));
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(driver.done()) << driver.handled();
    EXPECT_TRUE(text.contains(QStringLiteral("missing.bmp"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QLatin1Char('.')));
    // The new name is recorded before reading; the old picture stays.
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("missing.bmp")));
    EXPECT_TRUE(form.pictureShown());
    EXPECT_EQ(formatLabel(), kTrueColor24);
    EXPECT_EQ(shownColor(2, 1), kSixColors[5]);
}

TEST_F(OpenSave, BmpCutShortInItsHeaderShowsTheReadErrorAndKeepsThePicture)
{
    ui::TMainForm &form = start({sixColors()});
    Bytes cut = bmp24Filled(4, 4, platform::rgb(1, 2, 3));
    cut.resize(30);
    const QString name = writeFile(QStringLiteral("cut.bmp"), cut);
    QString text;
    ModalDriver driver;
    driver.then(messageBox(&text));
    form.setOpenDialogFileName(name);
    ui::runGuarded([&] { form.OpenPicture1Accept(); });
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(text, QStringLiteral("ストリームからの読み込みエラー."));
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("cut.bmp")));
    EXPECT_EQ(formatLabel(), kTrueColor24);
    EXPECT_EQ(shownColor(0, 0), kSixColors[0]);
}

TEST_F(OpenSave, IconNameGivesAnEmptyDevicePicture)
{
    ui::TMainForm &form = start({sixColors()});
    // A one-image icon header: reserved 0, type 1, count 1, then an entry.
    Bytes icon{0, 0, 1, 0, 1, 0};
    icon.resize(22, 0);
    open(writeFile(QStringLiteral("tool.ico"), icon));
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("tool.ico")));
    EXPECT_EQ(formatLabel(), kDevice);
    EXPECT_TRUE(form.pictureShown());
    ASSERT_NE(form.Image1->bitmap(), nullptr);
    EXPECT_TRUE(form.Image1->bitmap()->empty());
    EXPECT_EQ(form.Image1->size(), QSize(0, 0));
}

TEST_F(OpenSave, SaveUnderATextNameWritesABmp)
{
    ui::TMainForm &form = start({sixColors()});
    const QString target = QString::fromStdString(m_dir.file("x.txt"));
    ModalDriver driver;
    driver.then(typeName(Kind::Save, target));
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(driver.done());
    const Bytes written = readFile(target.toStdString());
    ASSERT_GT(written.size(), 54u);
    EXPECT_EQ(written[0], 'B');
    EXPECT_EQ(written[1], 'M');
    EXPECT_EQ(tiny_bmp::get32(written, 18), 3u);  // width
    EXPECT_EQ(tiny_bmp::get32(written, 22), 2u);  // height
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("x.txt")));
    // The file reads back with the same pixels.
    picture::Bitmap back;
    back.loadFromFile(target.toStdString());
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(back.pixel(i % 3, i / 3), kSixColors[std::size_t(i)]) << "pixel " << i;
    EXPECT_FALSE(fileExists(m_dir.file("x.txt.bmp")));
}

TEST_F(OpenSave, SaveDialogStartsOnTheCurrentFileAndAddsTheExtension)
{
    ui::TMainForm &form = start({sixColors()});
    QString typed;
    ModalDriver driver;
    driver.then([&](QWidget *w) {
        auto *dialog = dynamic_cast<ui::PictureDialog *>(w);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("画像の保存"));
        typed = nameBox(dialog)->text();
        typeInto(dialog, QString::fromStdString(m_dir.file("copy")));
        QTest::keyClick(nameBox(dialog), Qt::Key_Return);
    });
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    settle();
    EXPECT_EQ(typed, QStringLiteral("six.bmp"));
    EXPECT_TRUE(fileExists(m_dir.file("copy.bmp")));
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("copy.bmp")));
}

TEST_F(OpenSave, SavingOverAFileAsksFirst)
{
    ui::TMainForm &form = start({sixColors()});
    const Bytes old = bmp24Filled(1, 1, 0);
    const QString target = writeFile(QStringLiteral("old.bmp"), old);
    // Answers the overwrite question with `answer`; on No the dialog stays
    // open and is cancelled.
    const auto answer = [](QMessageBox::StandardButton button, QString *text) {
        return [button, text](QWidget *window) {
            auto *box = qobject_cast<QMessageBox *>(window);
            ASSERT_NE(box, nullptr) << "expected the overwrite question";
            *text = box->text();
            QWidget *dialog = box->parentWidget();
            box->button(button)->click();
            if (button == QMessageBox::No)
                QTimer::singleShot(0, dialog, [dialog] { QTest::keyClick(dialog, Qt::Key_Escape); });
        };
    };
    QString question;
    ModalDriver driver;
    driver.then(typeName(Kind::Save, target)).then(answer(QMessageBox::No, &question));
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_TRUE(question.contains(QStringLiteral("old.bmp"))) << question.toStdString();
    EXPECT_EQ(readFile(target.toStdString()), old);
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("six.bmp")));

    // Back to the main window, as when the dialog closes on a desktop.
    QApplication::setActiveWindow(&form);
    ModalDriver again;
    again.then(typeName(Kind::Save, target)).then(answer(QMessageBox::Yes, &question));
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(again.done());
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("old.bmp")));
    EXPECT_NE(readFile(target.toStdString()), old);
}

TEST_F(OpenSave, SaveIntoAMissingFolderShowsTheErrorWithTheNewNameRecorded)
{
    ui::TMainForm &form = start({sixColors()});
    const QString target = QString::fromStdString(m_dir.file("none/out.bmp"));
    form.setSaveDialogFileName(target);
    QString text;
    ModalDriver driver;
    driver.then(messageBox(&text));
    ui::runGuarded([&] { form.SavePicture1Accept(); });
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(fileExists(target.toStdString()));
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("out.bmp")));
    EXPECT_TRUE(form.pictureShown());
}

TEST_F(OpenSave, ProcessedAndSavedPictureKeepsItsHeaderBlockAlphaAndProfile)
{
    ui::TMainForm &form = start();
    for (const QString &file : keepingFiles()) {
        picture::Bitmap original;
        original.loadFromFile(file.toStdString());
        open(file);
        const ColorRef before = pictureColor(0, 0);
        form.ColorInv->trigger();
        settle();
        const QString target = QString::fromStdString(m_dir.file("kept.bmp"));
        form.setSaveDialogFileName(target);
        form.SavePicture1Accept();
        picture::Bitmap back;
        back.loadFromFile(target.toStdString());
        EXPECT_EQ(back.pixel(0, 0), before ^ 0x00FFFFFFu) << file.toStdString();
        expectKeptBeyondColors(original, back, file);
    }
}

TEST_F(OpenSave, CommandLineFileTakesTheSameOpenStep)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("bad.bmp"), textBytes("not a picture, but long enough"))});
    EXPECT_EQ(formatLabel(), kUnsupported);
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("bad.bmp")));
}

}  // namespace
}  // namespace tovi::test
