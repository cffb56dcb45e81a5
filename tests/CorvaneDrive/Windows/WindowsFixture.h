#pragma once

#include "DriveCore/support/Tasks.h"
#include "support/ManualSleeps.h"
#include "support/TestSupport.h"

#include <QList>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

namespace WindowsFixture {

using TestSupport::ManualSleeps;

// A door that a fake's call waits at until the test opens it.
class Door {
public:
    QCoro::Task<> pass()
    {
        ++m_waiting;
        while (!m_open)
            co_await qCoro(&m_waker, &DriveCore::detail::Waker::fired);
        --m_waiting;
    }
    void open()
    {
        m_open = true;
        m_waker.fire();
    }
    int waiting() const { return m_waiting; }

private:
    bool m_open = false;
    int m_waiting = 0;
    DriveCore::detail::Waker m_waker;
};

using TestSupport::settle;

} // namespace WindowsFixture
