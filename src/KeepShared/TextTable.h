#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace KeepShared {

// The raw texts of an enum whose values run 0, 1, ... N-1, in that order: the text of a value
// and the value of a text. No Qt, so the plug-in and the drive share it.
template<typename Enum, std::size_t N>
class TextTable {
public:
    constexpr explicit TextTable(std::array<std::string_view, N> texts) : m_texts(texts) {}

    constexpr std::string_view text(Enum value) const { return m_texts[std::size_t(value)]; }

    // None for a text that is no value's.
    constexpr std::optional<Enum> value(std::string_view text) const
    {
        for (std::size_t i = 0; i < N; ++i) {
            if (m_texts[i] == text)
                return Enum(i);
        }
        return std::nullopt;
    }

private:
    std::array<std::string_view, N> m_texts;
};

} // namespace KeepShared
