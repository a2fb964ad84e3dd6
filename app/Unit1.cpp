#include "app/Unit1.h"

#include "platform/AnsiText.h"
#include "platform/Application.h"
#include "platform/Clipboard.h"
#include "platform/Collate.h"
#include "platform/Shell.h"

#include <QAbstractItemView>
#include <QBitmap>
#include <QLabel>
#include <QMouseEvent>
#include <QStyledItemDelegate>

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

// A toolbar glyph: the bitmap's bottom-left colour is drawn transparent.
QIcon Glyph(const QString &resource)
{
    const QImage image(resource);
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setMask(pixmap.createMaskFromColor(image.pixelColor(0, image.height() - 1)));
    return QIcon(pixmap);
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
    const QIcon floppy = Glyph(":/forms/floppy.bmp");
    sb_SaveHave->setIcon(floppy);
    sb_SaveMiss->setIcon(floppy);
    // The selector lies over the toolbar, not in it.
    cbo_SysList->raise();
    cbo_SysList->setItemDelegate(new ItemHeightDelegate(SysListItemHeight, cbo_SysList));
    m_statusLabel = new QLabel(StatusBar1);
    m_statusLabel->setObjectName("StatusBar1Text");
    StatusBar1->addWidget(m_statusLabel, 1);
    StatusBar1->installEventFilter(this);

    connect(sb_Update, &QToolButton::clicked, this, Guarded([this] { sb_UpdateClick(); }));
    connect(sb_About, &QToolButton::clicked, this, Guarded([this] { sb_AboutClick(); }));

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
    const std::string remembered =
        selected >= 0 ? cbo_SysList->itemData(selected).toByteArray().toStdString() : std::string();
    if (UpdateForm)
        UpdateForm->exec();
    // The catalogue is the one scanned at start: a database the update added
    // is listed after the next start. Selecting here is the program's doing,
    // not the user's, so the list shown is not reloaded.
    FillSysList();
    if (selected < 0)
        return;
    for (int i = 0; i < cbo_SysList->count(); ++i) {
        if (AnsiCompareText(cbo_SysList->itemData(i).toByteArray().toStdString(), remembered) == 0) {
            cbo_SysList->setCurrentIndex(i);
            return;
        }
    }
}

void TForm1::sb_AboutClick()
{
    ShellOpenUrl(TIRMO_SITE_URL);
}

void TForm1::StatusBar1DblClick()
{
    ClipboardSetText(StatusText());
}

std::string TForm1::GetStatusText() const
{
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

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == StatusBar1 && event->type() == QEvent::MouseButtonDblClick) {
        Guarded([this] { StatusBar1DblClick(); })();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
