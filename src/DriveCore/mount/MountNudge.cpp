#include "DriveCore/mount/MountNudge.h"

#include "DriveCore/mount/FSKitRefresh.h"
#include "DriveCore/platform/Folders.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Threads.h"

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace DriveCore {

namespace {

const Log log("mount-nudge");

const QString recovering = QStringLiteral(".corvane-recovering");

} // namespace

bool MountNudge::isNudgeName(const QString &name)
{
    return name.startsWith(QLatin1String(prefix));
}

bool MountNudge::isIgnoredName(const QString &name)
{
    return isNudgeName(name) || name.startsWith(recovering) || name.endsWith(recovering);
}

int MountNudge::refreshFilesNow(const QString &folder)
{
    return FSKitRefresh::refreshFiles(folder, FSKitRefresh::Clock::now());
}

void MountNudge::nudge(const QString &mountPath, const QString &folder, const FSKitTest &isFSKit,
                       const Refresh &refresh)
{
    const QStringList pieces = folder.split(u'/', Qt::SkipEmptyParts);
    if (pieces.contains(QLatin1String("..")))
        return;
    QString target = mountPath;
    for (const QString &piece : pieces)
        target += u'/' + piece;
    if (!Folders::isDirectory(target)) {
        log.info("Nothing to nudge: folder is not there");
        return;
    }
    const QByteArray nudgeFolder = QFile::encodeName(target + u'/' + QLatin1String(prefix)
                                                     + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    if (::mkdir(nudgeFolder.constData(), 0777) != 0) {
        log.info("Could not nudge folder: %{private}s", std::strerror(errno));
    } else if (::rmdir(nudgeFolder.constData()) != 0) {
        log.info("Could not remove nudge folder: errno %d", errno);
        return;
    }
    if (isFSKit(mountPath))
        refresh(target);
}

QStringList MountNudge::topLevelFolders(const QString &mountPath)
{
    QStringList names = Folders::names(mountPath).value_or(QStringList());
    names.removeIf([](const QString &name) { return name.startsWith(u'.'); });
    std::sort(names.begin(), names.end());
    names.removeIf([&](const QString &name) { return !Folders::isDirectory(mountPath + u'/' + name); });
    return names;
}

MountNudge::Background MountNudge::background = [](QString mountPath, QString folder) -> QCoro::Task<> {
    co_await runInPool([mountPath, folder] { nudge(mountPath, folder); });
};

MountNudge::BackgroundTopFolders MountNudge::backgroundTopFolders = [](QString mountPath) -> QCoro::Task<QStringList> {
    co_return co_await runInPool([mountPath] { return topLevelFolders(mountPath); });
};

} // namespace DriveCore
