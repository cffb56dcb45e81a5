#include "DriveCore/mount/FSKitRefresh.h"

#include "DriveCore/mount/MountNudge.h"
#include "DriveCore/platform/Folders.h"
#include "DriveCore/support/Log.h"

#include <QFile>

#include <sys/stat.h>

namespace DriveCore {

namespace {

const Log log("fskit-refresh");

} // namespace

int FSKitRefresh::refreshFiles(const QString &folder, Clock::time_point now)
{
    const auto names = Folders::names(folder);
    if (!names)
        return 0;
    if (names->size() > maxItems) {
        log.info("Not refreshing a folder of %ld items", names->size());
        return 0;
    }
    int refreshed = 0;
    for (const QString &name : *names) {
        if (!MountNudge::isIgnoredName(name) && refresh(folder + u'/' + name, now))
            ++refreshed;
    }
    return refreshed;
}

bool FSKitRefresh::refresh(const QString &path, Clock::time_point now)
{
    struct stat status{};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    const auto modified = Clock::time_point(std::chrono::seconds(status.st_mtim.tv_sec));
    if (now - modified < minimumAge)
        return false;
    // The look-up above went through the layer to the engine's mount, attributes uncached:
    // nothing more to drop (see the header).
    return true;
}

} // namespace DriveCore
