#pragma once

#include <QString>

#include <array>

namespace DriveCore {

class UserDefaults;

// How the file manager sees the drive: the engine's own mount, or the file-system layer over it.
class DriveEngine {
public:
    enum Value { nfs, fskit };
    static constexpr std::array<Value, 2> allCases{nfs, fskit};
    static constexpr const char *defaultsKey = "driveEngine";

    // The file-system type of the engine's own mount in the mount table. Here the engine
    // mounts through FUSE, listed as "fuse.rclone", where elsewhere it serves NFS ("nfs").
    static constexpr const char *engineMountType = "rclone";
    // The type of the file-system layer over the engine's mount (bindfs, subtype "ovra").
    static constexpr const char *layerMountType = "ovra";

    constexpr DriveEngine(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    QString rawValue() const;

    // Only "nfs" reads as nfs; an absent or any other value is fskit.
    static DriveEngine load(const UserDefaults &defaults);
    void save(UserDefaults &defaults) const;

private:
    Value m_value;
};

} // namespace DriveCore
