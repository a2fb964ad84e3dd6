#pragma once

#include "net/Nmhttp.h"
#include "platform/AtomicFile.h"
#include "updater/Manifest.h"
#include "updater/Signature.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class TUpdateForm;
}
class QLabel;
class QProgressBar;
class QPushButton;

// The update server and web site this program was built for.
extern const char kSiteURL[];

// The modal update dialog: brings the game databases in <AppDir>/cdl up to
// date from the update site and announces a newer program.
//
// The whole update runs inside bt_StartUpdateClick; its downloads pump the
// event loop, so the dialog repaints and its bar moves while they run.
// Cancel, Escape or closing the dialog meanwhile aborts the transfer,
// changes nothing and says so.
class TUpdateForm : public QDialog {
    Q_OBJECT
public:
    // `appDir` is the main window's application directory.
    explicit TUpdateForm(std::string appDir, QWidget *parent = nullptr);
    ~TUpdateForm() override;

    QProgressBar *pb_Update;
    QLabel *lb_Update1;
    QPushButton *bt_StartUpdate;
    // Beyond the form: in Start Update's place while an update runs.
    QPushButton *bt_Cancel;
    TNMHTTP *UpdateProt;

    void FormShow();
    void bt_StartUpdateClick();
    void UpdateProtPacketRecvd();

    bool Running() const { return m_running; }

    // Ends a running update as a cancel does, but silently: the program is
    // ending. Nothing when no update runs.
    void Abandon();

    // The update site, fixed when the program is built; tests point it at
    // a local server.
    std::string SiteURL = kSiteURL;
    // The publisher's minisign public key, built in: with one, only a
    // version.ini that it signed, no older than the one adopted last, is
    // taken. Tests set a key of their own.
    std::string UpdateKey = kUpdateKey;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    struct Download {
        std::string name;
        std::string target;
        std::optional<TFileDigest> digest;
    };

    // With a key, fetches the signature of the manifest that `manifest`
    // holds (fetched from `url`, not yet in place) and checks it and its
    // timestamp; why the manifest is refused, if it is. `timestamp` is then
    // the one to keep once the manifest is adopted, when it is new.
    std::optional<std::string> Authenticate(const std::string &url, TAtomicFile &manifest,
                                            std::optional<std::int64_t> &timestamp);
    // Keeps a signed manifest's timestamp beside version.ini.
    void KeepTimestamp(const std::optional<std::int64_t> &timestamp) const;
    // The steps after the manifest has arrived; the message to show, if
    // one is due. A signed manifest's `timestamp` is kept when it is
    // adopted.
    std::optional<std::string> UpdateFrom(const std::string &localPath,
                                          const std::string &serverPath,
                                          std::optional<std::int64_t> timestamp);
    // The databases that the changed lines name, and whether the program
    // itself changed; why the server's manifest is refused, if it is.
    std::optional<std::string> PlanDownloads(const std::vector<std::string> &changed,
                                             std::vector<Download> &downloads,
                                             bool &newProgram) const;
    // Fetches every download into a file of its own in `files`, each
    // flushed to disk; why one did not arrive whole, if one did not. A
    // cancel stops it early without a reason.
    std::optional<std::string> DownloadAll(const std::vector<Download> &downloads,
                                           std::vector<TAtomicFile> &files);
    // Why a reply past its bound is refused, given its Content-Length when
    // that alone was past it (else 0).
    using TTooLong = std::function<std::string(std::int64_t announced)>;
    // Fetches `url` into `body`, reading at most one byte past `limit`;
    // nothing when a whole 200 reply arrived, else why not (`tooLong` when
    // it went past the limit).
    std::optional<std::string> Receive(const std::string &url, QIODevice &body, std::int64_t limit,
                                       const TTooLong &tooLong);
    // Fetches `url` into `file`, reading at most one byte past `limit` (or
    // past the size a digest promises); nothing when a whole 200 reply
    // arrived that keeps the digest's promise, else why not (`otherBytes`
    // then tells one that arrived but broke it). The file is discarded on
    // failure.
    std::optional<std::string> Fetch(const std::string &url, TAtomicFile &file, std::int64_t limit,
                                     const std::optional<TFileDigest> &digest,
                                     bool *otherBytes = nullptr);
    // Puts every download in place of its database; why one failed, if one
    // did.
    static std::optional<std::string> ReplaceAll(std::vector<TAtomicFile> &files);
    // Puts Cancel in Start Update's place.
    void ShowCancel();
    // Says what a run that replaced `downloads` did, and that new databases
    // are listed only after a restart.
    void TellUpdated(const std::vector<Download> &downloads, const std::vector<std::string> &added);

    std::unique_ptr<Ui::TUpdateForm> m_ui;
    std::string m_appDir;
    bool m_running = false;
    bool m_cancelled = false; // the run is to stop, and the dialog to close
    bool m_silent = false; // ... without a word: the program is ending
};
