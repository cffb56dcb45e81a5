#include "KeepShared/CanonicalText.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace KeepShared::CanonicalText {

namespace {

const icu::Normalizer2 &nfc()
{
    static const icu::Normalizer2 *const instance = [] {
        UErrorCode error = U_ZERO_ERROR;
        const icu::Normalizer2 *normalizer = icu::Normalizer2::getNFCInstance(error);
        if (U_FAILURE(error) || !normalizer)
            throw std::runtime_error("Unicode normalisation data is missing");
        return normalizer;
    }();
    return *instance;
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string_view composed(std::string_view text, std::string &storage)
{
    // Most paths are ASCII, which is its own composed form; skip ICU for them.
    if (isAscii(text) || text.size() > static_cast<std::size_t>(INT32_MAX))
        return text;
    const icu::StringPiece piece(text.data(), static_cast<int32_t>(text.size()));
    UErrorCode error = U_ZERO_ERROR;
    if (nfc().isNormalizedUTF8(piece, error) && U_SUCCESS(error))
        return text;
    storage.clear();
    error = U_ZERO_ERROR;
    icu::StringByteSink<std::string> sink(&storage, static_cast<int32_t>(text.size()));
    nfc().normalizeUTF8(0, piece, sink, nullptr, error);
    if (U_FAILURE(error))
        return text;
    return storage;
}

std::string composed(std::string_view text)
{
    std::string storage;
    return std::string(composed(text, storage));
}

bool equal(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    std::string storageA, storageB;
    return composed(a, storageA) == composed(b, storageB);
}

bool equal(const std::vector<std::string> &a, const std::vector<std::string> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const std::string &x, const std::string &y) { return equal(x, y); });
}

} // namespace KeepShared::CanonicalText
