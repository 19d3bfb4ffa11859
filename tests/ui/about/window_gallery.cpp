// Shows one of the program's small windows over a stand-in main window, for
// looking at them on a real display (screenshots under Xvfb):
//     ui_window_gallery confirm|result|about [seconds]
//     ui_window_gallery icon out.png        (the icon drawing, 8 times enlarged)
//     ui_window_gallery ask                 (asks once, prints the answer)

#include <cstdio>

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include "ui/about/about_box.h"
#include "ui/about/program_icon.h"
#include "ui/batch/confirm_dialog.h"
#include "ui/batch/result_form.h"

using namespace tovi::ui;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString what = args.value(1);
    if (what == QLatin1String("icon")) {
        const QImage icon = programIconImage();
        return icon.scaled(icon.size() * 8).save(args.value(2)) ? 0 : 1;
    }

    if (what == QLatin1String("ask")) {
        const char *names[] = {"Yes", "No", "Abort", "YesToAll", "Closed"};
        std::puts(names[int(askOverwrite(nullptr, QStringLiteral("1.bmp")))]);
        return 0;
    }

    QMainWindow mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("Tovi for XP"));
    mainWindow.setGeometry(100, 100, 640, 480);
    mainWindow.show();

    QWidget *shown = nullptr;
    if (what == QLatin1String("confirm")) {
        shown = new ConfirmDialog(&mainWindow, QStringLiteral("夕焼け 01.bmp"));
    } else if (what == QLatin1String("result")) {
        auto *form = new TResultForm(&mainWindow);
        form->AddNormalLine(QStringLiteral("フォルダ:\t/home/user/pictures/"));
        form->AddNormalLine(QStringLiteral("色交換モード処理しました:\tsunset.bmp"));
        form->AddChangedLine(QStringLiteral("フォーマット変更しました:\trle.bmp\tデバイス依存 → 32 ビット"));
        form->AddNormalLine(QStringLiteral("色交換モード処理しました:\tsky.bmp"));
        form->AddFailedLine(QStringLiteral("処理できませんでした:\tnotes.bmp\t未サポートフォーマット"));
        form->AddNormalLine(QStringLiteral("フォルダ:\t/home/user/scans/"));
        form->AddNormalLine(QStringLiteral("色交換モード処理しました:\tpage1.bmp"));
        shown = form;
    } else if (what == QLatin1String("about")) {
        shown = new TAboutBox(&mainWindow);
    } else {
        qWarning("usage: ui_window_gallery confirm|result|about [seconds] | icon out.png");
        return 2;
    }
    shown->show();
    // exit, not quit: quit asks every window to close first, and the result
    // window refuses.
    QTimer::singleShot(int(args.value(2, QStringLiteral("5")).toDouble() * 1000), &app, [] { QApplication::exit(0); });
    return app.exec();
}
