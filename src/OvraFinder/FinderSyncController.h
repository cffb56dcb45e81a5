#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace OvraFinder {

// The file manager's side of the plug-in. Items and folders are absolute paths. Called only from
// the thread that drives FinderSync.
class FinderSyncController {
public:
    virtual ~FinderSyncController() = default;

    // Shows the badge with this identifier on the item; the empty identifier clears its badge.
    virtual void setBadgeIdentifier(std::string_view identifier, const std::string &item) = 0;
    // The folders whose items the file manager asks badges for, replacing the previous ones.
    virtual void setDirectoryURLs(const std::vector<std::string> &folders) = 0;
    // The chosen items in the order they were chosen; nothing when the file manager has none.
    virtual std::optional<std::vector<std::string>> selectedItemURLs() = 0;
};

} // namespace OvraFinder
