#include "tests/support/ProgramRun.h"

#include "tests/support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// nobody and nogroup.
constexpr int kNobody = 65534;

bool DropsPrivileges(const TProgramStart &start)
{
    return start.unprivileged && ::geteuid() == 0;
}

} // namespace

std::string UnprivilegedUsersFolder(const std::string &folder)
{
    fs::create_directories(folder);
    if (::geteuid() == 0 && ::chown(folder.c_str(), kNobody, kNobody) != 0)
        ADD_FAILURE() << "cannot give " << folder << " to nobody";
    return folder;
}

TProgramRun RunProgram(const TProgramStart &start)
{
    std::string reports = start.workDir, plugins = start.probePlugins;
    QStringList command;
    if (DropsPrivileges(start)) {
        // Nobody must reach the probe and write the reports.
        fs::permissions(start.workDir, fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
        reports = UnprivilegedUsersFolder(start.workDir + "/reports");
        plugins = start.workDir + "/plugins";
        fs::create_directories(plugins);
        fs::copy(start.probePlugins + "/generic", plugins + "/generic",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        command << "setpriv"
                << "--reuid=" + QString::number(kNobody) << "--regid=" + QString::number(kNobody)
                << "--clear-groups"
                << "--";
    }
    const std::string report = reports + "/probe.txt";
    const std::string messages = reports + "/messages.txt";
    const std::string status = reports + "/status.txt";
    for (const std::string &file : { report, messages, status })
        fs::remove(file);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", QString::fromStdString(start.platform));
    if (!start.display.empty())
        env.insert("DISPLAY", QString::fromStdString(start.display));
    if (!start.command.empty())
        env.insert("TIRMO_PROBE_COMMAND", QString::fromStdString(start.command));
    env.insert("QT_PLUGIN_PATH", QString::fromStdString(plugins));
    env.insert("QT_QPA_GENERIC_PLUGINS", "tirmoprobe");
    env.insert("TIRMO_PROBE_REPORT", QString::fromStdString(report));
    env.insert("TIRMO_PROBE_MESSAGES", QString::fromStdString(messages));
    env.insert("TIRMO_PROBE_STATUS", QString::fromStdString(status));
    UseChildLeakSuppressions(env);
    if (!start.dataHome.empty())
        env.insert("XDG_DATA_HOME", QString::fromStdString(start.dataHome));
    if (!start.home.empty())
        env.insert("HOME", QString::fromStdString(start.home));
    if (!start.choose.empty())
        env.insert("TIRMO_PROBE_CHOOSE", QString::fromStdString(start.choose));
    if (!start.answer.empty())
        env.insert("TIRMO_PROBE_ANSWER", QString::fromStdString(start.answer));
    if (start.tick)
        env.insert("TIRMO_PROBE_TICK", "1");

    command << QString::fromStdString(start.program);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QDir::rootPath());
    process.start(command.takeFirst(), command);

    TProgramRun run;
    run.finished = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    if (!run.finished)
        process.kill();
    process.waitForFinished();
    run.exitCode = process.exitCode();
    run.output = process.readAllStandardOutput().toStdString()
        + process.readAllStandardError().toStdString();
    run.messages = ReadFileBytes(messages);
    run.status = ReadFileBytes(status);
    const std::string text = ReadFileBytes(report);
    size_t pos = text.find('\n');
    if (pos == std::string::npos)
        return run;
    run.title = text.substr(0, pos++);
    for (size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
        run.entries.insert(text.substr(pos, end - pos));
    return run;
}

std::string Describe(const TProgramRun &run)
{
    return std::string(run.finished ? "" : "did not end by itself; ") + "exit code "
        + std::to_string(run.exitCode) + "; title \"" + run.title + "\"; messages: " + run.messages
        + "; output: " + run.output;
}
