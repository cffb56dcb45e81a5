#pragma once

#include <string>
#include <string_view>

namespace OvraFinder {

// The emblem that stands for a badge identifier. The file manager draws an emblem "x" with the
// theme's icon "emblem-x"; the prefix keeps an icon theme's own "emblem-cloud" from replacing ours.
inline std::string emblemName(std::string_view identifier)
{
    return "corvane-drive-" + std::string(identifier);
}

// The icon name of that emblem, as installed in the hicolor theme.
inline std::string emblemIconName(std::string_view identifier)
{
    return "emblem-" + emblemName(identifier);
}

} // namespace OvraFinder
