#include "DriveCore/drive/SupervisorTools.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/platform/Crypto.h"

#include <QDir>
#include <QFile>

namespace DriveCore {

namespace {

constexpr qint64 tailBytes = 65'536;

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case u'\n':
    case u'\v':
    case u'\f':
    case u'\r':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

QStringView trimmedOfBlanks(QStringView line)
{
    while (!line.isEmpty() && (line.front() == u' ' || line.front() == u'\t'))
        line = line.mid(1);
    while (!line.isEmpty() && (line.back() == u' ' || line.back() == u'\t'))
        line.chop(1);
    return line;
}

} // namespace

QString SupervisorTools::randomPassword()
{
    return QString::fromLatin1(Crypto::randomBytes(32).toHex());
}

std::optional<QString> SupervisorTools::lastNonEmptyLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    if (size > tailBytes)
        file.seek(size - tailBytes);
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return std::nullopt;
    const QString text = QString::fromUtf8(bytes);
    // Walk back from the end: the first piece with more than blanks is the answer.
    qsizetype end = text.size();
    while (end > 0) {
        qsizetype start = end;
        while (start > 0 && !isLineBreak(text[start - 1]))
            --start;
        const QStringView line = trimmedOfBlanks(QStringView(text).mid(start, end - start));
        if (!line.isEmpty())
            return line.toString();
        end = start - 1;
    }
    return std::nullopt;
}

std::optional<QString> SupervisorTools::allowedMountPath(const std::optional<QString> &driveName)
{
    if (!driveName || driveName->isEmpty() || *driveName == QLatin1String(".") || *driveName == QLatin1String("..")
        || driveName->contains(u'/') || driveName->contains(QChar(u'\0')))
        return std::nullopt;
    return DriveLayout::mountPath(*driveName);
}

QStringList SupervisorTools::allowedMountPaths(const std::optional<DriveSettings> &settings)
{
    QStringList paths;
    if (!settings)
        return paths;
    if (const auto mountPath = allowedMountPath(settings->driveName))
        paths.append(*mountPath);
    paths.append(DriveLayout::backingPath(settings->deviceID));
    return paths;
}

QCoro::Task<> SupervisorTools::forceUnmount(std::shared_ptr<ProcessLaunching> launcher,
                                            std::optional<DriveSettings> settings, QString path)
{
    const QString wanted = QDir::cleanPath(path);
    for (const QString &allowed : allowedMountPaths(settings)) {
        if (QDir::cleanPath(allowed) == wanted) {
            co_await launcher->unmount(allowed, true);
            co_return;
        }
    }
    throw UnmountRefused(QStringLiteral("Refusing to unmount ") + path
                         + QStringLiteral(": not this drive's mount path"));
}

} // namespace DriveCore
