#pragma once

#include <QString>
#include <QtGlobal>

namespace CorvaneDrive {

// The last screen before the drive is made: the name it gets and the cache size, chosen with a
// slider of whole gigabytes from 5 to the largest the free space allows.
class NameAndCachePresenter {
public:
    static inline const QString title = QStringLiteral("Your Ovra drive");
    static inline const QString note = QStringLiteral(
        "Files you open are kept here so they open instantly next time. Older ones are cleared automatically.");
    // The slider's name for a screen reader; on screen the text above it says what it sets.
    static inline const QString sliderName = QStringLiteral("Cache size");
    static inline const QString finishTitle = QStringLiteral("Finish Setup");
    static constexpr qint64 minCacheGB = 5;

    // "It will appear in your file manager as “<name>”."
    static QString appearsText(const QString &driveName);
    // "Space on this computer for recently opened files: <gb> GB"
    static QString cacheText(qint64 gb);
    // A slider end's label: "<gb> GB".
    static QString sliderLabel(qint64 gb);
    // Without room to choose (a largest size of 5) there is no slider.
    static bool showsSlider(qint64 maxCacheGB);
};

} // namespace CorvaneDrive
