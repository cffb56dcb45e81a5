#include "CorvaneDrive/Settings/KeptFilesPresenter.h"

#include "DriveCore/platform/ByteCountFormat.h"
#include "DriveCore/services/DriveSearch.h"

namespace CorvaneDrive {

using DriveCore::ByteCountFormat::fileSize;
namespace KeptBrowser = DriveCore::KeptBrowser;

QString KeptFilesPresenter::summary(const QList<PinStatus> &all)
{
    return QStringLiteral("%1 %2 · %3 downloaded")
        .arg(all.size())
        .arg(all.size() == 1 ? QStringLiteral("item") : QStringLiteral("items"))
        .arg(fileSize(KeptBrowser::localBytes(all)));
}

QString KeptFilesPresenter::status(const PinStatus &item)
{
    const QString done = fileSize(item.bytesDone);
    if (item.state == u"done")
        return QStringLiteral("Available offline");
    if (item.state == u"missing")
        return QStringLiteral("Not found in drive");
    if (item.state == u"offline")
        return QStringLiteral("Waiting for internet · %1 downloaded").arg(done);
    if (item.state == u"lowSpace")
        return QStringLiteral("Low disk space · %1 downloaded").arg(done);
    return QStringLiteral("%1 downloaded").arg(done);
}

std::optional<QString> KeptFilesPresenter::statusIconName(const PinStatus &item)
{
    if (item.state == u"done")
        return std::nullopt;
    if (item.state == u"downloading")
        return QStringLiteral("folder-download");
    return QStringLiteral("dialog-warning");
}

QString KeptFilesPresenter::kindIconName(const PinStatus &item)
{
    return item.isDir ? QStringLiteral("folder") : QStringLiteral("text-x-generic");
}

QString KeptFilesPresenter::name(const QString &path)
{
    return path.section(u'/', -1);
}

QString KeptFilesPresenter::checkAccessibleName(const QString &path)
{
    return QStringLiteral("Select ") + name(path);
}

std::optional<KeptFilesPresenter::EmptyState> KeptFilesPresenter::emptyState(qsizetype allCount, qsizetype visibleCount)
{
    if (allCount == 0) {
        return EmptyState{
            QStringLiteral("Nothing kept yet"), QStringLiteral("drive-harddisk"),
            QStringLiteral("In GNOME Files, right-click a file or folder in Ovra and choose Keep on This Computer.")};
    }
    if (visibleCount == 0)
        return EmptyState{QStringLiteral("No matching items"), QStringLiteral("edit-find"),
                          QStringLiteral("Try another name or folder.")};
    return std::nullopt;
}

QList<QUrl> KeptFilesPresenter::revealURLs(const QStringList &paths, const std::optional<QString> &mountPath)
{
    QList<QUrl> urls;
    if (!mountPath)
        return urls;
    const QUrl mount = QUrl::fromLocalFile(*mountPath);
    for (const QString &path : paths)
        if (const std::optional<QUrl> url = DriveCore::DriveSearch::revealURL(path, mount))
            urls << *url;
    return urls;
}

void KeptFilesPresenter::setItems(QList<PinStatus> items)
{
    const QSet<QString> before = allPaths();
    m_all = std::move(items);
    const QSet<QString> after = allPaths();
    if (after != before)
        narrowTo(after);
}

void KeptFilesPresenter::setQuery(QString query)
{
    if (query == m_query)
        return;
    m_query = std::move(query);
    const QStringList shown = visiblePaths();
    narrowTo(QSet<QString>(shown.begin(), shown.end()));
}

void KeptFilesPresenter::setChecked(const QString &path, bool checked)
{
    if (checked)
        m_selection.insert(path);
    else
        m_selection.remove(path);
}

void KeptFilesPresenter::setAllChecked(bool checked)
{
    if (!checked) {
        m_selection.clear();
        return;
    }
    const QStringList shown = visiblePaths();
    m_selection = QSet<QString>(shown.begin(), shown.end());
}

void KeptFilesPresenter::setWorking(bool working)
{
    m_working = working;
    if (!working)
        narrowTo(allPaths());
}

QList<DriveCore::PinStatus> KeptFilesPresenter::visible() const
{
    return KeptBrowser::items(m_all, m_query, m_sort);
}

QStringList KeptFilesPresenter::visiblePaths() const
{
    QStringList paths;
    for (const PinStatus &item : visible())
        paths << item.path;
    return paths;
}

QStringList KeptFilesPresenter::selectedPaths() const
{
    QStringList paths;
    for (const QString &path : visiblePaths())
        if (m_selection.contains(path))
            paths << path;
    return paths;
}

bool KeptFilesPresenter::allChecked() const
{
    const qsizetype shown = visible().size();
    return shown > 0 && selectedPaths().size() == shown;
}

bool KeptFilesPresenter::canCheckAll() const
{
    return !visible().isEmpty() && !m_working;
}

QString KeptFilesPresenter::footerText() const
{
    const qsizetype count = selectedPaths().size();
    return count == 0 ? noSelectionText : QStringLiteral("%1 selected").arg(count);
}

bool KeptFilesPresenter::actionsMenuEnabled() const
{
    return !selectedPaths().isEmpty() && !m_working;
}

QStringList KeptFilesPresenter::contextPaths(const QString &clicked) const
{
    return KeptBrowser::actionPaths(clicked, m_selection, visiblePaths());
}

KeptFilesPresenter::Actions KeptFilesPresenter::actions(const QStringList &paths, bool hasMount,
                                                        bool changingDrive) const
{
    return {.paths = paths,
            .canShow = !paths.isEmpty() && hasMount,
            .canStopKeeping = canStopKeeping(paths, changingDrive)};
}

bool KeptFilesPresenter::canStopKeeping(const QStringList &paths, bool changingDrive) const
{
    return !paths.isEmpty() && !m_working && !changingDrive;
}

QSet<QString> KeptFilesPresenter::allPaths() const
{
    QSet<QString> paths;
    for (const PinStatus &item : m_all)
        paths.insert(item.path);
    return paths;
}

void KeptFilesPresenter::narrowTo(const QSet<QString> &paths)
{
    m_selection.intersect(paths);
}

} // namespace CorvaneDrive
