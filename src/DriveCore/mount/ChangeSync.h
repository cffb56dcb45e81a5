#pragma once

#include <QString>

namespace DriveCore {

// Carries change notes between machines that mount the same drive.
class ChangeSync {
public:
    // The parent folder of a drive-relative path: "a/b/c.txt" gives "a/b"; a top-level path,
    // "/" and "" give "".
    static QString parent(const QString &path);
};

} // namespace DriveCore
