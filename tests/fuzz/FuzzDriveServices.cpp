// The drive services' readings of what the engine lists. Field 0 "search": field 1 is an
// "operations/list" reply, field 2 the upload queue (one path a line) and field 3 a query; the
// index holds usable paths once each, and a query of one word finds exactly the entries whose
// folded path holds it. Field 0 "trash": field 1 is a recursive listing of Recently Deleted; every
// item sits below the date folder of its day. Field 0 "conflict": field 1 is a path that may be
// a conflict copy, read back to the name it was made from. Only JsonDecodingError may come out.
#include "Fuzz.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/platform/LocalizedText.h"
#include "DriveCore/services/ConflictResolver.h"
#include "DriveCore/services/DriveSearch.h"
#include "DriveCore/services/RecentlyDeleted.h"

#include <QSet>
#include <QTimeZone>

using namespace DriveCore;

namespace {

QList<ListItem> listed(const QByteArray &json)
{
    return JsonReader(QJsonDocument::fromJson(json).object()).listOrEmpty<ListItem>(u"list");
}

bool hasSpace(const QString &text)
{
    for (const char32_t c : text.toUcs4()) {
        if (QChar::isSpace(c))
            return true;
    }
    return false;
}

void search(const QByteArray &json, const QByteArray &queue, const QByteArray &queryBytes)
{
    QList<ListItem> remote;
    try {
        remote = listed(json);
    } catch (const JsonDecodingError &) {
        return;
    }
    QStringList pending;
    for (const QByteArray &line : queue.split('\n'))
        pending.append(Fuzz::text(line));
    const QList<DriveSearchEntry> entries = DriveSearch::entries(remote, pending);
    QSet<QString> paths;
    for (const DriveSearchEntry &entry : entries) {
        FUZZ_CHECK(DriveSearch::isUsablePath(entry.path) && !paths.contains(entry.path));
        paths.insert(entry.path);
        FUZZ_CHECK(entry.name == entry.path.mid(entry.path.lastIndexOf(u'/') + 1));
        FUZZ_CHECK(!entry.modified || (entry.modified->isValid() && entry.modified->timeSpec() == Qt::UTC));
        FUZZ_CHECK(!entry.pendingUpload || (!entry.size && !entry.modified));
    }

    const QString query = Fuzz::text(queryBytes);
    const DriveSearch::Index index(entries);
    const qsizetype limit = 3;
    const DriveSearch::Results found = DriveSearch::results(index, query, limit);
    FUZZ_CHECK(found.items.size() == std::min(found.total, limit));
    for (const DriveSearchEntry &item : found.items)
        FUZZ_CHECK(paths.contains(item.path));
    if (!hasSpace(query)) {
        const QString word = LocalizedText::folded(query);
        qsizetype expected = 0;
        if (!word.isEmpty() && !word.contains(QChar(0))) {
            for (const DriveSearchEntry &entry : entries)
                expected += LocalizedText::folded(entry.path).contains(word) ? 1 : 0;
        }
        FUZZ_CHECK(found.total == expected);
    }
}

void trash(const QByteArray &json)
{
    QList<ListItem> listing;
    try {
        listing = listed(json);
    } catch (const JsonDecodingError &) {
        return;
    }
    // One zone without and one with a change of clocks at midnight.
    for (const QTimeZone &zone : {QTimeZone::utc(), QTimeZone("America/Santiago")}) {
        for (const DeletedItem &item : RecentlyDeletedService::deletedItems(listing, zone)) {
            FUZZ_CHECK(item.id == DriveLayout::dateFolder(item.deletedOn, zone) + u'/' + item.originalPath);
            const int left = item.daysLeft(item.deletedOn.addDays(3), zone);
            FUZZ_CHECK(left >= 0 && left <= 30);
        }
    }
}

void conflict(const QString &path)
{
    const std::optional<DriveConflict> read = DriveConflict::fromCopyPath(path);
    if (!read)
        return;
    FUZZ_CHECK(read->copy == path && !read->device.isEmpty() && read->original != path);
    const qsizetype slash = path.lastIndexOf(u'/');
    FUZZ_CHECK(read->original.left(slash + 1) == path.left(slash + 1));
    const auto [stem, extension] = RecentlyDeletedService::splitExtension(read->original);
    FUZZ_CHECK(path.startsWith(stem + QStringLiteral(" (conflict from ") + read->device)
               && path.endsWith(u')' + extension));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 4);
    if (input[0] == "search")
        search(input[1], input[2], input[3]);
    else if (input[0] == "trash")
        trash(input[1]);
    else if (input[0] == "conflict")
        conflict(Fuzz::text(input[1]));
    return 0;
}
