#pragma once

// The update dialog, TUpdateForm, and the update site it was built for.

#include "net/Nmhttp.h"
#include "updater/DatabaseUpdate.h"
#include "updater/Signature.h"

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class TUpdateForm;
}
class QLabel;
class QProgressBar;
class QPushButton;

// The update server and web site this program was built for.
extern const char kSiteURL[];

// The modal update dialog: shows an update of the game databases in
// <AppDir>/cdl from the update site (TDatabaseUpdate does it) and announces
// a newer program.
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
    // Shows where the run is.
    void ShowProgress(const TUpdateProgress &progress);
    // Shows what a run did, once it has ended.
    void ShowResult(const TUpdateResult &result);
    // Puts Cancel in Start Update's place.
    void ShowCancel();
    // Says what a run that ran to its end did, and that new databases are
    // listed only after a restart.
    void TellUpdated(const TUpdateResult &result);

    std::unique_ptr<Ui::TUpdateForm> m_ui;
    std::string m_appDir;
    std::unique_ptr<TDatabaseUpdate> m_update;
    bool m_running = false;
    bool m_cancelled = false; // the run is to stop, and the dialog to close
    bool m_closed = false; // closed while a box told how the run ended
    bool m_silent = false; // ... without a word: the program is ending
};
