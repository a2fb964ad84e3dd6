#include "updater/Unit2.h"

#include "ui_Unit2.h"

#include "platform/Application.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QCloseEvent>
#include <QProgressBar>
#include <QTimer>

const char kSiteURL[] = TIRMO_SITE_URL;

namespace {

const char *const kNewProgram = "New Version of TIRMO Program Available. Launching Browser";
const char *const kNoUpdate = "No Database Update Available";
const char *const kWaiting = "Waiting to Update";
const char *const kAborted = "Update aborted";
const char *const kCancelled = "Update cancelled. Nothing was changed.";

std::string Counter(int k, int n)
{
    return "Updating Database " + std::to_string(k) + "/" + std::to_string(n);
}

std::string Caption()
{
    return Application() ? Application()->Title() : "TIRMO";
}

} // namespace

TUpdateForm::TUpdateForm(std::string appDir, QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TUpdateForm>()), m_appDir(std::move(appDir))
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    pb_Update = m_ui->pb_Update;
    lb_Update1 = m_ui->lb_Update1;
    bt_StartUpdate = m_ui->bt_StartUpdate;

    UpdateProt = new TNMHTTP(this);
    UpdateProt->Port = 0;
    UpdateProt->ReportLevel = 0;
    UpdateProt->Body = "Default.htm";
    UpdateProt->Header = "Head.txt";
    UpdateProt->InputFileMode = true;
    UpdateProt->OutputFileMode = false;
    UpdateProt->ProxyPort = 0;
    UpdateProt->OnPacketRecvd = [this](QObject *) { UpdateProtPacketRecvd(); };
    m_update = std::make_unique<TDatabaseUpdate>(*UpdateProt);

    connect(bt_StartUpdate, &QPushButton::clicked, this,
            Guarded([this] { bt_StartUpdateClick(); }));

    bt_Cancel = new QPushButton("Cancel", this);
    bt_Cancel->setObjectName("bt_Cancel");
    bt_Cancel->setGeometry(bt_StartUpdate->geometry());
    bt_Cancel->setAutoDefault(false);
    const QString stops = "Stops the update; nothing is changed. Escape does the same.";
    bt_Cancel->setToolTip(stops);
    bt_Cancel->setAccessibleDescription(stops);
    bt_Cancel->hide();
    connect(bt_Cancel, &QPushButton::clicked, this, &TUpdateForm::reject);
}

// Defined here, where the class that m_ui owns is complete.
TUpdateForm::~TUpdateForm() = default;

void TUpdateForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TUpdateForm::FormShow()
{
    lb_Update1->setText(kWaiting);
}

void TUpdateForm::UpdateProtPacketRecvd()
{
    // The bar counts in ints; scale a reply too large for one.
    const int64_t total = UpdateProt->TotalBytes;
    const int64_t received = UpdateProt->ReceivedBytes;
    const int shift = total > INT32_MAX ? 10 : 0;
    pb_Update->setMaximum(int(total >> shift));
    pb_Update->setValue(int(std::min<int64_t>(received >> shift, INT32_MAX)));
}

void TUpdateForm::reject()
{
    // A running update stops, and the click's handler closes the dialog
    // once it has ended. Otherwise (a box telling how a run ended) nothing
    // is left to stop and the dialog closes now: left open, it would keep
    // the main window blocked, and a close request for that window would be
    // dropped.
    if (!m_update->Running()) {
        m_closed = true; // and tells nothing more
        QDialog::reject();
        return;
    }
    m_cancelled = true;
    m_update->Cancel();
}

void TUpdateForm::Abandon()
{
    if (!m_running)
        return;
    m_silent = true;
    m_cancelled = true;
    m_update->Cancel();
}

void TUpdateForm::closeEvent(QCloseEvent *event)
{
    if (m_update->Running()) {
        event->ignore();
        reject();
        return;
    }
    QDialog::closeEvent(event);
}

void TUpdateForm::bt_StartUpdateClick()
{
    m_running = true;
    m_cancelled = m_silent = m_closed = false;
    // However the procedure ends, even by an error, the dialog is usable again.
    struct Idle {
        TUpdateForm *form;
        ~Idle()
        {
            form->bt_Cancel->hide();
            form->bt_StartUpdate->show();
            form->bt_StartUpdate->setEnabled(true);
            form->m_running = false;
            if (form->m_cancelled)
                form->QDialog::reject();
        }
    } idle { this };
    // Nothing of the last run shows while this one waits for the server.
    lb_Update1->setText(kWaiting);
    pb_Update->setMaximum(100);
    pb_Update->setValue(0);
    ShowResult(m_update->Run({ SiteURL, UpdateKey }, m_appDir,
                             [this](const TUpdateProgress &progress) { ShowProgress(progress); }));
}

void TUpdateForm::ShowProgress(const TUpdateProgress &progress)
{
    switch (progress.Stage) {
    case TUpdateProgress::TStage::Manifest:
        bt_StartUpdate->setEnabled(false);
        ShowCancel();
        break;
    case TUpdateProgress::TStage::ManifestDone:
        pb_Update->setValue(pb_Update->maximum());
        break;
    case TUpdateProgress::TStage::Database:
        lb_Update1->setText(QString::fromStdString(Counter(progress.Index, progress.Count)));
        break;
    }
}

void TUpdateForm::ShowResult(const TUpdateResult &result)
{
    if (result.Stop && result.Stop->Cancelled) {
        if (!m_silent)
            ShowMessageBox(kCancelled, Caption());
        return;
    }
    if (!result.Stop)
        TellUpdated(result);
    // A newer program is announced whatever became of the databases; not
    // while the program ends (a signal came during a box), nor once the
    // user has closed the dialog.
    const auto dismissed = [this] { return m_cancelled || m_closed; };
    if (result.NewProgram && !dismissed()) {
        ShowMessageBox(kNewProgram, Caption());
        if (!dismissed())
            ShellOpenUrl(SiteURL);
    }
    if (result.Stop && !dismissed()) {
        lb_Update1->setText(kAborted);
        ShowMessageBox(result.Stop->Reason, Caption());
    }
}

void TUpdateForm::ShowCancel()
{
    bt_StartUpdate->hide();
    bt_Cancel->show();
    // The second click of a double click on Start Update would land on it.
    bt_Cancel->setEnabled(false);
    QTimer::singleShot(QApplication::doubleClickInterval(), bt_Cancel,
                       [this] { bt_Cancel->setEnabled(true); });
}

void TUpdateForm::TellUpdated(const TUpdateResult &result)
{
    if (result.Updated.empty()) {
        lb_Update1->setText(kNoUpdate);
        return;
    }
    const size_t n = result.Updated.size();
    const std::string done
        = std::to_string(n) + (n == 1 ? " database updated" : " databases updated");
    lb_Update1->setText(QString::fromStdString(done));
    // The system list is built once, at the start.
    std::string listed;
    int systems = 0;
    for (const std::string &name : result.Added)
        if (QString::fromStdString(name).endsWith(".cdl", Qt::CaseInsensitive)) {
            listed += (listed.empty() ? "" : ", ") + name;
            ++systems;
        }
    if (systems == 0)
        return;
    ShowMessageBox(done + ". " + (systems == 1 ? "A new system appears" : "New systems appear")
                       + " in the list when TIRMO is started again: " + listed,
                   Caption());
}
