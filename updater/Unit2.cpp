#include "updater/Unit2.h"

#include "ui_Unit2.h"

#include "platform/Application.h"
#include "platform/AtomicFile.h"
#include "platform/Exceptions.h"
#include "platform/Shell.h"
#include "updater/Manifest.h"

#include <QCloseEvent>
#include <QProgressBar>

#include <cstdio>
#include <filesystem>

namespace {

constexpr size_t kMaxPath = 259;

const char *const kNoLocalManifest = "Your Version.ini couldn't be found. Update aborted";
const char *const kNoServerManifest =
    "Web Version info file couldn't be found/downloaded. Update aborted";
const char *const kNewProgram = "New Version of TIRMO Program Available. Launching Browser";
const char *const kNoUpdate = "No Database Update Available";

bool Exists(const std::string &path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

void DeleteFile(const std::string &path)
{
    std::remove(path.c_str());
}

std::string SpacesEscaped(const std::string &name)
{
    std::string out;
    for (char c : name)
        out += c == ' ' ? std::string("%20") : std::string(1, c);
    return out;
}

std::string Counter(int k, int n)
{
    return "Updating Database " + std::to_string(k) + "/" + std::to_string(n);
}

} // namespace

TUpdateForm::TUpdateForm(std::string appDir, QWidget *parent)
    : QDialog(parent), m_ui(new Ui::TUpdateForm), m_appDir(std::move(appDir))
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

    connect(bt_StartUpdate, &QPushButton::clicked, this, Guarded([this] { bt_StartUpdateClick(); }));
}

TUpdateForm::~TUpdateForm()
{
    delete m_ui;
}

void TUpdateForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TUpdateForm::FormShow()
{
    lb_Update1->setText("Waiting to Update");
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
    if (!m_running) {
        QDialog::reject();
        return;
    }
    // The update's own handler closes the dialog once the transfer has ended.
    m_closeRequested = true;
    UpdateProt->Abort();
}

void TUpdateForm::closeEvent(QCloseEvent *event)
{
    if (m_running) {
        event->ignore();
        reject();
        return;
    }
    QDialog::closeEvent(event);
}

std::string TUpdateForm::Fetch(const std::string &url, const std::string &temporary)
{
    std::string why;
    UpdateProt->Body = temporary;
    try {
        UpdateProt->Get(url);
        if (UpdateProt->ReplyCode != 200)
            why = "the server answered " + std::to_string(UpdateProt->ReplyCode);
        else if (UpdateProt->TotalBytes > 0 && UpdateProt->ReceivedBytes != UpdateProt->TotalBytes)
            why = "only " + std::to_string(UpdateProt->ReceivedBytes) + " of "
                + std::to_string(UpdateProt->TotalBytes) + " bytes arrived";
    } catch (const std::exception &e) {
        why = e.what();
    }
    if (m_closeRequested)
        why = "the update was cancelled";
    if (!why.empty())
        DeleteFile(temporary);
    return why;
}

void TUpdateForm::bt_StartUpdateClick()
{
    const std::string localPath = m_appDir + "/version.ini";
    const std::string serverPath = m_appDir + "/version.bak";

    m_running = true;
    m_closeRequested = false;
    // However the procedure ends, even by an error, the dialog is usable again.
    struct Idle {
        TUpdateForm *form;
        ~Idle()
        {
            form->bt_StartUpdate->setEnabled(true);
            form->m_running = false;
            if (form->m_closeRequested)
                form->QDialog::reject();
        }
    } idle{this};

    std::string abortMessage;
    if (!Exists(localPath)) {
        abortMessage = kNoLocalManifest;
    } else {
        DeleteFile(serverPath);
        bt_StartUpdate->setEnabled(false);
        const std::string url = SiteURL + "/tirmo/version.ini";
        const std::string temporary = TemporaryPathBeside(serverPath);
        const std::string why = Fetch(url, temporary);
        pb_Update->setValue(pb_Update->maximum());
        if (m_closeRequested)
            return;
        if (!why.empty()) {
            abortMessage = std::string(kNoServerManifest) + "\n" + url + ": " + why;
        } else {
            ReplaceFile(temporary, serverPath);
            abortMessage = UpdateFrom(localPath, serverPath);
        }
    }
    if (!abortMessage.empty())
        ShowMessageBox(abortMessage, Application() ? Application()->Title() : "TIRMO");
}

std::string TUpdateForm::UpdateFrom(const std::string &localPath, const std::string &serverPath)
{
    const std::vector<std::string> changed =
        ChangedEntries(ReadManifest(localPath), ReadManifest(serverPath));
    if (changed.empty()) {
        lb_Update1->setText(kNoUpdate);
        return {};
    }

    std::vector<Download> downloads;
    bool newProgram = false;
    if (std::string refused = PlanDownloads(changed, downloads, newProgram); !refused.empty())
        return refused;

    if (downloads.empty()) {
        lb_Update1->setText(kNoUpdate);
    } else {
        std::string failed;
        if (!DownloadAll(downloads, failed))
            return failed;
        // Every download is whole: only now is anything replaced.
        for (const Download &d : downloads)
            ReplaceFile(d.temporary, d.target);
    }

    if (newProgram) {
        ShowMessageBox(kNewProgram, Application() ? Application()->Title() : "TIRMO");
        ShellOpenUrl(SiteURL);
        return {};
    }
    // version.ini is replaced last and in one step: it is never missing.
    ReplaceFile(serverPath, localPath);
    return {};
}

std::string TUpdateForm::PlanDownloads(const std::vector<std::string> &changed,
                                       std::vector<Download> &downloads, bool &newProgram) const
{
    for (const std::string &line : changed) {
        const std::string name = EntryName(line);
        if (IsProgramEntry(name)) {
            newProgram = true;
            continue;
        }
        std::string reason = UnsafeEntryNameReason(name);
        const std::string target = m_appDir + "/cdl/" + name;
        const std::string url = SiteURL + "/tirmo/cdl/" + SpacesEscaped(name);
        if (reason.empty() && (target.size() > kMaxPath || url.size() > kMaxPath))
            reason = "gives a path or address longer than 259 characters";
        if (!reason.empty())
            return "Update aborted: the line \"" + line + "\" of the server's version.ini "
                + reason + ". Nothing was changed.";
        downloads.push_back({name, target, {}});
    }
    return {};
}

bool TUpdateForm::DownloadAll(std::vector<Download> &downloads, std::string &failed)
{
    const int n = int(downloads.size());
    for (int k = 1; k <= n && !m_closeRequested; ++k) {
        Download &d = downloads[size_t(k - 1)];
        lb_Update1->setText(QString::fromStdString(Counter(k, n)));
        d.temporary = TemporaryPathBeside(d.target);
        const std::string url = SiteURL + "/tirmo/cdl/" + SpacesEscaped(d.name);
        if (std::string why = Fetch(url, d.temporary); !why.empty()) {
            failed = "Update aborted: " + d.name + " couldn't be downloaded from " + url + ": "
                + why + ". No database was changed.";
            break;
        }
    }
    if (failed.empty() && !m_closeRequested)
        return true;
    RemoveTemporaries(downloads);
    if (m_closeRequested)
        failed.clear();
    return false;
}

void TUpdateForm::RemoveTemporaries(const std::vector<Download> &downloads)
{
    for (const Download &d : downloads)
        if (!d.temporary.empty())
            DeleteFile(d.temporary);
}
