#pragma once

#include "app/Catalogue.h"
#include "platform/AppDir.h"
#include "updater/Unit2.h"
#include "ui_Unit1.h"

#include <QMainWindow>

#include <string>

class QLabel;

// The main window: the system selector, the game list, the toolbar and the
// status bar. Its components are the members of the form description.
class TForm1 : public QMainWindow, public Ui::TForm1 {
    Q_OBJECT

public:
    // `appDir` is where the program finds its data: the executable's
    // directory, or a folder of the same shape in tests.
    explicit TForm1(const std::string &appDir = ExecutableDir(), QWidget *parent = nullptr);
    ~TForm1() override;

    // Set once at construction: the directory of the running executable.
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
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FillSysList();

    QLabel *m_statusLabel;
};
