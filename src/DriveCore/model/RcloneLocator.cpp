#include "DriveCore/model/RcloneLocator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <sys/stat.h>

namespace DriveCore {

bool RcloneLocator::isUsable(const QString &path)
{
    struct stat info{};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISREG(info.st_mode) && (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH));
}

std::optional<QString> RcloneLocator::locate(const QString &executable, const QMap<QString, QString> &environment)
{
    if (!executable.isEmpty()) {
        const QString resolved = QFileInfo(executable).canonicalFilePath();
        if (!resolved.isEmpty()) {
            const QString prefix = QFileInfo(QFileInfo(resolved).path()).path();
            const QString helper = prefix + u'/' + QString::fromLatin1(helperPath);
            if (isUsable(helper))
                return helper;
        }
    }
    const auto variable = environment.constFind(QString::fromLatin1(environmentKey));
    if (variable != environment.constEnd() && isUsable(*variable))
        return *variable;
    if (executable.isEmpty())
        return std::nullopt;
    return repoBuild(executable);
}

std::optional<QString> RcloneLocator::locate()
{
    QMap<QString, QString> environment;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString &key : system.keys())
        environment.insert(key, system.value(key));
    return locate(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), environment);
}

std::optional<QString> RcloneLocator::repoBuild(const QString &executable)
{
    QString resolved = QFileInfo(executable).canonicalFilePath();
    if (resolved.isEmpty())
        resolved = QDir::cleanPath(executable);
    QString folder = QFileInfo(resolved).path();
    while (!folder.isEmpty() && folder != QLatin1String("/")) {
        const QString candidate = folder + u'/' + QString::fromLatin1(repoBuildPath);
        if (isUsable(candidate) && QFileInfo::exists(folder + u'/' + QString::fromLatin1(repoMarkerPath)))
            return candidate;
        folder = QFileInfo(folder).path();
    }
    return std::nullopt;
}

} // namespace DriveCore
