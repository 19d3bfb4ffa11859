// The three picture dialogs and their preview pane: titles, filter, default
// extension and modes; the preview's label, picture and button for readable
// and unreadable files, every picture of the BMP Suite included; the larger
// view; and the several-files command handing its choice to the batch run.

#include <QAbstractItemView>
#include <QDir>
#include <QFileSystemModel>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include "files_fixture.h"
#include "ui/batch/confirm_dialog.h"
#include "ui/batch/result_form.h"

namespace tovi::test {
namespace {

using ui::PictureDialog;
using ui::PicturePreview;
using Kind = PictureDialog::Kind;

// --- The dialogs ------------------------------------------------------------

struct DialogCase {
    Kind kind;
    const char *title;
    QFileDialog::AcceptMode acceptMode;
    QFileDialog::FileMode fileMode;
};

class PictureDialogs : public ::testing::TestWithParam<DialogCase> {};

TEST_P(PictureDialogs, HaveTheirTitleFilterExtensionAndMode)
{
    PictureDialog dialog(GetParam().kind, nullptr);
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(GetParam().title));
    EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("ビットマップ (*.bmp)")});
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("bmp"));
    EXPECT_EQ(dialog.acceptMode(), GetParam().acceptMode);
    EXPECT_EQ(dialog.fileMode(), GetParam().fileMode);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_FALSE(dialog.testOption(QFileDialog::ReadOnly));
    EXPECT_TRUE(dialog.isSizeGripEnabled());
}

TEST_P(PictureDialogs, ShowThePreviewBesideTheFileList)
{
    PictureDialog dialog(GetParam().kind, nullptr);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    PicturePreview *preview = dialog.preview();
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(preview->isVisible());
    // The file list, in whichever view it is shown.
    QAbstractItemView *list = dialog.findChild<QAbstractItemView *>(QStringLiteral("listView"));
    if (!list || !list->isVisible())
        list = dialog.findChild<QAbstractItemView *>(QStringLiteral("treeView"));
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->isVisible());
    const QRect listRect(list->mapTo(&dialog, QPoint(0, 0)), list->size());
    const QRect previewRect(preview->mapTo(&dialog, QPoint(0, 0)), preview->size());
    EXPECT_GE(previewRect.left(), listRect.right()) << "the preview is right of the list";
    EXPECT_LT(previewRect.top(), listRect.bottom()) << "and beside it, not below";
    EXPECT_GE(previewRect.width(), 150);
    // It keeps its width when the dialog is made larger.
    const int width = preview->width();
    dialog.resize(dialog.size() + QSize(300, 100));
    settle();
    EXPECT_GE(preview->width(), width);
    EXPECT_GT(preview->area()->height(), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PictureDialogs,
    ::testing::Values(DialogCase{Kind::Open, "画像を開く", QFileDialog::AcceptOpen, QFileDialog::AnyFile},
                      DialogCase{Kind::Save, "画像の保存", QFileDialog::AcceptSave, QFileDialog::AnyFile},
                      DialogCase{Kind::OpenSeveral, "色交換する画像の選択(複数)", QFileDialog::AcceptOpen,
                                 QFileDialog::ExistingFiles}),
    [](const auto &info) {
        switch (info.param.kind) {
        case Kind::Open:
            return std::string("Open");
        case Kind::Save:
            return std::string("Save");
        default:
            return std::string("OpenSeveral");
        }
    });

// --- The preview pane -------------------------------------------------------

class Preview : public ::testing::Test {
protected:
    QString file(const char *name, const Bytes &bytes)
    {
        const std::string path = m_dir.file(name);
        writeFile(path, bytes);
        return QString::fromStdString(path);
    }
    static void expectNoPicture(const PicturePreview &preview)
    {
        EXPECT_EQ(preview.sizeLabel()->text(), QStringLiteral("画像:"));
        EXPECT_FALSE(preview.previewButton()->isEnabled());
        EXPECT_FALSE(preview.area()->hasImage());
        EXPECT_FALSE(preview.hasPicture());
    }

