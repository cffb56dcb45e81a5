#include "DriveCore/engine/MountUploads.h"

namespace DriveCore {

QString MountUploads::plainRemote(const QString &name)
{
    const qsizetype colon = name.indexOf(u':');
    if (colon < 0)
        return name;
    // Only a brace in the remote's name counts; one after the colon belongs to a path.
    const qsizetype brace = name.left(colon).indexOf(u'{');
    if (brace < 0)
        return name;
    return name.left(brace) + name.mid(colon);
}

bool MountUploads::isIntoDrive(const std::optional<QString> &group, const std::optional<QString> &dstFs,
                               const QString &mountFs)
{
    // One-shot jobs run in their own stats groups; the mount's uploads are in the global one.
    if (group != QStringLiteral("global_stats") || !dstFs)
        return false;
    return plainRemote(*dstFs) == plainRemote(mountFs);
}

} // namespace DriveCore
