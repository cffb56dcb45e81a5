#pragma once

#include "DriveCore/services/KeepOnMac.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The logic of the kept-files list in settings: which rows show and in which order, which paths
// an action applies to, and the space the kept items take here. Pure functions.
namespace DriveCore::KeptBrowser {

enum class Sort {
    name, // last path component
    size, // total size, largest first
    folder, // the folder the item lies in
};

// name, size, folder.
QList<Sort> allSorts();
// "Name", "Size", "Folder": what the screen shows and stores.
QString text(Sort sort);
// The order of exactly one of those texts; none for anything else.
std::optional<Sort> sort(const QString &text);

// The rows whose path contains the trimmed query (case- and accent-blind, in the user's locale;
// every row for a blank query), sorted in `sort` order. Rows the order cannot tell apart keep
// their input order.
QList<PinStatus> items(const QList<PinStatus> &rows, const QString &query, Sort sort);

// The paths an action on the row at `clicked` applies to: none when it is not visible; the
// clicked path alone when it is not checked; else every visible checked path in visible order.
QStringList actionPaths(const QString &clicked, const QSet<QString> &checked, const QStringList &visible);

// The bytes the kept items use here: rows inside another kept folder count through the folder;
// negative figures count 0, and the sum stops at the top of the range instead of wrapping.
qint64 localBytes(const QList<PinStatus> &rows);

} // namespace DriveCore::KeptBrowser
