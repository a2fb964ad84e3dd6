#include "app/Unit1.h"

#include "app/Collection.h"
#include "grid/GridAccessible.h"
#include "platform/AnsiText.h"
#include "platform/Application.h"
#include "platform/AtomicFile.h"
#include "platform/Clipboard.h"
#include "platform/Collate.h"
#include "platform/QuitSignals.h"
#include "platform/Shell.h"

#include <QAbstractItemView>
#include <QBitmap>
#include <QCloseEvent>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStyledItemDelegate>

#include <cstdio>
#include <cstring>

namespace {

const char ProgVersion[] = "0.2";
const QPoint DesignPosition(274, 313);
const int SysListItemHeight = 13;

// Drop-down entries of a fixed height, as the design sets it.
class ItemHeightDelegate : public QStyledItemDelegate {
public:
    ItemHeightDelegate(int height, QObject *parent) : QStyledItemDelegate(parent), m_height(height)
    {
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return { QStyledItemDelegate::sizeHint(option, index).width(), m_height };
    }

private:
    int m_height;
};

// A glyph picture whose bottom-left colour is drawn transparent. Read by
// the named built-in reader alone: guessing the format would load every
// image format plugin at start-up.
QPixmap GlyphPicture(const QString &resource, const char *format)
{
    QImageReader reader(resource, format);
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setMask(pixmap.createMaskFromColor(image.pixelColor(0, image.height() - 1)));
    return pixmap;
}

// A toolbar glyph: the 16-pixel bitmap, and the same drawn at twice the size
// for screens at twice the scale.
QIcon Glyph(const QString &bitmap, const QString &doubleSize)
{
    QIcon icon(GlyphPicture(bitmap, "bmp"));
    icon.addPixmap(GlyphPicture(doubleSize, "png"));
    return icon;
}

// A toolbar function by keyboard: the buttons take no focus, so a key
// reaches them from anywhere in the window. Its tooltip and its description
// tell the key.
void AddShortcut(QToolButton *button, const QKeySequence &keys)
{
    button->setShortcut(keys);
    const QString shown = keys.toString(QKeySequence::NativeText);
    button->setToolTip(button->accessibleName() + " (" + shown + ")");
    button->setAccessibleDescription("Shortcut: " + shown);
}

// The program's icon, as the menu entry shows it, in the sizes that window
// managers and task bars draw.
QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : { 16, 32, 48, 64, 128 }) {
        QImageReader reader(QString(":/icons/%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

} // namespace

// The glyph lives in the library's resources, which a static library must
// register itself.
static void InitResources()
{
    Q_INIT_RESOURCE(Unit1);
}

TForm1::TForm1(const std::string &appDir, QWidget *parent) : QMainWindow(parent), AppDir(appDir)
{
    InitResources();
    setupUi(this);
    move(DesignPosition);
    FitOnScreen();
    // For this window and the program's dialogs alike.
    QApplication::setWindowIcon(ProgramIcon());
    const QIcon floppy = Glyph(":/forms/floppy.bmp", ":/forms/floppy@2x.png");
    sb_SaveHave->setIcon(floppy);
    sb_SaveMiss->setIcon(floppy);
    // The selector lies over the toolbar, not in it.
    cbo_SysList->raise();
    cbo_SysList->setItemDelegate(new ItemHeightDelegate(SysListItemHeight, cbo_SysList));
    m_statusLabel = new QLabel(StatusBar1);
    m_statusLabel->setObjectName("StatusBar1Text");
    StatusBar1->addWidget(m_statusLabel, 1);
    StatusBar1->installEventFilter(this);
    // What a screen reader says for the controls whose captions are short.
    sb_SaveHave->setAccessibleName("Save the list of games you have");
    sb_SaveMiss->setAccessibleName("Save the list of games you miss");
    sb_Update->setAccessibleName("Update the game databases");
    sb_About->setAccessibleName("Open the web site");
    cbo_SysList->setAccessibleName("System");
    // On Linux Qt reads a drop-down list's current entry as its name.
    cbo_SysList->setAccessibleDescription("The system whose games are listed");
    acg_GameList->setAccessibleName("Games");
    StatusBar1->setAccessibleName("Status");
    // Keys that typing never makes: a character with Ctrl, or a function
    // key. So the list's typed goto and the selector's type-ahead keep every
    // letter. F5 refreshes and F1 opens help, as elsewhere on the desktop;
    // the site is the program's help.
    AddShortcut(sb_SaveHave, Qt::CTRL | Qt::Key_H);
    AddShortcut(sb_SaveMiss, Qt::CTRL | Qt::Key_M);
    AddShortcut(sb_Update, Qt::Key_F5);
    AddShortcut(sb_About, Qt::Key_F1);

    // The dialog's loop runs after the click returns: a screen reader that
    // pressed the button through its action waits for the press's reply.
    connect(sb_Update, &QToolButton::clicked, this, Guarded([this] { sb_UpdateClick(); }),
            Qt::QueuedConnection);
    connect(sb_About, &QToolButton::clicked, this, Guarded([this] { sb_AboutClick(); }));
    // Only the user's choice loads a system; a selection the program makes doesn't.
    connect(cbo_SysList, &QComboBox::activated, this, Guarded([this] { cbo_SysListChange(); }));
    connect(sb_SaveHave, &QToolButton::clicked, this, Guarded([this] { sb_SaveHaveClick(); }));
    connect(sb_SaveMiss, &QToolButton::clicked, this, Guarded([this] { sb_SaveMissClick(); }));
    acg_GameList->OnKeyPress = [this](QObject *, char &key) { acg_GameListKeyPress(key); };
    acg_GameList->OnCheckBoxMouseUp = Guarded([this] { acg_GameListCheckBoxMouseUp(); });
    // A space-bar toggle raises only the click event; the count follows it too.
    acg_GameList->OnCheckBoxClick = Guarded([this] { acg_GameListCheckBoxMouseUp(); });

    ExecuteSaveDialog = [](QFileDialog &dialog) -> std::optional<std::string> {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
    };

    // The ticks are saved however the program ends, not only on close.
    m_quitSignals = new TQuitSignals(this);
    // A save that fails then can ask no one: the reason goes to standard
    // error, and the exit code tells that the ticks were lost.
    m_quitSignals->OnQuitSignal = Guarded([this](int signal) {
        const std::optional<std::string> failure = FormEndSession();
        if (failure)
            std::fprintf(stderr, "TIRMO: ended by SIG%s without saving the ticks: %s\n",
                         sigabbrev_np(signal), failure->c_str());
        // An update waiting on the network would hold the program until its
        // server answers: it stops now, changing nothing.
        if (UpdateForm)
            UpdateForm->Abandon();
        QCoreApplication::exit(failure ? 1 : 0);
    });
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            Guarded([this] { SaveOwnership(CurSys); }));
    connect(qApp, &QCoreApplication::aboutToQuit, this, Guarded([this] {
                if (!isVisible())
                    return;
                if (const std::optional<std::string> failure = FormEndSession())
                    std::fprintf(stderr, "TIRMO: ended without saving the ticks: %s\n",
                                 failure->c_str());
            }));
    AskCloseAnyway = [this](const std::string &failure) { return AskCloseAnywayBox(failure); };

    // What a killed save or update left behind; never a file of the user's.
    for (const std::string &folder : { AppDir + "/cdl/data", AppDir + "/cdl", AppDir })
        RemoveTemporaryFiles(folder);
    ScanDatabases(SysHead, AppDir);
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate()
{
    setWindowTitle(windowTitle() + " v" + ProgVersion);
    FillSysList();
}

// Clears the selector and fills it with the sorted display names; nothing is
// selected. Each entry keeps its name's bytes.
void TForm1::FillSysList()
{
    cbo_SysList->clear();
    for (const std::string &name : GetSysNames(SysHead))
        cbo_SysList->addItem(ToDisplay(name), QByteArray::fromStdString(name));
    cbo_SysList->setCurrentIndex(-1);
}

void TForm1::FormResize()
{
    const int w = OuterWidth();
    ControlBar1->setFixedWidth(w - 4 * sb_SaveHave->width() - 2 * FrameWidth);
    cbo_SysList->move((w - cbo_SysList->width()) / 2 - FrameWidth, cbo_SysList->y());
    SetStatusText(GetStatusText());
}

void TForm1::sb_UpdateClick()
{
    const int selected = cbo_SysList->currentIndex();
    const std::string remembered = selected >= 0
        ? cbo_SysList->itemData(selected).toByteArray().toStdString()
        : std::string();
    if (UpdateForm)
        UpdateForm->exec();
    // The catalogue is the one scanned at start: a database the update added
    // is listed after the next start. Selecting here is the program's doing,
    // not the user's, so the list shown is not reloaded.
    FillSysList();
    if (selected < 0)
        return;
    for (int i = 0; i < cbo_SysList->count(); ++i) {
        if (AnsiCompareText(cbo_SysList->itemData(i).toByteArray().toStdString(), remembered)
            == 0) {
            cbo_SysList->setCurrentIndex(i);
            return;
        }
    }
}

void TForm1::sb_AboutClick()
{
    ShellOpenUrl(kSiteURL);
}

void TForm1::StatusBar1DblClick()
{
    ClipboardSetText(StatusText());
}

void TForm1::FormClose(QCloseEvent *event)
{
    // A window that closed without its ticks would lose them: the user
    // decides.
    const std::optional<std::string> failure = OwnershipSaveFailure(CurSys);
    if (failure && !AskCloseAnyway(*failure))
        event->ignore();
}

std::optional<std::string> TForm1::FormEndSession()
{
    if (m_ended)
        return std::nullopt;
    m_ended = true;
    return OwnershipSaveFailure(CurSys);
}

bool TForm1::AskCloseAnywayBox(const std::string &failure)
{
    QMessageBox box(QMessageBox::Warning, "TIRMO", QString(), QMessageBox::NoButton, this);
    SetMessageBoxText(
        box,
        "The ticks of " + CurSys->Name + " could not be saved.\n\n" + failure
            + "\n\nClose anyway and lose the ticks set since the last save, or stay?");
    QPushButton *close = box.addButton("Close Anyway", QMessageBox::DestructiveRole);
    QPushButton *stay = box.addButton("Stay", QMessageBox::RejectRole);
    box.setDefaultButton(stay);
    box.setEscapeButton(stay);
    box.exec();
    return box.clickedButton() == close;
}

void TForm1::cbo_SysListChange()
{
    // The disabled selector would hand the keyboard to the list, and a screen
    // reader would be sent to a cell that the load is about to replace.
    const Qt::FocusPolicy listFocus = acg_GameList->focusPolicy();
    acg_GameList->setFocusPolicy(Qt::NoFocus);
    cbo_SysList->setEnabled(false);
    sb_SaveHave->setEnabled(true);
    sb_SaveMiss->setEnabled(true);
    const auto selectorBack = qScopeGuard([this, listFocus] {
        acg_GameList->setFocusPolicy(listFocus);
        cbo_SysList->setEnabled(true);
        cbo_SysList->setFocus();
    });
    if (!SaveOwnership(CurSys)) {
        // The list keeps the ticks that could not be written.
        SelectSysEntry(CurSys);
        return;
    }
    SysRecord *chosen
        = FindSysRecord(SysHead, cbo_SysList->currentData().toByteArray().toStdString());
    // Until the chosen system's games and ticks are in the list no system is
    // shown, so nothing can write an ownership file from a list that doesn't
    // hold its games (the load lets events in).
    CurSys = nullptr;
    if (!chosen) {
        ShowNoSystem();
        return;
    }
    const auto options = acg_GameList->Options();
    const auto optionsBack = qScopeGuard([&] { acg_GameList->SetOptions(options); });
    try {
        LoadGameList(*acg_GameList, chosen->Path);
        m_unlistedGids = LoadOwnership(*acg_GameList, OwnershipPath(chosen->Path, chosen->Name));
    } catch (...) {
        ShowNoSystem();
        throw;
    }
    CurSys = chosen;
    SetStatusText(GetStatusText());
}

void TForm1::acg_GameListKeyPress(char &)
{
    // Typing belongs to the grid's goto.
}

void TForm1::acg_GameListCheckBoxMouseUp()
{
    SetStatusText(GetStatusText());
    // A status bar's text change goes unspoken; its notification is heard.
    AnnounceNotice(*StatusBar1, StatusText());
}

void TForm1::sb_SaveHaveClick()
{
    SaveList(TExportKind::Have);
}

void TForm1::sb_SaveMissClick()
{
    SaveList(TExportKind::Miss);
}

void TForm1::SaveList(TExportKind kind)
{
    if (!CurSys)
        return; // a system is still loading
    const std::string text = ExportText(*acg_GameList, CurSys->Name, kind);
    QFileDialog &dialog = FileSaveDialog();
    dialog.selectFile(ToDisplay(ProposedExportName(CurSys->Name, kind)));
    if (const std::optional<std::string> path = ExecuteSaveDialog(dialog))
        WriteExport(*path, text);
}

// Made at the first export: a file dialog costs more to build than the rest
// of the window, and most starts export nothing.
QFileDialog &TForm1::FileSaveDialog()
{
    if (!sd_FileSaveDialog) {
        sd_FileSaveDialog = new QFileDialog(this, "Save List", QString(), "Text File (*.txt)");
        sd_FileSaveDialog->setObjectName("sd_FileSaveDialog");
        sd_FileSaveDialog->setAcceptMode(QFileDialog::AcceptSave);
        sd_FileSaveDialog->setOption(QFileDialog::DontConfirmOverwrite);
    }
    return *sd_FileSaveDialog;
}

bool TForm1::SaveOwnership(const SysRecord *record)
{
    const std::optional<std::string> failure = OwnershipSaveFailure(record);
    if (failure)
        ShowMessageBox(*failure, Application() ? Application()->Title() : "TIRMO");
    return !failure;
}

std::optional<std::string> TForm1::OwnershipSaveFailure(const SysRecord *record)
{
    if (!CurSys || !record)
        return std::nullopt;
    try {
        ::SaveOwnership(*acg_GameList, OwnershipPath(record->Path, record->Name), m_unlistedGids);
        return std::nullopt;
    } catch (const std::exception &e) {
        return e.what();
    }
}

void TForm1::SelectSysEntry(const SysRecord *record)
{
    cbo_SysList->setCurrentIndex(
        record ? cbo_SysList->findData(QByteArray::fromStdString(record->Name)) : -1);
}

void TForm1::ShowNoSystem()
{
    CurSys = nullptr;
    m_unlistedGids.clear();
    ClearGameList(*acg_GameList);
    sb_SaveHave->setEnabled(false);
    sb_SaveMiss->setEnabled(false);
    SelectSysEntry(nullptr);
    SetStatusText(GetStatusText());
}

std::string TForm1::GetStatusText() const
{
    if (CurSys)
        return ::GetStatusText(*acg_GameList, CurSys->Name);
    if (!SysHead.Next)
        return "No game databases (*.cdl) found in " + AppDir + "/cdl";
    return "Choose a system to see its games";
}

QString TForm1::StatusText() const
{
    return m_statusLabel->text();
}

void TForm1::SetStatusText(const std::string &text)
{
    m_statusLabel->setText(ToDisplay(text));
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Guarded([this] { FormResize(); })();
}

// Once shown the window knows its frame: a frame that now reaches past the
// screen is brought back.
void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!std::exchange(m_shown, true))
        QMetaObject::invokeMethod(
            this, [this] { FitOnScreen(); }, Qt::QueuedConnection);
}

// The design position stands when the window fits there. Otherwise the window
// moves as little as it takes, and shrinks if it must, no smaller than its
// minimum size; a screen smaller than that gets its top-left corner.
void TForm1::FitOnScreen()
{
    const QScreen *screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = this->screen();
    const QRect area = screen->availableGeometry();
    if (area.contains(frameGeometry()))
        return;
    const QSize frame = frameGeometry().size() - size();
    resize(size().boundedTo(area.size() - frame).expandedTo(minimumSize()));
    const QSize outer = size() + frame;
    const QPoint at = frameGeometry().topLeft();
    move(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())),
         std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
}

void TForm1::closeEvent(QCloseEvent *event)
{
    Guarded([this, event] { FormClose(event); })();
    if (event->isAccepted())
        QMainWindow::closeEvent(event);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == StatusBar1 && event->type() == QEvent::MouseButtonDblClick) {
        Guarded([this] { StatusBar1DblClick(); })();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
