#include "KeepShared/KeepMenu.h"

#include "KeepShared/CanonicalText.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>

namespace KeepShared::KeepMenu {

namespace {

// "/" followed by the components, without ".", ".." (which takes the one before it away) and
// empty ones; nothing for a path that is not absolute.
std::optional<std::string> standardised(std::string_view path)
{
    if (!path.starts_with('/'))
        return std::nullopt;
    std::vector<std::string_view> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view component = path.substr(start, end - start);
        if (component == "..") {
            if (!components.empty())
                components.pop_back();
        } else if (!component.empty() && component != ".") {
            components.push_back(component);
        }
        start = end + 1;
    }
    if (components.empty())
        return "/";
    std::string result;
    for (std::string_view component : components) {
        result += '/';
        result += component;
    }
    return result;
}

std::string_view lastComponent(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

bool MenuChoice::operator==(const MenuChoice &other) const
{
    return kind == other.kind && (kind != Kind::keptWithFolder || CanonicalText::equal(name, other.name));
}

std::optional<std::string> drivePath(std::string_view location, std::string_view mount)
{
    const std::optional<std::string> standardLocation = standardised(location);
    const std::optional<std::string> standardMount = standardised(mount);
    if (!standardLocation || !standardMount)
        return std::nullopt;
    const std::string path = CanonicalText::composed(*standardLocation);
    const std::string prefix = CanonicalText::composed(*standardMount) + '/';
    // The standard form has no empty components, so what follows the prefix has no "/" at either
    // end, and is empty only for the mount folder itself.
    if (path.size() <= prefix.size() || !path.starts_with(prefix))
        return std::nullopt;
    return path.substr(prefix.size());
}

MenuChoice menuChoice(const std::vector<std::string> &paths, const std::vector<std::string> &pins)
{
    if (paths.empty())
        return MenuChoice::none();

    std::vector<std::string> kept;
    kept.reserve(pins.size());
    std::transform(pins.begin(), pins.end(), std::back_inserter(kept),
                   [](const std::string &pin) { return CanonicalText::composed(pin); });

    const std::unordered_set<std::string_view> keptSet(kept.begin(), kept.end());
    if (std::all_of(paths.begin(), paths.end(),
                    [&](const std::string &path) { return keptSet.contains(CanonicalText::composed(path)); }))
        return MenuChoice::remove();

    if (paths.size() == 1) {
        const std::string chosen = CanonicalText::composed(paths.front());
        // Any kept path counts as a folder here: the keep state does not say which are folders.
        for (const std::string &keptPath : kept) {
            if (chosen.size() > keptPath.size() && chosen.starts_with(keptPath) && chosen[keptPath.size()] == '/')
                return MenuChoice::keptWithFolder(std::string(lastComponent(keptPath)));
        }
    }
    return MenuChoice::keep();
}

} // namespace KeepShared::KeepMenu
