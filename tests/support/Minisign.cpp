#include "tests/support/Minisign.h"

#include <QFile>
#include <QProcess>

#include <stdexcept>

namespace {

void RunMinisign(const QStringList &args)
{
    QProcess minisign;
    minisign.start("minisign", args);
    if (!minisign.waitForFinished(30000) || minisign.exitStatus() != QProcess::NormalExit
        || minisign.exitCode() != 0)
        throw std::runtime_error("minisign " + args.join(' ').toStdString()
                                 + " failed: " + minisign.errorString().toStdString() + " "
                                 + minisign.readAllStandardError().toStdString());
}

std::string Contents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("can't read " + path.toStdString());
    return file.readAll().toStdString();
}

} // namespace

TMinisign::TMinisign() : m_secretKey(m_dir.filePath("minisign.key").toStdString())
{
    const QString pub = m_dir.filePath("minisign.pub");
    RunMinisign({ "-G", "-W", "-p", pub, "-s", QString::fromStdString(m_secretKey) });
    const std::string file = Contents(pub);
    const size_t start = file.find('\n') + 1;
    m_publicKey = file.substr(start, file.find('\n', start) - start);
}

void TMinisign::SignFile(const std::string &file, const QStringList &options) const
{
    const QString path = QString::fromStdString(file);
    RunMinisign(QStringList { "-S", "-s", QString::fromStdString(m_secretKey), "-m", path, "-x",
                              path + ".minisig" }
                + options);
}

std::string TMinisign::Sign(const std::string &message, const QStringList &options) const
{
    const QString path = m_dir.filePath("message");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(message.data(), qint64(message.size())) != qint64(message.size()))
        throw std::runtime_error("can't write " + path.toStdString());
    file.close();
    SignFile(path.toStdString(), options);
    return Contents(path + ".minisig");
}
