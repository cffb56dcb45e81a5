#pragma once

#include <QObject>

class QSocketNotifier;

namespace DriveCore {

// SIGTERM and SIGINT as a main-thread signal: the handler only writes to an eventfd, which the
// event loop watches. One instance per process; it restores the previous handlers when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the eventfd or a handler could not be set up (the signals then end the
    // process as usual).
    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void terminateRequested();

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace DriveCore
