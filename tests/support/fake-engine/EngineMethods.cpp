#include "support/fake-engine/EngineMethods.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QStorageInfo>

#include <algorithm>

namespace TestSupport {

namespace {

QString string(const QJsonObject &params, const QString &key)
{
    const QJsonValue value = params.value(key);
    if (value.isUndefined())
        throw MethodFailure{400, QStringLiteral("Didn't find key \"%1\" in input").arg(key)};
    if (!value.isString())
        throw MethodFailure{400, QStringLiteral("key \"%1\": expecting string value").arg(key)};
    return value.toString();
}

bool option(const QJsonObject &params, const QString &key)
{
    return params.value(QStringLiteral("opt")).toObject().value(key).toBool();
}

QJsonObject item(const QFileInfo &info, const QString &path)
{
    return {
        {QStringLiteral("Path"), path},
        {QStringLiteral("Name"), info.fileName()},
        {QStringLiteral("Size"), info.isDir() ? -1 : info.size()},
        {QStringLiteral("MimeType"), info.isDir() ? QStringLiteral("inode/directory") : QStringLiteral("application/octet-stream")},
        {QStringLiteral("ModTime"), info.lastModified().toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("IsDir"), info.isDir()},
    };
}

QString joined(const QString &folder, const QString &name)
{
    return folder.isEmpty() ? name : folder + u'/' + name;
}

void listInto(QJsonArray &list, const QString &folder, const QString &remote, bool recurse)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString path = joined(remote, entry.fileName());
        list.append(item(entry, path));
        if (recurse && entry.isDir())
            listInto(list, entry.filePath(), path, recurse);
    }
}

QStringList filesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

qint64 bytesOf(const QStringList &files)
{
    qint64 bytes = 0;
    for (const QString &file : files)
        bytes += QFileInfo(file).size();
    return bytes;
}

void requireFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw MethodFailure{404, QStringLiteral("object not found")};
}

void requireFolder(const QString &path)
{
    if (!QFileInfo(path).isDir())
        throw MethodFailure{404, QStringLiteral("directory not found")};
}

void moveOrCopy(const QString &source, const QString &target, bool move)
{
    QDir().mkpath(QFileInfo(target).path());
    QFile::remove(target);
    const bool done = move ? QFile::rename(source, target) : QFile::copy(source, target);
    if (!done)
        throw MethodFailure{500, QStringLiteral("failed to %1 %2").arg(move ? u"move" : u"copy", source)};
}

void removeEmptyFolders(const QString &folder)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        removeEmptyFolders(entry.filePath());
        QDir().rmdir(entry.filePath());
    }
}

} // namespace

EngineMethods::EngineMethods(QString mountFs) : m_mountFs(std::move(mountFs))
{
    const auto fixed = [](QJsonObject reply) { return [reply](const QJsonObject &) { return reply; }; };
    m_methods = {
        {QStringLiteral("core/version"), fixed({{QStringLiteral("version"), QStringLiteral("v1.99.0-fake")},
                                                {QStringLiteral("decomposed"), QJsonArray{1, 99, 0}},
                                                {QStringLiteral("os"), QStringLiteral("linux")},
                                                {QStringLiteral("arch"), QStringLiteral("amd64")}})},
        {QStringLiteral("core/pid"), fixed({{QStringLiteral("pid"), QCoreApplication::applicationPid()}})},
        {QStringLiteral("core/stats"), fixed({{QStringLiteral("bytes"), 0},
                                              {QStringLiteral("errors"), 0},
                                              {QStringLiteral("transfers"), 0},
                                              {QStringLiteral("eta"), QJsonValue::Null}})},
        {QStringLiteral("core/transferred"), fixed({{QStringLiteral("transferred"), QJsonArray{}}})},
        {QStringLiteral("vfs/list"), [this](const QJsonObject &) {
             return QJsonObject{{QStringLiteral("vfses"), QJsonArray{m_mountFs}}};
         }},
        {QStringLiteral("vfs/stats"), [this](const QJsonObject &p) { return vfsStats(p); }},
        {QStringLiteral("vfs/queue"), [this](const QJsonObject &p) {
             checkVfs(p);
             return QJsonObject{{QStringLiteral("queue"), QJsonArray{}}};
         }},
        {QStringLiteral("vfs/forget"), [this](const QJsonObject &p) { return forget(p); }},
        {QStringLiteral("vfs/pins"), [this](const QJsonObject &p) { return pins(p); }},
        {QStringLiteral("vfs/pin"), [this](const QJsonObject &p) { return pin(p); }},
        {QStringLiteral("vfs/unpin"), [this](const QJsonObject &p) { return unpin(p); }},
        {QStringLiteral("vfs/pin-scan"), [this](const QJsonObject &p) {
             checkVfs(p);
             return QJsonObject{};
         }},
        {QStringLiteral("operations/list"), [this](const QJsonObject &p) { return list(p); }},
        {QStringLiteral("operations/stat"), [this](const QJsonObject &p) { return stat(p); }},
        {QStringLiteral("operations/copyfile"), [this](const QJsonObject &p) { return transfer(p, false); }},
        {QStringLiteral("operations/movefile"), [this](const QJsonObject &p) { return transfer(p, true); }},
        {QStringLiteral("operations/deletefile"), [this](const QJsonObject &p) { return deleteFile(p); }},
        {QStringLiteral("operations/purge"), [this](const QJsonObject &p) { return purge(p); }},
        {QStringLiteral("operations/size"), [this](const QJsonObject &p) { return size(p); }},
        {QStringLiteral("sync/move"), [this](const QJsonObject &p) { return syncMove(p); }},
    };
}

