#pragma once

// The main window, TForm1.

#include "app/Catalogue.h"
#include "platform/AppDir.h"
#include "ui_Unit1.h"
#include "updater/Unit2.h"

#include <QMainWindow>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QFileDialog;
class QLabel;
class TQuitSignals;
enum class TExportKind;

// The main window: the system selector, the game list, the toolbar and the
// status bar. Its components are the members of the form description.
class TForm1 : public QMainWindow, public Ui::TForm1 {
    Q_OBJECT

public:
    // `appDir` is where the program finds its data: the application
    // directory of its layout (platform/AppDir.h), or a folder of the same
    // shape in tests.
    explicit TForm1(const std::string &appDir = ExecutableDir(), QWidget *parent = nullptr);
    ~TForm1() override;

    // Set once at construction: the folder of cdl/, cdl/data/ and
    // version.ini, which the program reads and writes.
    const std::string AppDir;

    // The system catalogue: SysHead.Next is the first record.
    SysRecord SysHead;
    // The system shown, or nullptr until the user first chooses one.
    SysRecord *CurSys = nullptr;

    // The update dialog, made by the program's entry after this window.
    TUpdateForm *UpdateForm = nullptr;

    // Handlers.
    void FormCreate();
    void FormResize();
    void sb_UpdateClick();
    void sb_AboutClick();
    void StatusBar1DblClick();
    void FormClose(QCloseEvent *event);
    void cbo_SysListChange();
    void acg_GameListKeyPress(char &key);
    void acg_GameListCheckBoxMouseUp();
    void sb_SaveHaveClick();
    void sb_SaveMissClick();

    // Writes the ticks of the list to the ownership file of `record`, which
    // must be the system the list holds; nothing when no system is shown. A
    // failure is shown in a message box, and false returned.
    bool SaveOwnership(const SysRecord *record);

    // The ticks are saved as on close when the program is ended otherwise (a
    // signal, the end of the desktop session). Returns why the save failed,
    // or nothing.
    std::optional<std::string> FormEndSession();

    // Asked when the save at close failed, with the error: true to close
    // anyway (the ticks since the last save are lost), false to stay.
    std::function<bool(const std::string &failure)> AskCloseAnyway;

    // Asks where an export goes: "Save List", text files, the proposed name
    // already set. The chosen path, or nothing when the user cancels. The
    // dialog is made at the first export.
    QFileDialog *sd_FileSaveDialog = nullptr;
    std::function<std::optional<std::string>(QFileDialog &dialog)> ExecuteSaveDialog;

    // The text for the status bar.
    std::string GetStatusText() const;
    // The status text as the status bar holds it.
    QString StatusText() const;
    void SetStatusText(const std::string &text);

    // The outer width of the window as the layout rule counts it: the client
    // width and a frame of FrameWidth on each side.
    static constexpr int FrameWidth = 4;
    int OuterWidth() const { return width() + 2 * FrameWidth; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FillSysList();
    // The whole frame on the available area of the window's screen.
    void FitOnScreen();
    // The selector shows `record`'s entry, or none.
    void SelectSysEntry(const SysRecord *record);
    // Back to the state before any system was chosen.
    void ShowNoSystem();
    void SaveList(TExportKind kind);
    QFileDialog &FileSaveDialog();

    // The save; why it failed, if it did, as text instead of a message box.
    std::optional<std::string> OwnershipSaveFailure(const SysRecord *record);
    bool AskCloseAnywayBox(const std::string &failure);

    // GIDs of the shown system's ownership file that its list doesn't have.
    std::vector<std::string> m_unlistedGids;
    QLabel *m_statusLabel;
    TQuitSignals *m_quitSignals;
    bool m_ended = false;
    bool m_shown = false;
};
