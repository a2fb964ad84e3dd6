#include "updater/DatabaseUpdate.h"

#include "net/Nmhttp.h"
#include "net/Nmurl.h"
#include "platform/AtomicFile.h"
#include "updater/HashingDevice.h"
#include "updater/Signature.h"

#include <QDateTime>
#include <QScopeGuard>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

const char *const kNoLocalManifest = "Your Version.ini couldn't be found. Update aborted";
const char *const kNoServerManifest
    = "Web Version info file couldn't be found/downloaded. Update aborted";
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

TUpdateStop Cancelled()
{
    return { true, {} };
}

TUpdateStop Failed(std::string reason)
{
    return { false, std::move(reason) };
}

std::string SizeText(std::int64_t bytes)
{
    if (bytes % (1 << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Why a reply past its bound is refused, given its Content-Length when that
// alone was past it (else 0).
std::string TooLong(std::int64_t limit, const std::optional<TFileDigest> &digest,
                    std::int64_t announced)
{
    if (!digest)
        return "it is longer than " + SizeText(limit) + ", the most accepted";
    return "expected " + std::to_string(digest->Size) + " bytes, "
        + (announced
               ? "the server announced " + std::to_string(announced) + " bytes (its Content-Length)"
               : std::string("received more"));
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

TDatabaseUpdate::TDatabaseUpdate(TNMHTTP &http) : m_http(http)
{
}

void TDatabaseUpdate::Cancel()
{
    if (!m_running)
        return;
    m_cancelled = true;
    m_http.Abort();
}

TUpdateResult TDatabaseUpdate::Run(const TUpdateSite &site, const std::string &appDir,
                                   const TUpdateProgressEvent &progress)
{
    m_site = site;
    m_appDir = appDir;
    m_progress = progress;
    m_running = true;
    m_cancelled = false;
    const auto idle = qScopeGuard([this] { m_running = false; });
    const auto tell = [this](TUpdateProgress::TStage stage) {
        if (m_progress)
            m_progress({ stage });
    };
    const std::string localPath = m_appDir + "/version.ini";
    const std::string serverPath = m_appDir + "/version.bak";

    // What a killed update or save left behind goes first.
    RemoveTemporaryFiles(m_appDir + "/cdl");
    RemoveTemporaryFiles(m_appDir);
    TUpdateResult result;
    if (!Exists(localPath)) {
        result.Stop = Failed(std::string(kNoLocalManifest) + "\n" + localPath + ": no such file");
        return result;
    }
    DeleteFile(serverPath);
    tell(TUpdateProgress::TStage::Manifest);
    const std::string url = m_site.URL + "/tirmo/version.ini";
    TFetchTarget manifest;
    manifest.File.emplace(serverPath);
    const std::optional<TFetchFailure> failure = Fetch(url, manifest, kMaxManifest, std::nullopt);
    tell(TUpdateProgress::TStage::ManifestDone);
    std::optional<std::int64_t> timestamp;
    if (failure && failure->Kind == TFetchFailure::TKind::Cancelled) {
        result.Stop = Cancelled();
    } else if (failure) {
        result.Stop = Failed(std::string(kNoServerManifest) + "\n" + url + ": " + failure->Reason);
    } else if (!(result.Stop = Authenticate(url, *manifest.File, timestamp))) {
        manifest.File->Commit();
        result.Stop = UpdateFrom(localPath, serverPath, timestamp, result);
    }
    // Nothing was replaced; the server's manifest is scratch, and what it
    // says is not told.
    if (result.Stop && result.Stop->Cancelled) {
        DeleteFile(serverPath);
        TUpdateResult cancelled;
        cancelled.Stop = Cancelled();
        return cancelled;
    }
    return result;
}

std::optional<TDatabaseUpdate::TFetchFailure>
TDatabaseUpdate::Fetch(const std::string &url, TFetchTarget &target, std::int64_t limit,
                       const std::optional<TFileDigest> &digest)
{
    std::optional<TFetchFailure> failure;
    const auto failed = [&](std::string reason) {
        failure = { TFetchFailure::TKind::Failed, std::move(reason) };
    };
    std::optional<THashingDevice> hashed;
    try {
        if (!target.File && !target.Path.empty())
            target.File.emplace(target.Path);
        if (!target.File)
            target.Memory.open(QIODevice::WriteOnly);
        QIODevice &device = target.File ? target.File->Device() : target.Memory;
        if (digest)
            hashed.emplace(device);
        const TFetchReply reply
            = m_http.Fetch(url, hashed ? *hashed : device, digest ? digest->Size : limit);
        if (reply.Status != 200)
            failed("the server answered " + std::to_string(reply.Status));
        else if (target.File)
            // Flushed to disk (where a full disk shows), then checked.
            target.File->Finish();
    } catch (const EBodyTooLong &e) {
        // An error status says more than the length of its page.
        failed(e.Status != 200 ? "the server answered " + std::to_string(e.Status)
                               : TooLong(limit, digest, e.Announced.value_or(0)));
    } catch (const std::exception &e) {
        failed(e.what());
    }
    if (!failure && digest)
        if (std::optional<std::string> why = Unverified(*hashed, *digest))
            failure = { TFetchFailure::TKind::OtherBytes, std::move(*why) };
    if (m_cancelled)
        failure = { TFetchFailure::TKind::Cancelled, {} };
    if (failure && target.File)
        target.File->Discard();
    return failure;
}

std::optional<TUpdateStop> TDatabaseUpdate::Authenticate(const std::string &url,
                                                         TAtomicFile &manifest,
                                                         std::optional<std::int64_t> &timestamp)
{
    if (m_site.Key.empty())
        return std::nullopt;
    const std::string list = "Update aborted: the update server's list of databases (" + url + ") ";
    const std::string unchanged = ". Nothing was changed.";
    const std::string signatureUrl = url + ".minisig";
    // A few hundred bytes, needed only now: kept in memory.
    TFetchTarget signature;
    if (const std::optional<TFetchFailure> failure
        = Fetch(signatureUrl, signature, kMaxManifest, std::nullopt)) {
        if (failure->Kind == TFetchFailure::TKind::Cancelled)
            return Cancelled();
        return Failed(list + "is not signed by the publisher of this TIRMO: its signature "
                      + signatureUrl + " couldn't be downloaded (" + failure->Reason + ")"
                      + unchanged);
    }
    const TSignatureCheck check = CheckSignature(m_site.Key, FileBytes(manifest.TemporaryPath()),
                                                 signature.Memory.data().toStdString());
    if (check.Refusal)
        return Failed(list + *check.Refusal + unchanged);
    const std::optional<std::int64_t> adopted = StoredTimestamp(m_appDir + kTimestampFile);
    if (adopted && check.Timestamp < *adopted)
        return Failed(list + "is older than the one this TIRMO took last (it was signed "
                      + DateText(check.Timestamp) + ", the one in use " + DateText(*adopted)
                      + "): someone may be sending an old list in the publisher's place"
                      + unchanged);
    // The same list again writes nothing.
    if (adopted != check.Timestamp)
        timestamp = check.Timestamp;
    return std::nullopt;
}

void TDatabaseUpdate::KeepTimestamp(const std::optional<std::int64_t> &timestamp) const
{
    if (timestamp)
        WriteFileAtomically(m_appDir + kTimestampFile, std::to_string(*timestamp) + "\r\n");
}

std::optional<TUpdateStop> TDatabaseUpdate::UpdateFrom(const std::string &localPath,
                                                       const std::string &serverPath,
                                                       std::optional<std::int64_t> timestamp,
                                                       TUpdateResult &result)
{
    const TStringList server = ReadManifest(serverPath);
    if (server.Count() > kMaxEntries)
        return Failed("Update aborted: the server's version.ini has "
                      + std::to_string(server.Count()) + " lines, more than the "
                      + std::to_string(kMaxEntries) + " accepted. Nothing was changed.");
    // A line cut in its digest would fetch its file unchecked, and install
    // it cut too.
    for (const std::string &line : server)
        if (!IsProgramEntry(EntryName(line)) && HasBrokenDigest(line))
            return Failed("Update aborted: the line " + Quoted(line)
                          + " of the server's version.ini is broken: it begins like "
                            "<size>-<SHA-256> but isn't a size, a dash and 64 hex digits (the "
                            "file may have been cut short). Nothing was changed.");
    const std::vector<std::string> changed = ChangedEntries(ReadManifest(localPath), server);
    if (changed.empty()) {
        // What version.ini holds is as new as this manifest.
        KeepTimestamp(timestamp);
        return std::nullopt;
    }

    std::vector<Download> downloads;
    if (std::optional<TUpdateStop> refused = PlanDownloads(changed, downloads, result.NewProgram))
        return refused;
    if (!downloads.empty()) {
        std::set<std::string> updated, added;
        for (const Download &d : downloads) {
            updated.insert(d.name);
            if (!Exists(d.target))
                added.insert(d.name);
        }
        // Each arrives in a file of its own; none replaces its database
        // before all have arrived whole.
        std::vector<TAtomicFile> files;
        if (std::optional<TUpdateStop> stop = DownloadAll(downloads, files))
            return stop;
        if (std::optional<TUpdateStop> stop = ReplaceAll(files))
            return stop;
        result.Updated.assign(updated.begin(), updated.end());
        result.Added.assign(added.begin(), added.end());
    }
    // A newer program leaves version.ini as it is: every run tells of it
    // again until the program that carries it is installed.
    if (result.NewProgram)
        return std::nullopt;
    // version.ini is replaced last and in one step: it is never missing.
    ReplaceFile(serverPath, localPath);
    KeepTimestamp(timestamp);
    return std::nullopt;
}

std::optional<TUpdateStop> TDatabaseUpdate::PlanDownloads(const std::vector<std::string> &changed,
                                                          std::vector<Download> &downloads,
                                                          bool &newProgram) const
{
    std::optional<TUpdateStop> refused;
    for (const std::string &line : changed) {
        const std::string name = EntryName(line);
        if (IsProgramEntry(name)) {
            newProgram = true;
            continue;
        }
        const std::optional<TFileDigest> digest = FileDigest(line);
        std::optional<std::string> reason = UnsafeEntryNameReason(name);
        if (!reason && !digest && !m_site.Key.empty())
            reason = "gives no size and SHA-256 digest, which every line of a signed list must";
        if (!reason && digest && digest->Size > kMaxDatabase)
            reason = "promises a file larger than " + SizeText(kMaxDatabase)
                + ", the most a database may have";
        if (reason && !refused)
            refused
                = Failed("Update aborted: the line " + Quoted(line)
                         + " of the server's version.ini " + *reason + ". Nothing was changed.");
        downloads.push_back({ name, m_appDir + "/cdl/" + name, digest });
    }
    if (refused)
        downloads.clear();
    return refused;
}

std::optional<TUpdateStop> TDatabaseUpdate::DownloadAll(const std::vector<Download> &downloads,
                                                        std::vector<TAtomicFile> &files)
{
    const int n = int(downloads.size());
    for (int k = 1; k <= n; ++k) {
        const Download &d = downloads[size_t(k - 1)];
        if (m_progress)
            m_progress({ TUpdateProgress::TStage::Database, k, n });
        const std::string url = m_site.URL + "/tirmo/cdl/" + PathSegmentEncode(d.name);
        TFetchTarget target;
        target.Path = d.target;
        const std::optional<TFetchFailure> failure = Fetch(url, target, kMaxDatabase, d.digest);
        if (!failure) {
            files.push_back(std::move(*target.File));
            continue;
        }
        switch (failure->Kind) {
        case TFetchFailure::TKind::Cancelled:
            return Cancelled();
        case TFetchFailure::TKind::OtherBytes:
            return Failed("Update aborted: " + d.name + " arrived from " + url
                          + ", but it isn't the file the server's version.ini describes: "
                          + failure->Reason + ". No database was changed.");
        case TFetchFailure::TKind::Failed:
            break;
        }
        return Failed("Update aborted: " + d.name + " couldn't be downloaded from " + url + ": "
                      + failure->Reason + ". No database was changed.");
    }
    return std::nullopt;
}

std::optional<TUpdateStop> TDatabaseUpdate::ReplaceAll(std::vector<TAtomicFile> &files)
{
    try {
        for (TAtomicFile &file : files)
            file.Commit();
    } catch (const std::exception &e) {
        return Failed(std::string("Update aborted: ") + e.what()
                      + ". version.ini was kept, so the next update fetches the databases again.");
    }
    return std::nullopt;
}
