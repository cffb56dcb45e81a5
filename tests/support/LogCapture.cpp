#include "support/LogCapture.h"

#include <QtGlobal>

#include <mutex>
#include <utility>
#include <vector>

namespace TestSupport {

namespace {

std::mutex lock;
std::vector<std::pair<QString, QString>> captured; // category, message
QtMessageHandler previous = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        std::lock_guard guard(lock);
        captured.emplace_back(QString::fromUtf8(context.category), message);
    }
    if (previous)
        previous(type, context, message);
}

} // namespace

LogCapture::LogCapture()
{
    std::lock_guard guard(lock);
    captured.clear();
    previous = qInstallMessageHandler(capture);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    std::lock_guard guard(lock);
    captured.clear();
}

QStringList LogCapture::messages(const QString &category) const
{
    const QString name = QStringLiteral("com.corvane.drive.") + category;
    std::lock_guard guard(lock);
    QStringList messages;
    for (const auto &[messageCategory, message] : captured) {
        if (messageCategory == name)
            messages.append(message);
    }
    return messages;
}

QStringList LogCapture::messages() const
{
    std::lock_guard guard(lock);
    QStringList messages;
    for (const auto &entry : captured)
        messages.append(entry.second);
    return messages;
}

} // namespace TestSupport
