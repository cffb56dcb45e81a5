#pragma once

#include <atomic>

namespace DriveCore {

// One Boolean that starts false and, once set, stays set. Set on one thread and polled on
// another: the sign-out's cancel and force switches, the cache rescue's stop flag. Shared by
// reference (std::shared_ptr).
class CancelFlag {
public:
    CancelFlag() = default;
    CancelFlag(const CancelFlag &) = delete;
    CancelFlag &operator=(const CancelFlag &) = delete;

    void set() { m_value.store(true, std::memory_order_seq_cst); }
    bool isSet() const { return m_value.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_value{false};
};

} // namespace DriveCore
