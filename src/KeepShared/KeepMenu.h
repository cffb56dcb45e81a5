#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The path rule and the Keep command of the file manager's context menu, shared by the application
// and the plug-in so both come to the same answer.
namespace KeepShared::KeepMenu {

// The menu rule's answer.
struct MenuChoice {
    enum class Kind {
        keptWithFolder, // the one chosen item lies inside a kept folder, named by `name`
        keep,
        remove,
        none,
    };

    Kind kind;
    std::string name; // last component of the kept folder; only for keptWithFolder

    static MenuChoice keptWithFolder(std::string name) { return {Kind::keptWithFolder, std::move(name)}; }
    static MenuChoice keep() { return {Kind::keep, {}}; }
    static MenuChoice remove() { return {Kind::remove, {}}; }
    static MenuChoice none() { return {Kind::none, {}}; }

    bool operator==(const MenuChoice &other) const;
};

// The drive-relative path of an absolute path: below `mount`, no leading or trailing "/", in
// composed form. Both are standardised lexically ("." and ".." resolved, repeated "/" dropped)
// first. Nothing for the mount folder itself, for anything outside it (a sibling "Drive2" is
// outside "Drive") and for paths that are not absolute.
std::optional<std::string> drivePath(std::string_view location, std::string_view mount);

// The Keep command for the chosen drive-relative paths, given the kept paths of their mount in
// the order they were posted.
MenuChoice menuChoice(const std::vector<std::string> &paths, const std::vector<std::string> &pins);

} // namespace KeepShared::KeepMenu