    TempDir m_dir;
};

TEST_F(Preview, ReadablePictureShowsItsSizeAndTheButton)
{
    PicturePreview preview;
    preview.showFile(file("p.bmp", bmp24Filled(40, 30, platform::rgb(255, 0, 0))));
    EXPECT_EQ(preview.sizeLabel()->text(), QStringLiteral(" (40x30)"));
    EXPECT_TRUE(preview.previewButton()->isEnabled());
    EXPECT_TRUE(preview.area()->hasImage());
}

TEST_F(Preview, PictureIsScaledToFitKeepingItsProportionsAndCentred)
{
    PicturePreview preview;
    preview.resize(260, 300);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    std::vector<ColorRef> colors(400 * 100, platform::rgb(0, 0, 255));
    for (int y = 0; y < 100; ++y)
        colors[std::size_t(y * 400 + 399)] = platform::rgb(255, 255, 0);
    preview.showFile(file("wide.bmp", bmp24Colors(400, 100, colors)));
    ui::PreviewArea *area = preview.area();
    const QRect shown = area->pictureRect();
    const QRect room = area->contentsRect();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_TRUE(room.contains(shown));
    EXPECT_LT(shown.width(), 400);
    EXPECT_NEAR(double(shown.width()) / shown.height(), 4.0, 0.1);
    EXPECT_LE(std::abs(shown.center().x() - room.center().x()), 1);
    EXPECT_LE(std::abs(shown.center().y() - room.center().y()), 1);
    // Painted: blue in the middle, background above the picture.
    const QImage painted = area->grab().toImage();
    EXPECT_EQ(colorAt(painted, shown.center()), platform::rgb(0, 0, 255));
    EXPECT_NE(colorAt(painted, QPoint(shown.center().x(), shown.top() - 3)), platform::rgb(0, 0, 255));
}

TEST_F(Preview, SmallPictureIsEnlargedToFitWithSharpPixels)
{
    PicturePreview preview;
    preview.resize(260, 300);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    preview.showFile(file("small.bmp", bmp24Colors(2, 1, {platform::rgb(255, 0, 0), platform::rgb(0, 0, 255)})));
    EXPECT_EQ(preview.sizeLabel()->text(), QStringLiteral(" (2x1)"));
    const QRect shown = preview.area()->pictureRect();
    const QRect room = preview.area()->contentsRect();
    EXPECT_GT(shown.width(), room.width() - 12);
    EXPECT_NEAR(double(shown.width()) / shown.height(), 2.0, 0.05);
    EXPECT_LE(std::abs(shown.center().y() - room.center().y()), 1);
    const QImage painted = preview.area()->grab().toImage();
    const int y = shown.center().y();
    // Each half one colour up to the middle: no blending between the pixels.
    EXPECT_EQ(colorAt(painted, shown.left() + 1, y), platform::rgb(255, 0, 0));
    EXPECT_EQ(colorAt(painted, shown.center().x() - 2, y), platform::rgb(255, 0, 0));
    EXPECT_EQ(colorAt(painted, shown.center().x() + 2, y), platform::rgb(0, 0, 255));
    EXPECT_EQ(colorAt(painted, shown.right() - 1, y), platform::rgb(0, 0, 255));
}

struct UnreadableCase {
    const char *label;
    const char *name;
    Bytes content;
};

Bytes headerOnly()
{
    Bytes bytes = bmp24Filled(2, 2, 0);
    bytes.resize(30);
    return bytes;
}

class PreviewUnreadable : public Preview, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(PreviewUnreadable, ShowsNoPictureAndDisablesTheButton)
{
    PicturePreview preview;
    preview.showFile(file("good.bmp", bmp24Filled(2, 2, 0)));
    ASSERT_TRUE(preview.hasPicture());
    preview.showFile(file(GetParam().name, GetParam().content));
    expectNoPicture(preview);
}