QJsonObject EngineMethods::call(const QString &method, const QJsonObject &params)
{
    const auto found = m_methods.find(method);
    if (found == m_methods.end())
        throw MethodFailure{404, QStringLiteral("couldn't find method \"%1\"").arg(method)};
    return found->second(params);
}

QString EngineMethods::root(const QString &fs) const
{
    const qsizetype colon = fs.indexOf(u':');
    if (fs.startsWith(u'/') || colon < 0)
        return fs;
    if (fs.left(colon) != QLatin1String("drivecrypt"))
        throw MethodFailure{500, QStringLiteral("didn't find section in config file")};
    const QString bucket = m_scenario.value(QStringLiteral("bucket")).toString();
    if (bucket.isEmpty())
        throw MethodFailure{500, QStringLiteral("fake engine: the scenario names no bucket folder")};
    return QDir::cleanPath(bucket + u'/' + fs.mid(colon + 1));
}

QString EngineMethods::path(const QJsonObject &params, const QString &fsKey, const QString &remoteKey) const
{
    const QString fs = string(params, fsKey);
    return QDir::cleanPath(root(fs) + u'/' + string(params, remoteKey));
}

void EngineMethods::checkVfs(const QJsonObject &params) const
{
    const QJsonValue fs = params.value(QStringLiteral("fs"));
    if (!fs.isUndefined() && fs.toString() != m_mountFs)
        throw MethodFailure{500, QStringLiteral("no VFS found with name \"%1\"").arg(fs.toString())};
}

QJsonObject EngineMethods::list(const QJsonObject &params) const
{
    const QString folder = path(params, QStringLiteral("fs"), QStringLiteral("remote"));
    if (!QFileInfo(folder).isDir())
        throw MethodFailure{404, QStringLiteral("error in ListJSON: directory not found")};
    QJsonArray list;
    listInto(list, folder, string(params, QStringLiteral("remote")), option(params, QStringLiteral("recurse")));
    return {{QStringLiteral("list"), list}};
}

QJsonObject EngineMethods::stat(const QJsonObject &params) const
{
    const QFileInfo info(path(params, QStringLiteral("fs"), QStringLiteral("remote")));
    if (!info.exists() || (info.isDir() && option(params, QStringLiteral("filesOnly"))))
        return {{QStringLiteral("item"), QJsonValue::Null}};
    return {{QStringLiteral("item"), item(info, string(params, QStringLiteral("remote")))}};
}

QJsonObject EngineMethods::transfer(const QJsonObject &params, bool move) const
{
    const QString source = path(params, QStringLiteral("srcFs"), QStringLiteral("srcRemote"));
    const QString target = path(params, QStringLiteral("dstFs"), QStringLiteral("dstRemote"));
    requireFile(source);
    moveOrCopy(source, target, move);
    return {};
}

QJsonObject EngineMethods::deleteFile(const QJsonObject &params) const
{
    const QString file = path(params, QStringLiteral("fs"), QStringLiteral("remote"));
    requireFile(file);
    QFile::remove(file);
    return {};
}

QJsonObject EngineMethods::purge(const QJsonObject &params) const
{
    const QString folder = path(params, QStringLiteral("fs"), QStringLiteral("remote"));
    requireFolder(folder);
    QDir(folder).removeRecursively();
    return {};
}

