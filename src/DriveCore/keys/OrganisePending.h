#pragma once

#include <QString>

#include <array>
#include <optional>

namespace DriveCore {

class UserDefaults;

// The organise step that must still run for a drive that was set up but not yet organised.
class OrganiseKind {
public:
    enum Value { newDrive, existingDrive };
    static constexpr std::array<Value, 2> allCases{newDrive, existingDrive};

    constexpr OrganiseKind(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // "newDrive" or "existingDrive".
    QString rawValue() const;
    // None for any other text.
    static std::optional<OrganiseKind> fromRawValue(const QString &text);

private:
    Value m_value;
};

// The pending organise step in the user defaults, under "organisePending". It outlives setup:
// the app model's start-up finishes a recorded step before it starts the drive.
namespace OrganisePending {

inline constexpr const char *defaultsKey = "organisePending";

// None when the key holds no string, or a string that is neither raw value.
std::optional<OrganiseKind> load(const UserDefaults &defaults);
// A kind stores its raw value; none removes the key.
void save(std::optional<OrganiseKind> kind, UserDefaults &defaults);

} // namespace OrganisePending

} // namespace DriveCore