INSTANTIATE_TEST_SUITE_P(Files, PreviewUnreadable,
                         ::testing::Values(UnreadableCase{"Text", "a.bmp", Bytes{'h', 'i'}},
                                           UnreadableCase{"Empty", "e.bmp", Bytes{}},
                                           UnreadableCase{"OtherExtension", "p.png", bmp24Filled(2, 2, 0)},
                                           UnreadableCase{"Icon", "i.ico", Bytes{0, 0, 1, 0, 1, 0, 0, 0}},
                                           UnreadableCase{"HeaderOnly", "h.bmp", headerOnly()}),
                         [](const auto &info) { return std::string(info.param.label); });

TEST_F(Preview, MissingFileFolderAndEmptyNameShowNoPicture)
{
    PicturePreview preview;
    preview.showFile(QString::fromStdString(m_dir.file("missing.bmp")));
    expectNoPicture(preview);
    std::filesystem::create_directories(m_dir.file("folder.bmp"));
    preview.showFile(QString::fromStdString(m_dir.file("folder.bmp")));
    expectNoPicture(preview);
    preview.showFile(QString());
    expectNoPicture(preview);
}

TEST_F(Preview, PipeIsNeverRead)
{
    const std::string pipe = m_dir.file("pipe.bmp");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    PicturePreview preview;
    preview.showFile(QString::fromStdString(pipe));  // would wait for a writer forever
    expectNoPicture(preview);
}

struct LargeViewCase {
    const char *label;
    QSize picture;
    QSize shown;
};

class PreviewLargeView : public Preview, public ::testing::WithParamInterface<LargeViewCase> {};

