#pragma once

#include <QString>
#include <QStringList>

namespace TestSupport {

// Collects the messages logged while it exists, from any thread. One at a time.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // The messages of the category "com.corvane.drive.<category>", in order.
    QStringList messages(const QString &category) const;
    // Every message, whatever its category, in order.
    QStringList messages() const;
};

} // namespace TestSupport
