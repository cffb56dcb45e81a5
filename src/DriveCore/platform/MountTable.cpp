#include "DriveCore/platform/MountTable.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace DriveCore {

namespace {

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

std::optional<int> number(const QByteArray &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<dev_t> device(const QByteArray &text)
{
    const qsizetype colon = text.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    bool majorOK = false;
    bool minorOK = false;
    const uint major = text.left(colon).toUInt(&majorOK);
    const uint minor = text.mid(colon + 1).toUInt(&minorOK);
    if (!majorOK || !minorOK)
        return std::nullopt;
    return makedev(major, minor);
}

std::optional<MountEntry> parseLine(const QByteArray &line)
{
    // id parent major:minor root mount-point options [optional fields...] - type source super-options
    const QList<QByteArray> fields = line.split(' ');
    const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
    if (fields.size() < 6 || separator < 0 || separator + 2 >= fields.size())
        return std::nullopt;
    const auto id = number(fields[0]);
    const auto parentID = number(fields[1]);
    const auto dev = device(fields[2]);
    if (!id || !parentID || !dev)
        return std::nullopt;
    return MountEntry{
        .id = *id,
        .parentID = *parentID,
        .device = *dev,
        .root = MountTable::decodeField(fields[3]),
        .mountPoint = MountTable::decodeField(fields[4]),
        .type = MountTable::fileSystemType(MountTable::decodeField(fields[separator + 1])),
        .source = MountTable::decodeField(fields[separator + 2]),
    };
}

QString standardised(const QString &path)
{
    return QDir::cleanPath(path);
}

// The kernel lists a mount point by its resolved path. The path as given, and the same with
// its parent folder resolved (a home folder reached through a link, say); the last component
// is left as it is, since resolving it would look into the mount, which fails for a FUSE
// mount whose daemon died.
QStringList spellings(const QString &path)
{
    const QString clean = standardised(path);
    QStringList spellings{clean};
    const qsizetype slash = clean.lastIndexOf(u'/');
    if (slash <= 0 || slash == clean.size() - 1)
        return spellings;
    char resolved[PATH_MAX];
    if (::realpath(QFile::encodeName(clean.left(slash)).constData(), resolved)) {
        const QString parent = QFile::decodeName(resolved);
        const QString alternative = (parent == QLatin1String("/") ? QString() : parent) + clean.mid(slash);
        if (alternative != clean)
            spellings.append(alternative);
    }
    return spellings;
}

} // namespace

std::vector<MountEntry> MountTable::read()
{
    QFile file(QString::fromLatin1(mountInfoPath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A proc file reports no size: read until the end.
    return parse(file.readAll());
}

std::vector<MountEntry> MountTable::parse(const QByteArray &text)
{
    std::vector<MountEntry> entries;
    for (const QByteArray &line : text.split('\n')) {
        if (auto entry = parseLine(line))
            entries.push_back(std::move(*entry));
    }
    return entries;
}

QString MountTable::decodeField(const QByteArray &field)
{
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            bytes.append(char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            bytes.append(field[i]);
        }
    }
    return QString::fromUtf8(bytes);
}

QString MountTable::fileSystemType(const QString &listedType)
{
    static const QString fusePrefix = QStringLiteral("fuse.");
    if (listedType.startsWith(fusePrefix) && listedType.size() > fusePrefix.size())
        return listedType.mid(fusePrefix.size());
    return listedType;
}

QStringList MountTable::typesMountedAt(const QString &path)
{
    const QStringList wanted = spellings(path);
    QStringList types;
    for (const MountEntry &entry : read()) {
        if (wanted.contains(entry.mountPoint))
            types.append(entry.type);
    }
    return types;
}

bool MountTable::isListedMountPoint(const QString &path)
{
    const QStringList wanted = spellings(path);
    const std::vector<MountEntry> entries = read();
    return std::any_of(entries.begin(), entries.end(),
                       [&](const MountEntry &entry) { return wanted.contains(entry.mountPoint); });
}

MountTable::FreshStatus MountTable::statAfresh(const QString &path)
{
    struct statx status{};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), AT_STATX_FORCE_SYNC, STATX_BASIC_STATS, &status) != 0)
        return {.error = errno};
    return {.device = makedev(status.stx_dev_major, status.stx_dev_minor)};
}

std::optional<QString> MountTable::typeOfFileSystem(const QString &path)
{
    const FreshStatus status = statAfresh(standardised(path));
    if (status.error != 0)
        return std::nullopt;
    std::optional<QString> type;
    // Bind mounts of one file system share its device; the last listed is the one on top.
    for (const MountEntry &entry : read()) {
        if (entry.device == status.device)
            type = entry.type;
    }
    return type;
}

} // namespace DriveCore