TEST_P(PreviewLargeView, ButtonOpensItLargerThanThePane)
{
    PicturePreview preview;
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    const QSize size = GetParam().picture;
    std::vector<ColorRef> colors(std::size_t(size.width() * size.height()), platform::rgb(7, 8, 9));
    colors.back() = platform::rgb(200, 0, 0);  // bottom right
    preview.showFile(file("view.bmp", bmp24Colors(size.width(), size.height(), colors)));
    QSize pixmapSize;
    QString title;
    ModalDriver driver;
    driver.then([&](QWidget *window) {
        ASSERT_EQ(window->objectName(), QStringLiteral("PictureLargeView"));
        title = window->windowTitle();
        auto *picture = window->findChild<QLabel *>(QStringLiteral("Picture"));
        ASSERT_NE(picture, nullptr);
        const QImage shown = picture->pixmap().toImage();
        pixmapSize = shown.size();
        EXPECT_EQ(colorAt(shown, 0, 0), platform::rgb(7, 8, 9));
        EXPECT_EQ(colorAt(shown, shown.width() - 1, shown.height() - 1), platform::rgb(200, 0, 0));
        QTest::keyClick(window, Qt::Key_Escape);
    });
    QTest::mouseClick(preview.previewButton(), Qt::LeftButton);
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(pixmapSize, GetParam().shown);
    EXPECT_EQ(title, QStringLiteral("view.bmp"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, PreviewLargeView,
                         ::testing::Values(LargeViewCase{"OwnSize", QSize(450, 200), QSize(450, 200)},
                                           LargeViewCase{"SmallEnlarged", QSize(20, 10), QSize(400, 200)},
                                           LargeViewCase{"TinyEnlarged", QSize(3, 2), QSize(399, 266)}),
                         [](const auto &info) { return std::string(info.param.label); });

// Every picture of the BMP Suite's good set previews at its size.
std::vector<std::pair<std::string, QSize>> goodCorpusFiles()
{
    std::vector<std::pair<std::string, QSize>> files;
    std::ifstream index(std::string(TOVI_CORPUS_DIR) + "/INDEX.tsv");
    std::string line;
    std::getline(index, line);
    while (std::getline(index, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (f.size() > 6 && f[0].rfind("g/", 0) == 0)
            files.emplace_back(f[0], QSize(std::stoi(f[5]), std::abs(std::stoi(f[6]))));
    }
    return files;
}

TEST(PreviewCorpus, EveryGoodBmpSuitePictureShowsWithItsSize)
{
    const auto files = goodCorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no BMP Suite corpus at " << TOVI_CORPUS_DIR;
    PicturePreview preview;
    for (const auto &[path, size] : files) {
        preview.showFile(QString::fromStdString(std::string(TOVI_CORPUS_DIR) + "/" + path));
        EXPECT_EQ(preview.sizeLabel()->text(), QString::asprintf(" (%dx%d)", size.width(), size.height())) << path;
        EXPECT_TRUE(preview.previewButton()->isEnabled()) << path;
    }
}

TEST(PreviewCorpus, BadAndQuestionableFilesNeverBreakThePreview)
{
    for (const char *folder : {"b", "q"}) {
        const std::filesystem::path dir = std::filesystem::path(TOVI_CORPUS_DIR) / folder;
        if (!std::filesystem::exists(dir))
            GTEST_SKIP() << "no BMP Suite corpus";
        PicturePreview preview;
        for (const auto &entry : std::filesystem::directory_iterator(dir)) {
            preview.showFile(QString::fromStdString(entry.path().string()));
            // Either state, consistently.
            EXPECT_EQ(preview.previewButton()->isEnabled(), preview.hasPicture()) << entry.path();
            EXPECT_EQ(preview.sizeLabel()->text() == QStringLiteral("画像:"), !preview.hasPicture()) << entry.path();
        }
    }
}

// --- The dialogs in use --------------------------------------------------------

class DialogsInUse : public FilesTest {};

TEST_F(DialogsInUse, ChoosingAFileInTheListPreviewsIt)
{
    ui::TMainForm &form = start();
    writeFile(QStringLiteral("a.bmp"), bmp24Filled(12, 7, 0));
    writeFile(QStringLiteral("b.bmp"), Bytes{'n', 'o'});
    writeFile(QStringLiteral("SCAN.BMP"), bmp24Filled(5, 9, 0));
    form.setOpenDialogFileName(QString::fromStdString(m_dir.file("a.bmp")));
    std::map<QString, QString> labels;
    std::map<QString, bool> buttons;
    QStringList listed;
    ModalDriver driver;
    driver.then([&](QWidget *window) {
        auto *dialog = dynamic_cast<PictureDialog *>(window);
        ASSERT_NE(dialog, nullptr);
        QAbstractItemView *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        if (!list || !list->isVisible())
            list = dialog->findChild<QAbstractItemView *>(QStringLiteral("treeView"));
        ASSERT_NE(list, nullptr);
        // The folder is read in the background.
        QAbstractItemModel *model = list->model();
        const QModelIndex root = list->rootIndex();
        for (int i = 0; i < 200 && model->rowCount(root) < 3; ++i)
            settle(10);
        for (int row = 0; row < model->rowCount(root); ++row) {
            const QModelIndex index = model->index(row, 0, root);
            const QString name = index.data().toString();
            listed.append(name);
            list->scrollTo(index);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
            labels[name] = dialog->preview()->sizeLabel()->text();
            buttons[name] = dialog->preview()->previewButton()->isEnabled();
        }
        dialog->reject();
    });
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(driver.done());
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("SCAN.BMP"), QStringLiteral("a.bmp"), QStringLiteral("b.bmp")}))
        << "the filter lists .bmp names in any case, and only those";
    EXPECT_EQ(labels[QStringLiteral("a.bmp")], QStringLiteral(" (12x7)"));
    EXPECT_TRUE(buttons[QStringLiteral("a.bmp")]);
    EXPECT_EQ(labels[QStringLiteral("SCAN.BMP")], QStringLiteral(" (5x9)"));
    EXPECT_EQ(labels[QStringLiteral("b.bmp")], QStringLiteral("画像:"));
    EXPECT_FALSE(buttons[QStringLiteral("b.bmp")]);
}

