#pragma once

#include "DriveCore/support/UserError.h"

#include <QString>

namespace DriveCore {

// The error every user action of the app model throws: the exact text the window shows.
class AppModelError : public UserError {
public:
    explicit AppModelError(const QString &message) : UserError(message), message(message) {}

    // The message unchanged.
    const QString &description() const { return message; }

    bool operator==(const AppModelError &other) const { return message == other.message; }

    QString message;
};

} // namespace DriveCore
