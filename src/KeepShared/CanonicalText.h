#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text equality of the Keep library: canonically equivalent texts (a precomposed and a decomposed
// accented letter) are equal. Comparing the composed forms (NFC) byte for byte gives exactly that.
namespace KeepShared::CanonicalText {

// The composed form (NFC). Bytes that are not valid UTF-8 pass through unchanged.
std::string composed(std::string_view text);

// The composed form without copying when `text` already is one; otherwise it is written into
// `storage`, which the result then points into.
std::string_view composed(std::string_view text, std::string &storage);

bool equal(std::string_view a, std::string_view b);
// Element by element, in order.
bool equal(const std::vector<std::string> &a, const std::vector<std::string> &b);

} // namespace KeepShared::CanonicalText
