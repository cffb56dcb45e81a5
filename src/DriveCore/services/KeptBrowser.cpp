#include "DriveCore/services/KeptBrowser.h"

#include "DriveCore/platform/LocalizedText.h"
#include "DriveCore/support/Saturating.h"

#include <algorithm>
#include <string>
#include <vector>

namespace DriveCore::KeptBrowser {

namespace {

struct SortText {
    Sort sort;
    const char16_t *text;
};

constexpr SortText sortTexts[] = {
    {Sort::name, u"Name"},
    {Sort::size, u"Size"},
    {Sort::folder, u"Folder"},
};

// What the comparator reads of one row, worked out once.
struct Key {
    const PinStatus *row;
    qsizetype input; // the row's place in the input, the last tie-break
    QString name;
    QString folder;
    std::u32string path; // compared by code point
};

// Composed first: canonically equivalent names and paths compare equal.
Key keyOf(const PinStatus &row, qsizetype input)
{
    const QString composed = row.path.normalized(QString::NormalizationForm_C);
    const qsizetype slash = composed.lastIndexOf(u'/');
    return {&row, input, composed.mid(slash + 1), slash < 0 ? QString() : composed.left(slash),
            composed.toStdU32String()};
}

bool nameBefore(const Key &a, const Key &b)
{
    if (const int names = LocalizedText::compare(a.name, b.name))
        return names < 0;
    if (a.path != b.path)
        return a.path < b.path;
    return a.input < b.input;
}

} // namespace

QList<Sort> allSorts()
{
    QList<Sort> sorts;
    for (const SortText &entry : sortTexts)
        sorts.append(entry.sort);
    return sorts;
}

QString text(Sort sort)
{
    for (const SortText &entry : sortTexts) {
        if (entry.sort == sort)
            return QString::fromUtf16(entry.text);
    }
    return {};
}

std::optional<Sort> sort(const QString &text)
{
    for (const SortText &entry : sortTexts) {
        if (text == QStringView(entry.text))
            return entry.sort;
    }
    return std::nullopt;
}

QList<PinStatus> items(const QList<PinStatus> &rows, const QString &query, Sort sort)
{
    const QString trimmed = query.trimmed();
    // Folded once, as LocalizedText::contains would fold it for every row.
    const QString needle = LocalizedText::folded(trimmed);
    const auto shows = [&](const PinStatus &row) {
        return trimmed.isEmpty() || (!needle.isEmpty() && LocalizedText::folded(row.path).contains(needle));
    };
    std::vector<Key> keys;
    keys.reserve(std::size_t(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (shows(rows[i]))
            keys.push_back(keyOf(rows[i], i));
    }

    std::sort(keys.begin(), keys.end(), [sort](const Key &a, const Key &b) {
        if (sort == Sort::size && a.row->bytes != b.row->bytes)
            return a.row->bytes > b.row->bytes;
        if (sort == Sort::folder) {
            if (const int folders = LocalizedText::compare(a.folder, b.folder))
                return folders < 0;
        }
        return nameBefore(a, b);
    });

    QList<PinStatus> shown;
    shown.reserve(qsizetype(keys.size()));
    for (const Key &key : keys)
        shown.append(*key.row);
    return shown;
}

QStringList actionPaths(const QString &clicked, const QSet<QString> &checked, const QStringList &visible)
{
    if (!visible.contains(clicked))
        return {};
    if (!checked.contains(clicked))
        return {clicked};
    QStringList paths;
    for (const QString &path : visible) {
        if (checked.contains(path))
            paths.append(path);
    }
    return paths;
}

qint64 localBytes(const QList<PinStatus> &rows)
{
    qint64 bytes = 0;
    for (const PinStatus &row : KeepOnMac::outermost(rows))
        bytes = saturatingSum(bytes, std::max<qint64>(row.bytesDone, 0));
    return bytes;
}

} // namespace DriveCore::KeptBrowser
