#pragma once
// The about box: the program's icon, name, version (read from the version
// record of the running executable), maker's notice and description, over the
// gradient background, fading in and out like the batch result window.
//
// Use (the main window's HelpAbout1Execute):
//     auto *box = new TAboutBox(this);
//     box->exec();
//     box->deleteLater();

#include <cstdint>
#include <string>

#include <QString>
#include <QWidget>

#include "ui/common/fade_form.h"

class QLabel;
class QPushButton;

namespace tovi::ui {

struct ProductVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t release = 0;
    std::uint16_t build = 0;

    bool operator==(const ProductVersion &) const = default;
};

// The fixed product version of the executable at `path`: size query, read,
// root-block query. All four numbers 0 when a step fails.
ProductVersion ReadProductVersion(const std::string &path);
// The same for the running executable's own file.
ProductVersion ReadProductVersion();

// "バージョン %d.%d.%d Build[%d]"
QString versionText(const ProductVersion &version);

// A box of one-pixel lines, sunken: top and left edges in the button shadow
// colour, bottom and right edges in the button highlight colour.
class Bevel : public QWidget {
    Q_OBJECT

public:
    explicit Bevel(QWidget *parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent *event) override;
};

class TAboutBox : public FadeForm {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 252;
    static constexpr int kClientHeight = 184;

    explicit TAboutBox(QWidget *mainWindow);

    QPushButton *const OKButton;
    Bevel *const Bevel1;
    QLabel *const ProgramIcon;
    QLabel *const ProductName;
    QLabel *const Version;
    QLabel *const Copyright;
    QLabel *const Comments;

private:
    void FormCreate();
};

}  // namespace tovi::ui
