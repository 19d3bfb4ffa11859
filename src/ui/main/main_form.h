#pragma once
// TMainForm: the program's one main window. Its tool bar, colour bar, scroll
// area and status bar, the menus and actions, the picture view with colour
// picking, and the operations other windows call (ProcessColors,
// BatchProcess, SetFileName, ShowPicture, NoSupportGraphic).
//
// The class is split by concern over several files:
//   main_form.cpp          start-up, layout, menus, caption
//   main_form_actions.cpp  actions, enabling rules, modes, colour selection, processing
//   main_form_view.cpp     picture view, background gradients, colour picking
//   main_form_files.cpp    opening, saving, drops and the clipboard
//   main_form_batch.cpp    the batch run and the several-files command
//   main_form_about.cpp    the about box command
//   main_form_help.cpp     the help command and help requests
//   main_form_undo.cpp     undo and redo of the colour commands and paste
//   main_form_settings.cpp the swap's tolerance and the gray formula
//   main_form_zoom.cpp     zooming the picture view

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

#include "picture/bitmap.h"
#include "picture/pixel_format.h"
#include "platform/raster.h"
#include "process/color_modes.h"
#include "process/color_ops.h"
#include "ui/main/controls.h"
#include "ui/main/image_list.h"
#include "ui/main/undo_history.h"

class QActionGroup;
class QLabel;
class QMargins;
class QMenu;
class QMenuBar;
class QStatusBar;

namespace tovi::ui {

using platform::ColorRef;

class TMainForm : public QMainWindow {
public:
    // `arguments` are the command-line arguments after the program name.
    explicit TMainForm(const QStringList &arguments = {}, QWidget *parent = nullptr);
    ~TMainForm() override;

    // --- Components -------------------------------------------------------
    TImageList ImageList1;
    TActionList *ActionList1;
    TAction *ColorProcRun, *ColorPick1, *ColorPick2, *FileExit1, *HelpAbout1, *OpenPicture1, *SavePicture1,
        *ColorSelect1, *modeChange, *modeInv, *modeGray, *modeInvGray, *ColorSelectAction1, *ColorSelectAction2,
        *EditCopy1, *EditPaste1, *ColorChange, *SelectPictures, *HelpOpen, *ColorInv, *ColorGray, *ColorInvGray;
    TAction *EditUndo1, *EditRedo1;
    // Additions: the swap's tolerance, the gray formulas (a radio group) and
    // the zoom of the view.
    TAction *ColorTolerance, *GrayFormulaMean, *GrayFormulaRec601, *GrayFormulaRec709;
    TAction *ViewZoomIn, *ViewZoomOut, *ViewActualSize, *ViewFitToWindow;
    QActionGroup *RadioGroup1;
    QActionGroup *GrayFormulaGroup;

    QMenuBar *MainMenu1;
    QMenu *FileMenu, *EditMenu, *ModeChangeMenu, *HelpMenu;
    QMenu *ProcessMenu, *GrayFormulaMenu, *ViewMenu;
    QMenu *ModeMenu;

    TToolBar *ToolBar1;
    TToolButton *ToolButton1, *ToolButton9, *ToolButton4, *ToolButton5, *ToolButton7, *ToolButton2, *ToolButton10;
    TToolSeparator *ToolButton3, *ToolButton6, *ToolButton8;

    TColorBar *Panel1;
    TColorPanel *ColorPanel1, *ColorPanel2;
    TStaticText *StaticText1;

    TScrollBox *ScrollBox1;
    TPaintBox *PaintBox1;
    TImage *Image1;

    QStatusBar *StatusBar;
    // At the status bar's right: the tolerance when it is on and the zoom
    // when it is not 100 %; hidden otherwise.
    QLabel *SettingsLabel;

    // --- State --------------------------------------------------------------
    QString fileName() const { return FileName; }
    // True exactly while a picture is shown (Image1 visible in the view).
    bool pictureShown() const;
    ColorRef color1() const { return ColorPanel1->color(); }
    ColorRef color2() const { return ColorPanel2->color(); }
    // The mode the run button and the batch run apply; the run button shows
    // it by its glyph.
    int currentMode() const { return m_mode; }
    // The actions of a mode (process::kModes), nullptr for any other code:
    // the one that makes it the current mode and the one that runs it at once.
    TAction *modeAction(int mode) const;
    TAction *runAction(int mode) const;
    bool picking() const { return Picking; }
    bool pickDragging() const { return PickDragging; }
    int pickTarget() const { return PickTarget; }
    ColorRef pickSavedColor() const { return PickSavedColor; }
    // The swap's tolerance (0: the exact swap) and the gray formula that the
    // processing commands and the batch run apply.
    int tolerance() const { return m_tolerance; }
    void setTolerance(int tolerance);
    process::GrayFormula grayFormula() const { return m_grayFormula; }
    void setGrayFormula(process::GrayFormula formula);
    process::ColorSettings colorSettings() const { return {m_tolerance, m_grayFormula}; }
    // The view's zoom (1: the natural size). `anchor` is the viewport point
    // that keeps showing the same picture point; the viewport's centre when
    // none is given.
    double zoom() const;
    void setZoom(double zoom, std::optional<QPoint> anchor = std::nullopt);
    void zoomBy(int steps, std::optional<QPoint> anchor = std::nullopt);
    // The zoom at which the picture fits in the view (1 for one that fits).
    double fitZoom() const;
    // The file names the open and save dialogs start on.
    QString openDialogFileName() const { return m_openDialogFileName; }
    void setOpenDialogFileName(const QString &name) { m_openDialogFileName = name; }
    QString saveDialogFileName() const { return m_saveDialogFileName; }
    void setSaveDialogFileName(const QString &name) { m_saveDialogFileName = name; }

