#pragma once

#include <QString>

#include <stdexcept>

namespace DriveCore {

// The error every user action of the app model throws: the exact text the window shows.
class AppModelError : public std::runtime_error {
public:
    explicit AppModelError(const QString &message)
        : std::runtime_error(message.toStdString()), message(message) {}

    // The message unchanged.
    const QString &description() const { return message; }

    bool operator==(const AppModelError &other) const { return message == other.message; }

    QString message;
};

} // namespace DriveCore
