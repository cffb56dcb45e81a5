#include "DriveCore/services/DriveSearch.h"

#include "DriveCore/platform/LocalizedText.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"
#include "KeepShared/CanonicalText.h"
#include "KeepShared/KeepMenu.h"

#include <QDir>
#include <QHash>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <vector>

namespace DriveCore::DriveSearch {

namespace {

const Log log("search");

QString composed(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    std::string storage;
    const std::string_view form = KeepShared::CanonicalText::composed({utf8.constData(), size_t(utf8.size())}, storage);
    return form.data() == utf8.constData() ? text : QString::fromUtf8(form.data(), qsizetype(form.size()));
}

QString lastComponent(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// Reads `count` ASCII digits at `at`; -1 when they are not all digits.
int digits(QStringView text, qsizetype at, qsizetype count)
{
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// An internet date-time ("2026-12-09T10:08:29Z", "2026-12-09T10:08:29.123456789+01:00"), with or
// without fractional seconds; none for anything else.
std::optional<QDateTime> internetDate(QStringView text)
{
    if (text.size() < 20 || text[4] != u'-' || text[7] != u'-' || text[10] != u'T' || text[13] != u':'
        || text[16] != u':')
        return std::nullopt;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (std::min({year, month, day, hour, minute, second}) < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    int milliseconds = 0;
    qsizetype at = 19;
    if (text[at] == u'.') {
        const qsizetype start = ++at;
        while (at < text.size() && text[at] >= u'0' && text[at] <= u'9')
            ++at;
        if (at == start)
            return std::nullopt;
        // Milliseconds from the first three digits, the rest dropped.
        for (qsizetype i = start; i < start + 3; ++i)
            milliseconds = milliseconds * 10 + (i < at ? text[i].unicode() - u'0' : 0);
    }
    const QTime time(hour, minute, second, milliseconds);
    if (!date.isValid() || !time.isValid() || at >= text.size())
        return std::nullopt;
    int offsetSeconds = 0;
    const QStringView zone = text.mid(at);
    if (zone != u"Z") {
        if (zone.size() != 6 || (zone[0] != u'+' && zone[0] != u'-') || zone[3] != u':')
            return std::nullopt;
        const int hours = digits(zone, 1, 2), minutes = digits(zone, 4, 2);
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (zone[0] == u'-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    }
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

// The words of a query: split at white space, where marks that follow a space belong to it.
QStringList words(const QString &query)
{
    QStringList found;
    QString word;
    bool afterSpace = false;
    for (qsizetype i = 0; i < query.size();) {
        const char32_t c = query.at(i).isHighSurrogate() && i + 1 < query.size() && query.at(i + 1).isLowSurrogate()
            ? QChar::surrogateToUcs4(query.at(i), query.at(i + 1))
            : query.at(i).unicode();
        const qsizetype length = c > 0xFFFF ? 2 : 1;
        if (QChar::isSpace(c) || (afterSpace && u_hasBinaryProperty(UChar32(c), UCHAR_GRAPHEME_EXTEND))) {
            afterSpace = true;
            if (!word.isEmpty())
                found.append(std::exchange(word, {}));
        } else {
            afterSpace = false;
            word.append(QStringView(query).mid(i, length));
        }
        i += length;
    }
    if (!word.isEmpty())
        found.append(word);
    return found;
}

// Finds one folded word in the prepared text. Eight positions at a time where SSE2 is there:
// those whose first and last code units match are then compared whole.
class WordFinder {
public:
    explicit WordFinder(QString word)
        : m_word(std::move(word)), m_units(reinterpret_cast<const char16_t *>(m_word.utf16()))
    {
    }
    WordFinder(WordFinder &&other) noexcept
        : m_word(std::move(other.m_word)), m_units(reinterpret_cast<const char16_t *>(m_word.utf16()))
    {
    }
    WordFinder &operator=(WordFinder &&other) noexcept
    {
        m_word = std::move(other.m_word);
        m_units = reinterpret_cast<const char16_t *>(m_word.utf16());
        return *this;
    }

    qsizetype size() const { return m_word.size(); }

    // The first position in [from, to) where the whole word lies, or -1.
    qsizetype find(const char16_t *text, qsizetype from, qsizetype to) const
    {
        const qsizetype length = m_word.size();
        const char16_t *word = m_units;
        const char16_t first = word[0], last = word[length - 1];
        qsizetype at = from;
#if defined(__SSE2__)
        const __m128i firsts = _mm_set1_epi16(short(first)), lasts = _mm_set1_epi16(short(last));
        for (; at + length - 1 + 8 <= to; at += 8) {
            const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at));
            const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at + length - 1));
            unsigned mask = unsigned(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(starts, firsts), _mm_cmpeq_epi16(ends, lasts))));
            while (mask) {
                // Two mask bits per code unit.
                const int bit = std::countr_zero(mask);
                const qsizetype candidate = at + bit / 2;
                if (length <= 2 || std::equal(word + 1, word + length - 1, text + candidate + 1))
                    return candidate;
                mask &= ~(3u << bit);
            }
        }
#endif
        for (; at + length <= to; ++at) {
            if (text[at] == first && text[at + length - 1] == last
                && (length <= 2 || std::equal(word + 1, word + length - 1, text + at + 1)))
                return at;
        }
        return -1;
    }

private:
    QString m_word;
    const char16_t *m_units; // m_word's, kept so that a find does not ask Qt for them
};

// The upload queue; an engine without one (upstream rclone has no "vfs/queue") has nothing
// waiting, and the listing alone makes the index.
QCoro::Task<QStringList> waitingUploads(RCClient rc, QString fs, CancelToken token)
{
    try {
        co_return co_await rc.queuedUploads(fs, token);
    } catch (const RCError &error) {
        if (error.status != 404 || !error.message.startsWith(u"couldn't find method"))
            throw;
        log.info("The engine keeps no upload queue; searching its listing alone: %{public}s", error.description());
    }
    co_return QStringList();
}

int comparePlain(const QString &a, const QString &b)
{
    return u_strCompare(reinterpret_cast<const UChar *>(a.utf16()), int32_t(a.size()),
                        reinterpret_cast<const UChar *>(b.utf16()), int32_t(b.size()), true);
}

} // namespace

// Every entry's folded path, each followed by a NUL (which no word holds) and, only when its
// name is not the path's last component, the folded name and another NUL.
struct Index::Data {
    struct Span {
        qsizetype pathStart, pathEnd, nameStart, nameEnd, keyStart, keyEnd;
    };

