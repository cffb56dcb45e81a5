#pragma once

#include "DriveCore/support/UserError.h"

#include <QString>

namespace DriveCore {

// An error that carries the text shown to the user and prints as it. A component names its
// own kind with a tag of its own, so each is a type apart:
//     using Problem = UserTextError<struct MountFolderProblemTag>;
template<typename Tag>
class UserTextError : public UserError {
public:
    explicit UserTextError(const QString &description) : UserError(description), description(description) {}
    bool operator==(const UserTextError &other) const { return description == other.description; }

    QString description;
};

} // namespace DriveCore