TEST_F(DialogsInUse, PreviewFollowsANameTypedIntoTheNameBox)
{
    ui::TMainForm &form = start();
    writeFile(QStringLiteral("a.bmp"), bmp24Filled(12, 7, 0));
    writeFile(QStringLiteral("b.bmp"), bmp24Filled(5, 9, 0));
    form.setOpenDialogFileName(QString::fromStdString(m_dir.file("a.bmp")));
    QStringList labels;
    const auto typeAndLook = [&](PictureDialog &dialog, const QString &name) {
        QLineEdit *box = nameBox(&dialog);
        QApplication::setActiveWindow(&dialog);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, name);
        labels.append(dialog.preview()->sizeLabel()->text());
    };
    ModalDriver driver;
    driver.then(cancel([&](PictureDialog &dialog) {
        labels.append(dialog.preview()->sizeLabel()->text());
        typeAndLook(dialog, QStringLiteral("b.bmp"));
        // A name without its extension, as the dialog completes it.
        typeAndLook(dialog, QStringLiteral("a"));
        // A name that names no file shows no picture.
        typeAndLook(dialog, QStringLiteral("missing.bmp"));
        typeAndLook(dialog, QString::fromStdString(m_dir.file("b.bmp")));
    }));
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(labels, (QStringList{QStringLiteral(" (12x7)"), QStringLiteral(" (5x9)"), QStringLiteral(" (12x7)"),
                                   QStringLiteral("画像:"), QStringLiteral(" (5x9)")}));
}

TEST_F(DialogsInUse, SeveralFilesGoToTheBatchRunInTheDialogsOrder)
{
    ui::TMainForm &form = start();
    writeFile(QStringLiteral("one.bmp"), bmp24Filled(1, 1, 0));
    writeFile(QStringLiteral("two.bmp"), bmp24Filled(1, 1, 0));
    QStringList asked;
    bool resultShown = false;
    const auto skip = [&](QWidget *window) {
        auto *dialog = qobject_cast<ui::ConfirmDialog *>(window);
        ASSERT_NE(dialog, nullptr) << "expected a question";
        asked.append(dialog->message().section(QStringLiteral("\n\r"), -1));
        dialog->button(ui::ConfirmAnswer::No)->click();
    };
    ModalDriver driver;
    driver
        .then([&](QWidget *window) {
            auto *dialog = dynamic_cast<PictureDialog *>(window);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->kind(), Kind::OpenSeveral);
            dialog->setDirectory(QString::fromStdString(m_dir.path()));
            typeInto(dialog, QStringLiteral("\"two.bmp\" \"one.bmp\""));
            QTest::keyClick(nameBox(dialog), Qt::Key_Return);
        })
        .then(skip)
        .then(skip)
        .then([&](QWidget *window) {
            auto *result = qobject_cast<ui::TResultForm *>(window);
            ASSERT_NE(result, nullptr);
            resultShown = true;
            result->Button1->click();
        });
    form.SelectPictures->trigger();
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(asked, (QStringList{QStringLiteral("two.bmp"), QStringLiteral("one.bmp")}));
    EXPECT_TRUE(resultShown);
}

TEST_F(DialogsInUse, CancellingTheSeveralFilesDialogRunsNothing)
{
    ui::TMainForm &form = start();
    ModalDriver driver;
    driver.then(cancel([](PictureDialog &dialog) { EXPECT_EQ(dialog.kind(), Kind::OpenSeveral); }))
        .then([](QWidget *) { ADD_FAILURE() << "a window after cancelling"; });
    form.SelectPictures->trigger();
    settle(50);
    EXPECT_EQ(driver.handled(), 1);
}

}  // namespace
}  // namespace tovi::test