    QList<DriveSearchEntry> entries;
    QString folded;
    std::vector<Span> spans;
    QByteArray nameKeys; // LocalizedText sort keys, one after the other
};

Index::Index() : m_data(std::make_shared<const Data>()) {}

Index::Index(QList<DriveSearchEntry> entries)
{
    auto data = std::make_shared<Data>();
    data->spans.reserve(size_t(entries.size()));
    // Siblings come together in a listing, so a folder's folded form is reused.
    QStringView parent;
    QString foldedParent;
    for (const DriveSearchEntry &entry : entries) {
        const qsizetype slash = entry.path.lastIndexOf(u'/');
        const QStringView entryParent = QStringView(entry.path).left(std::max<qsizetype>(slash, 0));
        if (entryParent != parent || data->spans.empty()) {
            parent = entryParent;
            foldedParent = LocalizedText::folded(parent.toString());
        }
        // Folding maps characters one at a time and "/" to itself, so the path folds part by part.
        const QString last = entry.path.mid(slash + 1);
        const QString foldedLast = LocalizedText::folded(last);
        Data::Span span;
        span.pathStart = data->folded.size();
        if (slash >= 0)
            data->folded += foldedParent + u'/';
        span.nameStart = data->folded.size();
        data->folded += foldedLast;
        span.pathEnd = span.nameEnd = data->folded.size();
        data->folded += QChar(0);
        if (entry.name != last) {
            span.nameStart = data->folded.size();
            data->folded += LocalizedText::folded(entry.name);
            span.nameEnd = data->folded.size();
            data->folded += QChar(0);
        }
        span.keyStart = data->nameKeys.size();
        data->nameKeys += LocalizedText::sortKey(entry.name);
        span.keyEnd = data->nameKeys.size();
        data->spans.push_back(span);
    }
    data->folded.squeeze();
    data->nameKeys.squeeze();
    data->entries = std::move(entries);
    m_data = std::move(data);
}

const QList<DriveSearchEntry> &Index::entries() const
{
    return m_data->entries;
}

bool Index::operator==(const Index &other) const
{
    return m_data == other.m_data || m_data->entries == other.m_data->entries;
}

bool isUsablePath(QStringView path)
{
    if (path.isEmpty() || path.startsWith(u'/') || path.contains(QChar(0)))
        return false;
    for (const QStringView component : path.tokenize(u'/')) {
        if (component.isEmpty() || component == u"." || component == u"..")
            return false;
    }
    return true;
}

QList<DriveSearchEntry> entries(const QList<ListItem> &remote, const QStringList &pending)
{
    QList<DriveSearchEntry> list;
    QHash<QString, qsizetype> position;
    list.reserve(remote.size() + pending.size());
    position.reserve(remote.size() + pending.size());
    const auto store = [&](DriveSearchEntry entry) {
        const auto found = position.constFind(entry.path);
        if (found != position.constEnd()) {
            list[*found] = std::move(entry);
        } else {
            position.insert(entry.path, list.size());
            list.append(std::move(entry));
        }
    };
    for (const ListItem &item : remote) {
        if (!isUsablePath(item.Path))
            continue;
        const QString path = composed(item.Path);
        store({path, lastComponent(path), item.IsDir, item.IsDir ? std::nullopt : std::optional(item.Size),
               internetDate(item.ModTime), false});
    }
    for (const QString &waiting : pending) {
        if (!isUsablePath(waiting))
            continue;
        const QString path = composed(waiting);
        store({path, lastComponent(path), false, std::nullopt, std::nullopt, true});
    }
    return list;
}

Results results(const Index &index, const QString &query, qsizetype limit)
{
    std::vector<WordFinder> finders;
    for (const QString &word : words(query)) {
        QString folded = LocalizedText::folded(word);
        // An empty word is contained in nothing; paths hold no NUL.
        if (folded.isEmpty() || folded.contains(QChar(0)))
            return {};
        finders.emplace_back(std::move(folded));
    }
    if (finders.empty())
        return {};
    // The longest word rules out the most, so it alone scans the whole index.
    std::sort(finders.begin(), finders.end(),
              [](const WordFinder &a, const WordFinder &b) { return a.size() > b.size(); });

    const Index::Data &data = *index.m_data;
    const char16_t *text = reinterpret_cast<const char16_t *>(data.folded.utf16());
    const qsizetype end = data.folded.size();
    const auto &spans = data.spans;
    const auto holdsAll = [&](qsizetype from, qsizetype to, size_t first) {
        return std::all_of(finders.begin() + qsizetype(first), finders.end(),
                           [&](const WordFinder &finder) { return finder.find(text, from, to) >= 0; });
    };

    struct Match {
        qsizetype entry;
        std::string_view nameKey;
        bool nameHoldsAll;
    };
    std::vector<Match> matches;
    const auto nameKey = [&](const Index::Data::Span &span) {
        return std::string_view(data.nameKeys.constData() + span.keyStart, size_t(span.keyEnd - span.keyStart));
    };
    for (qsizetype at = 0, entry = 0; at < end;) {
        const qsizetype found = finders.front().find(text, at, end);
        if (found < 0)
            break;
        // The entry whose part of the text holds the find: finds are usually close together,
        // so gallop forward from the last one, then halve.
        qsizetype step = 1;
        while (entry + step < qsizetype(spans.size()) && spans[size_t(entry + step)].pathStart <= found) {
            entry += step;
            step *= 2;
        }
        entry = std::upper_bound(
                    spans.begin() + entry, spans.begin() + std::min(entry + step, qsizetype(spans.size())), found,
                    [](qsizetype position, const Index::Data::Span &span) { return position < span.pathStart; })
            - spans.begin() - 1;
        const Index::Data::Span &span = spans[size_t(entry)];
        if (found + finders.front().size() <= span.pathEnd && holdsAll(span.pathStart, span.pathEnd, 1))
            matches.push_back({entry, nameKey(span), holdsAll(span.nameStart, span.nameEnd, 0)});
        ++entry;
        at = entry < qsizetype(spans.size()) ? spans[size_t(entry)].pathStart : end;
    }

    Results results;
    results.total = qsizetype(matches.size());
    const qsizetype shown = std::clamp<qsizetype>(limit, 0, results.total);
    // The entry number last keeps the order of equal entries, as a stable sort would.
    std::partial_sort(matches.begin(), matches.begin() + shown, matches.end(), [&](const Match &a, const Match &b) {
        if (a.nameHoldsAll != b.nameHoldsAll)
            return a.nameHoldsAll;
        if (const int order = a.nameKey.compare(b.nameKey))
            return order < 0;
        if (const int order = comparePlain(data.entries[a.entry].path, data.entries[b.entry].path))
            return order < 0;
        return a.entry < b.entry;
    });
    results.items.reserve(shown);
    for (qsizetype i = 0; i < shown; ++i)
        results.items.append(data.entries[matches[size_t(i)].entry]);
    return results;
}

std::optional<QUrl> revealURL(const QString &path, const QUrl &mount)
{
    if (!isUsablePath(path) || !mount.isLocalFile())
        return std::nullopt;
    const QString mountPath = mount.toLocalFile();
    const QString location = QDir::cleanPath(mountPath + u'/' + path);
    const std::optional<std::string> drivePath =
        KeepShared::KeepMenu::drivePath(location.toStdString(), mountPath.toStdString());
    if (!drivePath || QString::fromStdString(*drivePath) != path)
        return std::nullopt;
    return QUrl::fromLocalFile(location);
}

QCoro::Task<QList<DriveSearchEntry>> searchListing(RCClient rc, CancelToken token)
{
    const QString fs = QString::fromLatin1(RCClient::mountFs);
    LinkedCancelSource requests(token);
    QCoro::Task<QList<ListItem>> listing = rc.list(fs, QString(), true, requests.token());
    QCoro::Task<QStringList> queue = waitingUploads(rc, fs, requests.token());
    // The queue answers within seconds, the listing may take long: a failed queue stops it.
    // The first failure is the one reported; the listing's, after the cancel, follows it.
    const QStringList pending = co_await cleanupOnFailure(std::move(queue), [&]() -> QCoro::Task<> {
        requests.cancel();
        co_await listing;
    });
    QList<ListItem> remote = co_await listing;
    co_return co_await runInPool(
        [remote = std::move(remote), pending = std::move(pending)] { return entries(remote, pending); });
}

QCoro::Task<> refreshSearchIndex(SearchRefreshing &model, CancelToken token)
{
    if (!model.online())
        throw AppModelError(offlineText);
    const std::optional<RCClient> rc = model.rc();
    const std::optional<DriveSettings> settings = model.settings();
    if (!model.supervisorRunning() || !rc || !settings || model.isChangingDrive() || model.signingOut())
        throw AppModelError(notConnectedText);
    const int port = rc->port();
    const QUuid deviceID = settings->deviceID;

    QList<DriveSearchEntry> found = co_await model.searchListing(*rc, token);
    Index index = co_await runInPool([found = std::move(found)]() mutable { return Index(std::move(found)); });

    // The drive may have stopped, restarted, been switched or begun signing out meanwhile.
    checkCancelled(token);
    const std::optional<RCClient> current = model.rc();
    const std::optional<DriveSettings> currentSettings = model.settings();
    if (!model.supervisorRunning() || !current || current->port() != port || !currentSettings
        || currentSettings->deviceID != deviceID || model.signingOut())
        throw CancelledError();
    model.setSearchIndex(std::move(index));
    model.setSearchIndexedAt(model.now());
}

} // namespace DriveCore::DriveSearch
