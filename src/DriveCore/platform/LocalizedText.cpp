#include "DriveCore/platform/LocalizedText.h"

#include <QLocale>

#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

namespace DriveCore::LocalizedText {

namespace {

// A read-only view of the text's UTF-16, without a copy.
icu::UnicodeString unicode(const QString &text)
{
    return icu::UnicodeString(false, reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()));
}

// One collator per thread: ICU collators must not be used by two threads at once.
icu::Collator *collator()
{
    thread_local const std::unique_ptr<icu::Collator> instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const QByteArray name = QLocale().bcp47Name().toLatin1();
        std::unique_ptr<icu::Collator> made(
            icu::Collator::createInstance(icu::Locale::forLanguageTag(name.constData(), status), status));
        if (U_FAILURE(status) || !made) {
            status = U_ZERO_ERROR;
            made.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        if (made) {
            // Tertiary strength weighs case only where letters and accents tie.
            made->setStrength(icu::Collator::TERTIARY);
            made->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
            made->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
        }
        return made;
    }();
    return instance.get();
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

int compare(const QString &a, const QString &b)
{
    if (icu::Collator *c = collator()) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result = c->compare(unicode(a), unicode(b), status);
        if (U_SUCCESS(status) && result != UCOL_EQUAL)
            return result;
    }
    return sign(QString::compare(a, b));
}

QByteArray sortKey(const QString &text)
{
    // compare() settles at the tertiary level, then by UTF-16 code units: the tertiary key, its
    // terminating zero, then the code units big-endian order the same way.
    QByteArray key;
    if (icu::Collator *c = collator()) {
        const icu::UnicodeString source = unicode(text);
        key.resize(64);
        int32_t length = c->getSortKey(source, reinterpret_cast<uint8_t *>(key.data()), int32_t(key.size()));
        if (length > key.size()) {
            key.resize(length);
            length = c->getSortKey(source, reinterpret_cast<uint8_t *>(key.data()), length);
        }
        key.resize(length);
    }
    key.reserve(key.size() + 2 * text.size());
    for (const QChar unit : text) {
        key.append(char(unit.unicode() >> 8));
        key.append(char(unit.unicode() & 0xFF));
    }
    return key;
}

QString folded(const QString &text)
{
    // Plain ASCII decomposes to itself and has no marks: folding is lower-casing.
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; })) {
        QString lower = text;
        for (QChar &c : lower) {
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() + 0x20);
        }
        return lower;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2 *nfkd = icu::Normalizer2::getNFKDInstance(status);
    if (U_FAILURE(status))
        return text.toCaseFolded();
    icu::UnicodeString decomposed = nfkd->normalize(unicode(text), status);
    if (U_FAILURE(status))
        return text.toCaseFolded();
    icu::UnicodeString kept;
    for (int32_t i = 0; i < decomposed.length();) {
        const UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK)
            kept.append(c);
        i += U16_LENGTH(c);
    }
    kept.foldCase();
    return QString(reinterpret_cast<const QChar *>(kept.getBuffer()), kept.length());
}

bool contains(const QString &text, const QString &part)
{
    const QString needle = folded(part);
    return !needle.isEmpty() && folded(text).contains(needle);
}

} // namespace DriveCore::LocalizedText
