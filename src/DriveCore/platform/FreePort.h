#pragma once

#include <exception>

namespace DriveCore::FreePort {

// No socket could be opened, bound or read back.
class Failure : public std::exception {
public:
    const char *what() const noexcept override { return "No free port on the loopback address."; }
};

// A TCP port on 127.0.0.1 that the system chose as free a moment ago. Throws Failure.
int find();

} // namespace DriveCore::FreePort