    // --- Operations -----------------------------------------------------------
    void SetFileName(const QString &name);
    void SetProcMode(TAction *modeAction);
    void ShowPicture();
    void NoSupportGraphic();
    void StartColorPick();
    void EndColorPick();
    // Fills `rect` with the vertical gradient on `baseColor`; only the rows
    // that meet `exposed` (all of them when it is empty) are painted.
    static void DrawGradient(QPainter &canvas, const QRect &rect, ColorRef baseColor, const QRect &exposed = {});
    void ProcessColors(picture::Bitmap &picture, int mode);
    void BatchProcess(const QStringList &fileNames);
    static QString PixelFormatName(picture::PixelFormat format);
    static QString ModeName(int mode);

    // --- Start-up ---------------------------------------------------------------
    void FormCreate(const QStringList &arguments);
    void FormDestroy() {}

    // --- Handlers -----------------------------------------------------------------
    void ColorProcRunExecute();
    void ColorSelectAction1Execute();
    void ColorSelectAction2Execute();
    void ColorPick1Execute();
    void ColorPick2Execute();
    void FileExit1Execute();
    bool ActionList1Update(TAction *action);
    void ColorPickUpdate();

    // The colour dialog action: opens the system colour dialog on
    // ColorSelect1Color; returns false when it could not run.
    bool ColorSelect1Execute();
    ColorRef ColorSelect1Color = 0;

    void Image1MouseDown(Qt::MouseButton button, const QPoint &pos);
    void Image1MouseMove(const QPoint &pos);
    void Image1MouseUp(Qt::MouseButton button, const QPoint &pos);
    void FormMouseUp(Qt::MouseButton button);
    void PaintBox1Paint(QPainter &canvas, const QRect &exposed);
    void ToolBar1CustomDraw(QPainter &canvas, const QRect &exposed);

    // Files, drops and the clipboard (main_form_files.cpp).
    void OpenPicture1Execute();
    void OpenPicture1Accept();
    void SavePicture1Execute();
    void SavePicture1Accept();
    void EditCopy1Execute();
    void EditPaste1Execute();
    void EditPaste1Update();
    void FormDropFiles(const QStringList &fileNames);

    // The several-files command (main_form_batch.cpp).
    void SelectPicturesExecute();
    void SelectPicturesAccept(const QStringList &fileNames);

    // Undo and redo (main_form_undo.cpp).
    void EditUndo1Execute();
    void EditRedo1Execute();
    const UndoHistory &undoHistory() const { return m_undoHistory; }

    // The about box (main_form_about.cpp).
    void HelpAbout1Execute();

    // Help (main_form_help.cpp). The help system plugs in here: the help
    // command calls the help-open handler; without one it does nothing.
    void HelpOpenExecute();
    // Takes every help request the windows raise (installed in FormCreate).
    bool ApplicationEvents1Help(std::uint16_t command, std::uintptr_t data, bool &callHelp);
    void setHelpOpenHandler(std::function<void()> handler) { m_helpOpenHandler = std::move(handler); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // After the menus (main_form.cpp): a menu bar left holding the keyboard
    // focus with no title highlighted hands it back, and the status bar shows
    // the hint for where the pointer is.
    void watchMenus();
    void menusClosed();
    void releaseMenuBarFocus();
    void showHintAt(QWidget *widget);
    bool inMenuBar(const QWidget *widget) const;
    // The described size and position are the outer ones, frame included.
    void fitOuterSize(const QMargins &frame);
    void createActions();
    void createMenus();
    void createToolBar();
    void createColorBar();
    void createView();
    void setTargetColor(ColorRef color);
    TColorPanel *targetPanel() const;
    void runProcess(int mode);
    // The picture with its format label, as the undo history keeps it.
    UndoHistory::Step currentStep();
    void restoreStep(const UndoHistory::Step &step);
    void createUndoActions();
    void createSettingsActions();
    void createZoomActions();
    void createSettingsMenus(const std::function<QMenu *(QMenu *, const char *, const QString &, const QString &)> &addMenu);
    void ColorToleranceExecute();
    void updateSettingsLabel();
    void selectColor(TColorPanel *panel);
    TAction *newAction(const QString &name, const QString &category, const QString &caption, int glyph,
                       int helpContext, const QString &hint, std::function<void()> handler);
    void createModeActions(const QString &category);
    void createRunActions(const QString &category, std::size_t first, std::size_t end);
    // The commands that need a picture shown, enabled by ActionList1Update.
    QList<TAction *> pictureCommands() const;

    QString FileName;
    // The control that had the keyboard focus before the menu bar took it.
    QPointer<QWidget> m_focusBeforeMenu;
    int m_mode = process::kDefaultMode;
    // In the order of process::kModes.
    QList<TAction *> m_modeActions;
    QList<TAction *> m_runActions;
    bool Picking = false;
    bool PickDragging = false;
    int PickTarget = 0;
    ColorRef PickSavedColor = 0;

    QString m_openDialogFileName;
    QString m_saveDialogFileName;
    std::array<QColor, 16> m_customColors;
    std::function<void()> m_helpOpenHandler;
    UndoHistory m_undoHistory;
    int m_tolerance = 0;
    process::GrayFormula m_grayFormula = process::kDefaultGrayFormula;
};

}  // namespace tovi::ui
