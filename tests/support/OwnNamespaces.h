#pragma once

namespace TestSupport {

// Runs the current test again in a child of its own namespaces, for what a test may not do to
// the machine it shares: a new user namespace in which it is root (its limits, such as the
// inotify watches, are its own), and with `newPids` also a new PID namespace with its own /proc,
// in which the child is process 1 (it adopts the orphans and chooses the next process id), and
// with `newNetwork` a new network namespace, in which it holds CAP_NET_ADMIN.
enum class Namespaced {
    inside, // this is the child: the test goes on here
    ranOutside, // the child ran the test; its failures were reported here
    skippedInside, // the child skipped the test; its reason was printed here
    unavailable, // the system refused the namespaces
};
Namespaced runInOwnNamespaces(bool newPids, bool newNetwork = false);

} // namespace TestSupport

// The first statement of a test that runs in namespaces of its own: in the parent it ends the
// test (skipped where namespaces are not available), in the child it lets the test go on.
#define CORVANE_TEST_IN_OWN_NAMESPACES(...)                                                                            \
    switch (TestSupport::runInOwnNamespaces(__VA_ARGS__)) {                                                            \
    case TestSupport::Namespaced::unavailable:                                                                         \
        GTEST_SKIP() << "the namespaces this test needs are not available here";                                       \
    case TestSupport::Namespaced::skippedInside:                                                                       \
        GTEST_SKIP() << "skipped in its own namespaces (the reason is above)";                                         \
    case TestSupport::Namespaced::ranOutside:                                                                          \
        return;                                                                                                        \
    case TestSupport::Namespaced::inside:                                                                              \
        break;                                                                                                         \
    }
