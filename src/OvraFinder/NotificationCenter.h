#pragma once

#include <functional>
#include <optional>
#include <string_view>

namespace OvraFinder {

// The notifications shared with the application: named broadcasts that carry a text or nothing.
// Handlers run on the thread that drives FinderSync.
class NotificationCenter {
public:
    // Gets the notification's text, or nothing when it carried none (or something else).
    using Handler = std::function<void(std::optional<std::string_view> object)>;

    virtual ~NotificationCenter() = default;

    // Calls `handler` for every notification of this name from any sender, until the centre goes.
    virtual void addObserver(std::string_view name, Handler handler) = 0;
    virtual void post(std::string_view name, std::optional<std::string_view> object) = 0;
};

} // namespace OvraFinder
