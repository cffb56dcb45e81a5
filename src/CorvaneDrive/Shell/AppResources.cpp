#include "CorvaneDrive/Shell/AppResources.h"

#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace CorvaneDrive::AppResources {

namespace {

QString executable()
{
    return QCoreApplication::applicationFilePath();
}

QString installedFolder(const QString &program, const QString &name)
{
    return QDir::cleanPath(QFileInfo(program).absolutePath() + QStringLiteral("/../share/corvane-drive/") + name);
}

} // namespace

std::optional<QString> sourceTree(const QString &program)
{
    QDir folder(QFileInfo(QFileInfo(program).canonicalFilePath()).absolutePath());
    while (!folder.isRoot()) {
        if (QFileInfo::exists(folder.filePath(QStringLiteral("src/CorvaneDrive/CMakeLists.txt"))))
            return folder.absolutePath();
        if (!folder.cdUp())
            break;
    }
    return std::nullopt;
}

QString dataFolder(const QString &program, const QString &name, const QString &sourceFolder)
{
    const QString installed = installedFolder(program, name);
    if (QFileInfo(installed).isDir())
        return installed;
    if (const std::optional<QString> tree = sourceTree(program); tree && QFileInfo(*tree + u'/' + sourceFolder).isDir())
        return *tree + u'/' + sourceFolder;
    return installed;
}

QString shareWorkerFolder()
{
    return dataFolder(executable(), QStringLiteral("share-worker"), QStringLiteral("share-worker"));
}

QString helpFolder()
{
    return dataFolder(executable(), QStringLiteral("help"), QStringLiteral("help"));
}

QString fileSystemHelpPage()
{
    return helpFolder() + u'/' + TurnOnDrivePresenter::helpPageName;
}

QString addOnHelpPage()
{
    return helpFolder() + u'/' + SettingsPresenter::addOnHelpPageName;
}

std::optional<QString> developmentIconFolder()
{
    const QString installed =
        QDir::cleanPath(QFileInfo(executable()).absolutePath() + QStringLiteral("/../share/icons"));
    if (QFileInfo::exists(installed + QStringLiteral("/hicolor/scalable/apps/corvane-drive-symbolic.svg")))
        return std::nullopt;
    if (const std::optional<QString> tree = sourceTree(executable()))
        return *tree + QStringLiteral("/icons");
    return std::nullopt;
}

} // namespace CorvaneDrive::AppResources
