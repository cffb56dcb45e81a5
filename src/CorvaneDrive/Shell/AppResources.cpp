#include "CorvaneDrive/Shell/AppResources.h"

#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"
#include "CorvaneDrive/Shell/MenuBarLabel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace CorvaneDrive::AppResources {

namespace {

// Symbolic links resolved (Qt reads /proc/self/exe), so a link in a folder on PATH finds the
// folders of the real program.
QString executable()
{
    return QCoreApplication::applicationFilePath();
}

} // namespace

QString prefix(const QString &program)
{
    return QDir::cleanPath(QFileInfo(program).absolutePath() + QStringLiteral("/.."));
}

QString dataFolder(const QString &program, const QString &name)
{
    return prefix(program) + QStringLiteral("/share/corvane-drive/") + name;
}

std::optional<QString> iconFolder(const QString &program)
{
    const QString icons = prefix(program) + QStringLiteral("/share/icons");
    if (QFileInfo::exists(icons + QStringLiteral("/hicolor/scalable/apps/") + MenuBarLabel::brandIcon
                          + QStringLiteral(".svg")))
        return icons;
    return std::nullopt;
}

QString shareWorkerFolder()
{
    return dataFolder(executable(), QStringLiteral("share-worker"));
}

QString helpFolder()
{
    return dataFolder(executable(), QStringLiteral("help"));
}

QString fileSystemHelpPage()
{
    return helpFolder() + u'/' + TurnOnDrivePresenter::helpPageName;
}

QString addOnHelpPage()
{
    return helpFolder() + u'/' + SettingsPresenter::addOnHelpPageName;
}

std::optional<QString> iconFolder()
{
    return iconFolder(executable());
}

} // namespace CorvaneDrive::AppResources
