#pragma once

#include <atomic>

namespace DriveCore {

// One Boolean that starts false and, once set, stays set. Set on one thread and read on another:
// the sign-out's cancel and force switches, the cache rescue's stop flag, the supervisor's "this
// engine has exited" (set from the launcher's thread). Shared by reference (std::shared_ptr).
class SetOnceFlag {
public:
    SetOnceFlag() = default;
    SetOnceFlag(const SetOnceFlag &) = delete;
    SetOnceFlag &operator=(const SetOnceFlag &) = delete;

    void set() { m_value.store(true, std::memory_order_release); }
    bool isSet() const { return m_value.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_value{false};
};

} // namespace DriveCore
