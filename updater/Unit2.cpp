#include "updater/Unit2.h"

#include "ui_Unit2.h"

#include "net/Nmurl.h"
#include "platform/Application.h"
#include "platform/AtomicFile.h"
#include "platform/Exceptions.h"
#include "platform/Shell.h"
#include "updater/Manifest.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDateTime>
#include <QProgressBar>
#include <QTimer>

#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

const char kSiteURL[] = TIRMO_SITE_URL;

namespace {

// A version.ini is a few KiB and a database well under one MiB: anything
// far larger is a fault of the server, and reading stops there.
constexpr std::int64_t kMaxManifest = 4 << 20;
constexpr std::int64_t kMaxDatabase = 64 << 20;
constexpr int kMaxEntries = 10000;

const char *const kNoLocalManifest = "Your Version.ini couldn't be found. Update aborted";
const char *const kNoServerManifest
    = "Web Version info file couldn't be found/downloaded. Update aborted";
const char *const kNewProgram = "New Version of TIRMO Program Available. Launching Browser";
const char *const kNoUpdate = "No Database Update Available";
const char *const kWaiting = "Waiting to Update";
const char *const kAborted = "Update aborted";
const char *const kCancelled = "Update cancelled. Nothing was changed.";
// Beside version.ini: the timestamp of the signed manifest adopted last.
const char *const kTimestampFile = "/version.timestamp";

bool Exists(const std::string &path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

void DeleteFile(const std::string &path)
{
    std::remove(path.c_str());
}

std::string Counter(int k, int n)
{
    return "Updating Database " + std::to_string(k) + "/" + std::to_string(n);
}

std::string SizeText(std::int64_t bytes)
{
    if (bytes % (1 << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string LongerThan(std::int64_t limit)
{
    return "it is longer than " + SizeText(limit) + ", the most accepted";
}

std::string FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Nothing when no signed manifest was adopted yet, or when the file holds
// no number: the next adoption writes it anew.
std::optional<std::int64_t> StoredTimestamp(const std::string &path)
{
    const std::string text = FileBytes(path);
    std::int64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || text.empty() || text[0] == '-'
        || std::string_view(end, size_t(text.data() + text.size() - end)).find_first_not_of("\r\n")
            != std::string_view::npos)
        return std::nullopt;
    return seconds;
}

std::string DateText(std::int64_t seconds)
{
    const QDateTime date = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    return date.isValid() ? date.toString("yyyy-MM-dd HH:mm:ss 'UTC'").toStdString()
                          : "at second " + std::to_string(seconds);
}

// Passes a body on to its file and hashes it on the way, so that checking
// costs no second read of the file. The hashing runs on a thread of its own,
// while the next bytes are still on the network and while the file is
// flushed, so it adds next to nothing to an update's time. The file's writer
// checks every write, its flush and its close, so what is hashed is what the
// file holds.
class THashingDevice : public QIODevice {
public:
    explicit THashingDevice(QIODevice &target) : m_target(target)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    ~THashingDevice() override { EndHashing(); }
    bool isSequential() const override { return true; }
    std::int64_t Written() const { return m_written; }

    // Waits for the hashing of everything written.
    std::string Sha256()
    {
        EndHashing();
        return m_hash.result().toHex().toStdString();
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 n = m_target.write(data, size);
        if (n > 0) {
            Queue(QByteArray(data, n));
            m_written += n;
        }
        return n;
    }

private:
    // Holds the writer back while this much waits, so a server faster than
    // the hash can't fill the memory.
    static constexpr qsizetype kMaxQueued = 4 << 20;

    void EndHashing()
    {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_changed.notify_all();
        if (m_hasher.joinable())
            m_hasher.join();
    }

    void Queue(QByteArray bytes)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_queuedBytes < kMaxQueued; });
        m_queuedBytes += bytes.size();
        m_queue.push_back(std::move(bytes));
        lock.unlock();
        m_changed.notify_all();
    }

    void HashQueued()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_ended || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            std::vector<QByteArray> chunks;
            chunks.swap(m_queue);
            lock.unlock();
            for (const QByteArray &chunk : chunks)
                m_hash.addData(chunk);
            lock.lock();
            for (const QByteArray &chunk : chunks)
                m_queuedBytes -= chunk.size();
            m_changed.notify_all();
        }
    }

    QIODevice &m_target;
    std::int64_t m_written = 0;
    QCryptographicHash m_hash { QCryptographicHash::Sha256 };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<QByteArray> m_queue;
    qsizetype m_queuedBytes = 0;
    bool m_ended = false;
    std::thread m_hasher { [this] { HashQueued(); } }; // last: it uses the others
};

