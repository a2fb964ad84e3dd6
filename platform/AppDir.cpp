#include "platform/AppDir.h"

#include <QCoreApplication>
#include <QFile>

std::string ExecutableDir()
{
    return QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
}
