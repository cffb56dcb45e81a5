#pragma once

#include <QByteArray>

#include <tuple>
#include <vector>

namespace TestSupport {

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

    void set(const char *name, const QByteArray &value)
    {
        save(name);
        qputenv(name, value);
    }
    void unset(const char *name)
    {
        save(name);
        qunsetenv(name);
    }
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            const auto &[name, value, wasSet] = *it;
            wasSet ? qputenv(name, value) : qunsetenv(name);
        }
    }

private:
    void save(const char *name) { m_saved.emplace_back(name, qgetenv(name), qEnvironmentVariableIsSet(name)); }

    std::vector<std::tuple<const char *, QByteArray, bool>> m_saved;
};

} // namespace TestSupport
