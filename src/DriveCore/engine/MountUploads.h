#pragma once

#include <QString>

#include <optional>

namespace DriveCore::MountUploads {

// The engine reports every transfer it runs; these pick out the uploads into the mounted drive.

// `name` without the configuration suffix the engine may add to a remote's name:
// "drivecrypt{ab12}:Drive" gives "drivecrypt:Drive". Names without one come back unchanged.
QString plainRemote(const QString &name);

// Whether a transfer of the global stats group with destination `dstFs` is an upload into the
// drive mounted as `mountFs`.
bool isIntoDrive(const std::optional<QString> &group, const std::optional<QString> &dstFs, const QString &mountFs);

} // namespace DriveCore::MountUploads
