#pragma once

#include "platform/AtomicFile.h"
#include "updater/Manifest.h"

#include <QBuffer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TNMHTTP;

// The update procedure: brings the game databases in <AppDir>/cdl up to date
// from the update site and finds out whether a newer program is out. It
// shows nothing: the update dialog shows what it reports and returns.
//
// Failures. Every step returns what stopped the run, if something did (a
// TUpdateStop): a failure, with the message the user is to read, or a
// cancel. What raises below (the HTTP client, the files a download goes to)
// is turned into that in one place for a download, Fetch, and in one for
// putting the downloads in place. Only a fault of this machine's files
// outside a download is raised, as the platform layer raises it, for the
// application to show: a version.ini that can't be read, and a version.bak,
// version.ini or version.timestamp that can't be written.

// Where the updates come from.
struct TUpdateSite {
    std::string URL; // the base; the manifest is <URL>/tirmo/version.ini
    // The publisher's minisign public key: with one, only a version.ini
    // that it signed, no older than the one adopted last, is taken. Empty
    // for an unsigned site.
    std::string Key;
};

// Where a run is. The bytes of each transfer are told by the HTTP client's
// OnPacketRecvd (its TotalBytes and ReceivedBytes).
struct TUpdateProgress {
    enum class TStage {
        Manifest, // the site's version.ini is being fetched
        ManifestDone, // that fetch has ended, whatever became of it
        Database, // database Index (from 1) of Count is being fetched
    };
    TStage Stage;
    int Index = 0;
    int Count = 0;
};
using TUpdateProgressEvent = std::function<void(const TUpdateProgress &)>;

// What stopped a run before its end.
struct TUpdateStop {
    bool Cancelled = false; // by Cancel(): nothing was changed
    std::string Reason; // otherwise: what went wrong, as the user is told it
};

// What a run did.
struct TUpdateResult {
    std::optional<TUpdateStop> Stop; // nothing: it ran to its end
    // The site's version.ini names a newer program (told also when the
    // databases failed; never after a cancel).
    bool NewProgram = false;
    std::vector<std::string> Updated; // the databases replaced, each once, sorted
    std::vector<std::string> Added; // those of them that were not there before
};

class TDatabaseUpdate {
public:
    // The transfers go through `http`, which outlives this.
    explicit TDatabaseUpdate(TNMHTTP &http);

    // One update of the application folder `appDir` from `site`. Its
    // downloads pump the event loop: handlers run inside, and Cancel() from
    // one of them ends the run.
    TUpdateResult Run(const TUpdateSite &site, const std::string &appDir,
                      const TUpdateProgressEvent &progress);

    // Aborts the transfer under way; the run then stops, having changed
    // nothing. Nothing when no run is under way.
    void Cancel();
    bool Running() const { return m_running; }

    // The most bytes a manifest and a database may have: anything far larger
    // is a fault of the server, and reading stops there.
    static constexpr std::int64_t kMaxManifest = 4 << 20;
    static constexpr std::int64_t kMaxDatabase = 64 << 20;
    static constexpr int kMaxEntries = 10000;

private:
    struct Download {
        std::string name;
        std::string target;
        std::optional<TFileDigest> digest;
    };
    // Why one fetch did not bring what was asked for.
    struct TFetchFailure {
        enum class TKind {
            Cancelled,
            Failed, // no whole 200 reply arrived, or it couldn't be kept
            OtherBytes, // a whole reply arrived, but not the promised bytes
        };
        TKind Kind;
        std::string Reason; // unless Cancelled
    };

    // Where a fetch writes: a file (made at Path unless made already),
    // flushed to disk once the body is whole; or, with neither, memory.
    struct TFetchTarget {
        std::string Path;
        std::optional<TAtomicFile> File;
        QBuffer Memory;
    };

    // Fetches `url` into `target`, reading at most one byte past `limit` or
    // past the size `digest` promises; nothing when a whole 200 reply arrived
    // that keeps the digest's promise. The one place where the failures of a
    // download are caught; the file is discarded on failure.
    std::optional<TFetchFailure> Fetch(const std::string &url, TFetchTarget &target,
                                       std::int64_t limit,
                                       const std::optional<TFileDigest> &digest);
    // The stop of a run whose fetch failed: a cancel, or `what` followed by
    // the reason.
    static TUpdateStop Stopped(const TFetchFailure &failure, const std::string &what);
    // Fetches and checks the manifest's signature (a site with a key);
    // `timestamp` is then the one to keep once the manifest is adopted, when
    // it is new.
    std::optional<TUpdateStop> Authenticate(const std::string &url, TAtomicFile &manifest,
                                            std::optional<std::int64_t> &timestamp);
    void KeepTimestamp(const std::optional<std::int64_t> &timestamp) const;
    // The steps after the manifest has arrived and is in place as
    // version.bak.
    std::optional<TUpdateStop> UpdateFrom(const std::string &localPath,
                                          const std::string &serverPath,
                                          std::optional<std::int64_t> timestamp,
                                          TUpdateResult &result);
    // The databases that the changed lines name, and whether the program
    // itself changed; why the server's manifest is refused, if it is.
    std::optional<TUpdateStop> PlanDownloads(const std::vector<std::string> &changed,
                                             std::vector<Download> &downloads,
                                             bool &newProgram) const;
    // Fetches every download into a file of its own in `files`, each
    // flushed to disk; it stops at the first failure or at a cancel.
    std::optional<TUpdateStop> DownloadAll(const std::vector<Download> &downloads,
                                           std::vector<TAtomicFile> &files);
    // Puts every download in place of its database.
    static std::optional<TUpdateStop> ReplaceAll(std::vector<TAtomicFile> &files);

    TNMHTTP &m_http;
    // Those of the run under way.
    TUpdateSite m_site;
    std::string m_appDir;
    TUpdateProgressEvent m_progress;
    bool m_running = false;
    bool m_cancelled = false;
};
