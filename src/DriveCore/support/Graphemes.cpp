#include "DriveCore/support/Graphemes.h"

#include <QList>

#include <unicode/ubrk.h>

#include <memory>

namespace DriveCore::Graphemes {

namespace {

using BreakIterator = std::unique_ptr<UBreakIterator, decltype(&ubrk_close)>;

// A character-boundary iterator over the text's UTF-16, or none when ICU refuses.
BreakIterator boundaries(const QString &text)
{
    UErrorCode status = U_ZERO_ERROR;
    BreakIterator iterator(
        ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()), &status),
        &ubrk_close);
    if (U_FAILURE(status))
        iterator.reset();
    return iterator;
}

} // namespace

qsizetype count(const QString &text)
{
    if (text.isEmpty())
        return 0;
    const BreakIterator iterator = boundaries(text);
    if (!iterator)
        return text.toUcs4().size();
    qsizetype characters = 0;
    while (ubrk_next(iterator.get()) != UBRK_DONE)
        ++characters;
    return characters;
}

QString prefix(const QString &text, qsizetype limit)
{
    if (limit <= 0)
        return {};
    const BreakIterator iterator = boundaries(text);
    if (!iterator)
        return text.left(limit);
    qsizetype characters = 0;
    int32_t end = 0;
    while (characters < limit) {
        const int32_t next = ubrk_next(iterator.get());
        if (next == UBRK_DONE)
            return text;
        end = next;
        ++characters;
    }
    return text.left(end);
}

} // namespace DriveCore::Graphemes