QJsonObject EngineMethods::size(const QJsonObject &params) const
{
    const QString folder = root(string(params, QStringLiteral("fs")));
    requireFolder(folder);
    const QStringList files = filesUnder(folder);
    return {{QStringLiteral("count"), files.size()}, {QStringLiteral("bytes"), bytesOf(files)}, {QStringLiteral("sizeless"), 0}};
}

QJsonObject EngineMethods::syncMove(const QJsonObject &params) const
{
    const QString source = root(string(params, QStringLiteral("srcFs")));
    const QString target = root(string(params, QStringLiteral("dstFs")));
    requireFolder(source);
    for (const QString &file : filesUnder(source))
        moveOrCopy(file, target + u'/' + QDir(source).relativeFilePath(file), true);
    if (params.value(QStringLiteral("deleteEmptySrcDirs")).toBool())
        removeEmptyFolders(source);
    return {};
}

QJsonObject EngineMethods::vfsStats(const QJsonObject &params)
{
    checkVfs(params);
    QJsonObject diskCache{{QStringLiteral("uploadsInProgress"), 0},
                          {QStringLiteral("uploadsQueued"), 0},
                          {QStringLiteral("erroredFiles"), 0},
                          {QStringLiteral("bytesUsed"), 0},
                          {QStringLiteral("files"), 0}};
    const QJsonObject figures = m_scenario.value(QStringLiteral("diskCache")).toObject();
    for (auto it = figures.begin(); it != figures.end(); ++it)
        diskCache.insert(it.key(), it.value());
    // Uploads draining over time: one count per call, the last one repeated.
    const QJsonArray pending = m_scenario.value(QStringLiteral("pendingUploads")).toArray();
    if (!pending.isEmpty())
        diskCache.insert(QStringLiteral("uploadsQueued"), pending.at(std::min(m_vfsStatsCalls++, pending.size() - 1)));
    QJsonObject reply{{QStringLiteral("fs"), m_mountFs}, {QStringLiteral("diskCache"), diskCache}};
    if (m_scenario.contains(QStringLiteral("trash")))
        reply.insert(QStringLiteral("trash"), m_scenario.value(QStringLiteral("trash")));
    return reply;
}

QJsonObject EngineMethods::forget(const QJsonObject &params) const
{
    checkVfs(params);
    QJsonArray forgotten;
    for (auto it = params.begin(); it != params.end(); ++it) {
        if (it.key() != QLatin1String("fs"))
            forgotten.append(it.value());
    }
    return {{QStringLiteral("forgotten"), forgotten}};
}

QJsonObject EngineMethods::pins(const QJsonObject &params) const
{
    checkVfs(params);
    QJsonArray pins;
    for (const QString &pinned : m_pins) {
        const QFileInfo info(root(m_mountFs) + u'/' + pinned);
        const QStringList files = info.isDir() ? filesUnder(info.filePath()) : QStringList{info.filePath()};
        const qint64 bytes = bytesOf(files);
        pins.append(QJsonObject{{QStringLiteral("path"), pinned},
                                {QStringLiteral("isDir"), info.isDir()},
                                {QStringLiteral("files"), files.size()},
                                {QStringLiteral("filesDone"), files.size()},
                                {QStringLiteral("bytes"), bytes},
                                {QStringLiteral("bytesDone"), bytes},
                                {QStringLiteral("state"), QStringLiteral("done")}});
    }
    return {{QStringLiteral("pins"), pins}, {QStringLiteral("state"), QStringLiteral("done")}};
}

static QStringList paths(const QJsonObject &params)
{
    const QJsonValue value = params.value(QStringLiteral("paths"));
    if (!value.isArray())
        throw MethodFailure{400, QStringLiteral("Didn't find key \"paths\" in input")};
    QStringList paths;
    for (const QJsonValue &path : value.toArray())
        paths.append(path.toString());
    return paths;
}

QJsonObject EngineMethods::pin(const QJsonObject &params)
{
    checkVfs(params);
    for (const QString &path : paths(params)) {
        if (!m_pins.contains(path))
            m_pins.append(path);
    }
    const qint64 free = QStorageInfo(root(m_mountFs)).bytesAvailable();
    return {{QStringLiteral("needed"), 0}, {QStringLiteral("free"), free}, {QStringLiteral("notEnoughSpace"), false}};
}

QJsonObject EngineMethods::unpin(const QJsonObject &params)
{
    checkVfs(params);
    for (const QString &path : paths(params))
        m_pins.removeAll(path);
    return {{QStringLiteral("freed"), 0}};
}

} // namespace TestSupport
