#pragma once
// The controls the main window is built from: actions and their list, tool
// bar and its buttons, the colour swatches and format label, and the view
// (scroll area, background painter and picture control).

#include <QAction>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QScrollArea>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "picture/picture.h"
#include "platform/raster.h"

namespace tovi::ui {

class TImageList;

// The two halves of a hint: the short one before the first "|" (the
// tooltip), the long one after it (the status bar; the whole hint when it has
// no "|", so a second "|" stays in the long half).
QString shortHint(const QString &hint);
QString longHint(const QString &hint);

// A command: caption, hint, glyph (by index into the image list), shortcut,
// help context, enabled and checked state, and the handler it runs.
class TAction : public QAction {
public:
    enum class HelpType { Context, Keyword };

    TAction(const QString &name, const TImageList *images, QObject *parent);

    int imageIndex() const { return m_imageIndex; }
    void setImageIndex(int index);
    QString hint() const { return m_hint; }
    void setHint(const QString &hint);
    QString category() const { return m_category; }
    void setCategory(const QString &category) { m_category = category; }
    int helpContext() const { return m_helpContext; }
    void setHelpContext(int context) { m_helpContext = context; }
    HelpType helpType() const { return m_helpType; }
    void setHelpType(HelpType type) { m_helpType = type; }

    // The handler; for dialog actions it shows the dialog and runs the
    // accept step when the user confirms.
    std::function<void()> onExecute;
    // The action's own enabling rule, run after the list-wide one.
    std::function<void()> onUpdate;

private:
    const TImageList *m_images;
    int m_imageIndex = -1;
    QString m_hint;
    QString m_category;
    int m_helpContext = 0;
    HelpType m_helpType = HelpType::Context;
};

// The action list: runs the enabling rules whenever the program becomes idle
// and once more just before an action runs; an action that is disabled at
// that moment doesn't run. Errors that leave a handler go to the
// application's error handler.
class TActionList : public QObject {
public:
    explicit TActionList(QObject *parent);

    void add(TAction *action);
    const QList<TAction *> &actions() const { return m_actions; }

    // The list-wide rule, run first for every action updated; returning true
    // marks the update handled, so the action's own rule doesn't run.
    std::function<bool(TAction *)> onUpdate;

    void updateAction(TAction *action);
    void updateAll();
    void execute(TAction *action);

private:
    QList<TAction *> m_actions;
    bool m_updating = false;
};

// A tool button presenting an action. The short half of the hint is its
// tooltip and the long half its status text; a button can carry its own
// hint in place of its action's.
class TToolButton : public QToolButton {
public:
    explicit TToolButton(QWidget *parent);
    void setAction(TAction *action);
    void setOwnHint(const QString &hint);
    QString currentHint() const;

protected:
    void actionEvent(QActionEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void applyHint();
    QString m_ownHint;
    bool m_hasOwnHint = false;
};

// A gap of 8 pixels between groups of tool buttons, with an etched line.
class TToolSeparator : public QWidget {
public:
    explicit TToolSeparator(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A bar whose background is painted by its owner (the tool bar's gradient).
class TToolBar : public QWidget {
public:
    explicit TToolBar(QWidget *parent);
    std::function<void(QPainter &, const QRect &exposed)> onCustomDraw;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
};

// A colour swatch with a lowered bevel; its colour is a colour value.
class TColorPanel : public QFrame {
public:
    explicit TColorPanel(QWidget *parent);
    platform::ColorRef color() const { return m_color; }
    void setColor(platform::ColorRef color);
    std::function<void()> onClick;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    platform::ColorRef m_color = 0;
    bool m_pressed = false;
};

// A label whose width follows its text; its owner docks it.
class TStaticText : public QLabel {
public:
    explicit TStaticText(QWidget *parent);
    void setLook(const QString &text, const QColor &background, const QColor &foreground);
    std::function<void()> onResize;
};

// The colour bar: no outer bevel, one bevel line along its bottom edge.
class TColorBar : public QWidget {
public:
    explicit TColorBar(QWidget *parent);
    TStaticText *dockedRight = nullptr;
    void layoutDocked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
};

// Paints through its owner's handler; covers the whole scrollable area.
class TPaintBox : public QWidget {
public:
    explicit TPaintBox(QWidget *parent);
    std::function<void(QPainter &, const QRect &exposed)> onPaint;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The picture control: shows the picture container's bitmap at its natural
// size and sizes itself to it. What is painted comes from display tiles:
// each is converted from the picture the first time it is exposed after a
// change and kept until the next change, so a large picture is never
// converted as a whole on a paint, and parts never shown are never converted.
class TImage : public QWidget {
public:
    static constexpr int kTileSize = 256;

    explicit TImage(QWidget *parent);

    picture::Picture &picture() { return m_picture; }
    // The held bitmap picture, or null while the container holds none.
    const picture::Bitmap *bitmap() const;
    // How many display tiles are held now (converted since the last change).
    int convertedTiles() const;

    // The zoom: screen pixels per picture pixel, 1 (the natural size) unless
    // the view is zoomed. Zoomed, each screen pixel shows the picture pixel
    // its centre falls on (a zoomed-in pixel is a clean square), and the
    // control's size is the picture's size times the zoom, rounded.
    double scale() const { return m_scale; }
    void setScale(double scale);
    // The picture pixel shown at a point of the control; a point beyond the
    // control's edges gives one beyond the picture's.
    QPoint pictureAt(const QPoint &pos) const;

    std::function<void(QMouseEvent *)> onMouseDown;
    std::function<void(QMouseEvent *)> onMouseMove;
    std::function<void(QMouseEvent *)> onMouseUp;
    // Size or visibility changed: the scroll range follows.
    std::function<void()> onLayoutChange;
    // Called after each paint (for measuring).
    std::function<void()> onPainted;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void pictureChanged();
    const QImage &tile(int column, int row);
    QSize scaledSize() const;
    int sourceIndex(int screen, int pictureSize) const;
    void paintScaled(QPainter &painter, const QRect &exposed);

    picture::Picture m_picture;
    std::vector<QImage> m_tiles;  // row by row; null until converted
    int m_tileColumns = 0;
    double m_scale = 1.0;
};

// The scroll area: the background painter fills, in each direction, the
// larger of the visible size and the scroll range; the range reaches to the
// picture's right and bottom edges (none while the picture is hidden).
class TScrollBox : public QScrollArea {
public:
    explicit TScrollBox(QWidget *parent);
    TPaintBox *paintBox() const { return m_paintBox; }
    TImage *image() const { return m_image; }
    void updateRange();
    QSize scrollRange() const;
    // Ctrl with the wheel: whole steps of zoom (positive: in), at a point of
    // the viewport. Without a handler the wheel only scrolls.
    std::function<void(int steps, const QPoint &at)> onZoomWheel;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    TPaintBox *m_paintBox;
    TImage *m_image;
    int m_zoomWheel = 0;  // wheel turned with Ctrl, short of a whole step
};

}  // namespace tovi::ui