// What the body had instead of the size and the SHA-256 digest promised,
// if it differed.
std::optional<std::string> Unverified(THashingDevice &body, const TFileDigest &digest)
{
    const std::string sha256 = body.Sha256();
    if (body.Written() == digest.Size && sha256 == digest.Sha256)
        return std::nullopt;
    // Whole: digests that differ late would read as equal when cut.
    return "expected " + std::to_string(digest.Size) + " bytes (SHA-256 " + digest.Sha256
        + "), received " + std::to_string(body.Written()) + " bytes (SHA-256 " + sha256 + ")";
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
    if (!m_running) {
        QDialog::reject();
        return;
    }
    // The update's own handler closes the dialog once the transfer has ended.
    m_cancelled = true;
    UpdateProt->Abort();
}

void TUpdateForm::Abandon()
{
    if (!m_running)
        return;
    m_silent = true;
    reject();
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

std::optional<std::string> TUpdateForm::Receive(const std::string &url, QIODevice &body,
                                                std::int64_t limit, const TTooLong &tooLong)
{
    std::optional<std::string> why;
    try {
        const TFetchReply reply = UpdateProt->Fetch(url, body, limit);
        if (reply.Status != 200)
            why = "the server answered " + std::to_string(reply.Status);
    } catch (const EBodyTooLong &e) {
        // An error status says more than the length of its page.
        why = e.Status != 200 ? "the server answered " + std::to_string(e.Status)
                              : tooLong(e.Announced.value_or(0));
    } catch (const std::exception &e) {
        why = e.what();
    }
    if (m_cancelled)
        why = "the update was cancelled";
    return why;
}

std::optional<std::string> TUpdateForm::Fetch(const std::string &url, TAtomicFile &file,
                                              std::int64_t limit,
                                              const std::optional<TFileDigest> &digest,
                                              bool *otherBytes)
{
    std::optional<THashingDevice> body;
    if (digest)
        body.emplace(file.Device());
    const auto tooLong = [&](std::int64_t announced) {
        if (!digest)
            return LongerThan(limit);
        return "expected " + std::to_string(digest->Size) + " bytes, "
            + (announced ? "the server announced " + std::to_string(announced)
                       + " bytes (its Content-Length)"
                         : std::string("received more"));
    };
    std::optional<std::string> why
        = Receive(url, body ? static_cast<QIODevice &>(*body) : file.Device(),
                  digest ? digest->Size : limit, tooLong);
    // Flushed to disk (where a full disk shows), then checked.
    if (!why) {
        try {
            file.Finish();
        } catch (const std::exception &e) {
            why = e.what();
        }
        if (!why && digest && (why = Unverified(*body, *digest)) && otherBytes)
            *otherBytes = true;
    }
    if (m_cancelled)
        why = "the update was cancelled";
    if (why)
        file.Discard();
    return why;
}

void TUpdateForm::bt_StartUpdateClick()
{
    const std::string localPath = m_appDir + "/version.ini";
    const std::string serverPath = m_appDir + "/version.bak";

    m_running = true;
    m_cancelled = m_silent = false;
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

    // What a killed update or save left behind goes first.
    RemoveTemporaryFiles(m_appDir + "/cdl");
    RemoveTemporaryFiles(m_appDir);
    std::optional<std::string> abortMessage;
    if (!Exists(localPath)) {
        abortMessage = std::string(kNoLocalManifest) + "\n" + localPath + ": no such file";
    } else {
        DeleteFile(serverPath);
        bt_StartUpdate->setEnabled(false);
        ShowCancel();
        const std::string url = SiteURL + "/tirmo/version.ini";
        TAtomicFile manifest(serverPath);
        const std::optional<std::string> why = Fetch(url, manifest, kMaxManifest, std::nullopt);
        pb_Update->setValue(pb_Update->maximum());
        std::optional<std::int64_t> timestamp;
        // A cancel always leaves a reason: it isn't the server's fault.
        if (why && !m_cancelled) {
            abortMessage = std::string(kNoServerManifest) + "\n" + url + ": " + *why;
        } else if (!why && !(abortMessage = Authenticate(url, manifest, timestamp))
                   && !m_cancelled) {
            manifest.Commit();
            abortMessage = UpdateFrom(localPath, serverPath, timestamp);
        }
    }
    const std::string caption = Application() ? Application()->Title() : "TIRMO";
    if (m_cancelled) {
        // Nothing was replaced; the server's manifest is scratch.
        DeleteFile(serverPath);
        if (!m_silent)
            ShowMessageBox(kCancelled, caption);
    } else if (abortMessage) {
        lb_Update1->setText(kAborted);
        ShowMessageBox(*abortMessage, caption);
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

std::optional<std::string> TUpdateForm::Authenticate(const std::string &url, TAtomicFile &manifest,
                                                     std::optional<std::int64_t> &timestamp)
{
    if (UpdateKey.empty())
        return std::nullopt;
    const std::string list = "Update aborted: the update server's list of databases (" + url + ") ";
    const std::string unchanged = ". Nothing was changed.";
    const std::string signatureUrl = url + ".minisig";
    // A few hundred bytes, needed only now: kept in memory.
    QBuffer signature;
    signature.open(QIODevice::WriteOnly);
    if (std::optional<std::string> why
        = Receive(signatureUrl, signature, kMaxManifest,
                  [](std::int64_t) { return LongerThan(kMaxManifest); }))
        return list + "is not signed by the publisher of this TIRMO: its signature " + signatureUrl
            + " couldn't be downloaded (" + *why + ")" + unchanged;
    const TSignatureCheck check = CheckSignature(UpdateKey, FileBytes(manifest.TemporaryPath()),
                                                 signature.data().toStdString());
    if (check.Refusal)
        return list + *check.Refusal + unchanged;
    const std::optional<std::int64_t> adopted = StoredTimestamp(m_appDir + kTimestampFile);
    if (adopted && check.Timestamp < *adopted)
        return list + "is older than the one this TIRMO took last (it was signed "
            + DateText(check.Timestamp) + ", the one in use " + DateText(*adopted)
            + "): someone may be sending an old list in the publisher's place" + unchanged;
    // The same list again writes nothing.
    if (adopted != check.Timestamp)
        timestamp = check.Timestamp;
    return std::nullopt;
}

void TUpdateForm::KeepTimestamp(const std::optional<std::int64_t> &timestamp) const
{
    if (timestamp)
        WriteFileAtomically(m_appDir + kTimestampFile, std::to_string(*timestamp) + "\r\n");
}

std::optional<std::string> TUpdateForm::UpdateFrom(const std::string &localPath,
                                                   const std::string &serverPath,
                                                   std::optional<std::int64_t> timestamp)
{
    const TStringList server = ReadManifest(serverPath);
    if (server.Count() > kMaxEntries)
        return "Update aborted: the server's version.ini has " + std::to_string(server.Count())
            + " lines, more than the " + std::to_string(kMaxEntries)
            + " accepted. Nothing was changed.";
    // A line cut in its digest would fetch its file unchecked, and install
    // it cut too.
    for (const std::string &line : server)
        if (!IsProgramEntry(EntryName(line)) && HasBrokenDigest(line))
            return "Update aborted: the line " + Quoted(line)
                + " of the server's version.ini is broken: it begins like <size>-<SHA-256> but "
                  "isn't a size, a dash and 64 hex digits (the file may have been cut short). "
                  "Nothing was changed.";
    const std::vector<std::string> changed = ChangedEntries(ReadManifest(localPath), server);
    if (changed.empty()) {
        lb_Update1->setText(kNoUpdate);
        // What version.ini holds is as new as this manifest.
        KeepTimestamp(timestamp);
        return std::nullopt;
    }

    std::vector<Download> downloads;
    bool newProgram = false;
    std::optional<std::string> failed = PlanDownloads(changed, downloads, newProgram);
    if (!failed) {
        // Each arrives in a file of its own; none replaces its database
        // before all have arrived whole.
        std::vector<TAtomicFile> files;
        std::vector<std::string> added;
        for (const Download &d : downloads)
            if (!Exists(d.target))
                added.push_back(d.name);
        if (downloads.empty()) {
            lb_Update1->setText(kNoUpdate);
        } else {
            failed = DownloadAll(downloads, files);
            if (!failed && !m_cancelled)
                failed = ReplaceAll(files);
            if (!failed && !m_cancelled)
                TellUpdated(downloads, added);
        }
    }
    if (m_cancelled)
        return std::nullopt;

    // A newer program is announced whatever became of the databases.
    if (newProgram) {
        ShowMessageBox(kNewProgram, Application() ? Application()->Title() : "TIRMO");
        // Not while the program ends (a signal came during the box).
        if (!m_cancelled)
            ShellOpenUrl(SiteURL);
        return failed;
    }
    // version.ini is replaced last and in one step: it is never missing.
    if (!failed) {
        ReplaceFile(serverPath, localPath);
        KeepTimestamp(timestamp);
    }
    return failed;
}

std::optional<std::string> TUpdateForm::PlanDownloads(const std::vector<std::string> &changed,
                                                      std::vector<Download> &downloads,
                                                      bool &newProgram) const
{
    std::optional<std::string> refused;
    for (const std::string &line : changed) {
        const std::string name = EntryName(line);
        if (IsProgramEntry(name)) {
            newProgram = true;
            continue;
        }
        const std::optional<TFileDigest> digest = FileDigest(line);
        std::optional<std::string> reason = UnsafeEntryNameReason(name);
        if (!reason && !digest && !UpdateKey.empty())
            reason = "gives no size and SHA-256 digest, which every line of a signed list must";
        if (!reason && digest && digest->Size > kMaxDatabase)
            reason = "promises a file larger than " + SizeText(kMaxDatabase)
                + ", the most a database may have";
        if (reason && !refused)
            refused = "Update aborted: the line " + Quoted(line) + " of the server's version.ini "
                + *reason + ". Nothing was changed.";
        downloads.push_back({ name, m_appDir + "/cdl/" + name, digest });
    }
    if (refused)
        downloads.clear();
    return refused;
}

std::optional<std::string> TUpdateForm::DownloadAll(const std::vector<Download> &downloads,
                                                    std::vector<TAtomicFile> &files)
{
    const int n = int(downloads.size());
    std::optional<std::string> failed;
    for (int k = 1; k <= n && !m_cancelled && !failed; ++k) {
        const Download &d = downloads[size_t(k - 1)];
        lb_Update1->setText(QString::fromStdString(Counter(k, n)));
        const std::string url = SiteURL + "/tirmo/cdl/" + PathSegmentEncode(d.name);
        std::optional<std::string> why;
        bool otherBytes = false;
        try {
            files.emplace_back(d.target);
            why = Fetch(url, files.back(), kMaxDatabase, d.digest, &otherBytes);
        } catch (const std::exception &e) {
            why = e.what();
        }
        if (why && otherBytes)
            failed = "Update aborted: " + d.name + " arrived from " + url
                + ", but it isn't the file the server's version.ini describes: " + *why
                + ". No database was changed.";
        else if (why)
            failed = "Update aborted: " + d.name + " couldn't be downloaded from " + url + ": "
                + *why + ". No database was changed.";
    }
    return failed;
}

std::optional<std::string> TUpdateForm::ReplaceAll(std::vector<TAtomicFile> &files)
{
    try {
        for (TAtomicFile &file : files)
            file.Commit();
    } catch (const std::exception &e) {
        return std::string("Update aborted: ") + e.what()
            + ". version.ini was kept, so the next update fetches the databases again.";
    }
    return std::nullopt;
}

void TUpdateForm::TellUpdated(const std::vector<Download> &downloads,
                              const std::vector<std::string> &added)
{
    std::set<std::string> names;
    for (const Download &d : downloads)
        names.insert(d.name);
    const std::string done = std::to_string(names.size())
        + (names.size() == 1 ? " database updated" : " databases updated");
    lb_Update1->setText(QString::fromStdString(done));
    std::set<std::string> systems;
    for (const std::string &name : added)
        if (QString::fromStdString(name).endsWith(".cdl", Qt::CaseInsensitive))
            systems.insert(name);
    if (systems.empty())
        return;
    // The system list is built once, at the start.
    std::string listed;
    for (const std::string &name : systems)
        listed += (listed.empty() ? "" : ", ") + name;
    ShowMessageBox(done + ". "
                       + (systems.size() == 1 ? "A new system appears" : "New systems appear")
                       + " in the list when TIRMO is started again: " + listed,
                   Application() ? Application()->Title() : "TIRMO");
}
