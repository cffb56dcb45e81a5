#include "support/XvfbDisplay.h"

#include "support/StopProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

using namespace std::chrono_literals;

namespace TestSupport {

namespace {

// The screen file Xvfb keeps in its frame-buffer folder is an XWD image: a header of 25 32-bit
// fields (big-endian), the window name, the colour map, then the pixels.
QImage readXwd(const QByteArray &file)
{
    if (file.size() < 100)
        return {};
    const auto field = [&](int index) { return qFromBigEndian<quint32>(file.constData() + 4 * index); };
    const quint32 headerSize = field(0), width = field(4), height = field(5), byteOrder = field(7),
                  bitsPerPixel = field(11), bytesPerLine = field(12), redMask = field(14), greenMask = field(15),
                  blueMask = field(16), colours = field(19);
    const qsizetype start = qsizetype(headerSize) + qsizetype(colours) * 12;
    if (bitsPerPixel != 32 || start + qsizetype(bytesPerLine) * height > file.size())
        return {};
    const auto shiftOf = [](quint32 mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return shift;
    };
    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (quint32 y = 0; y < height; ++y) {
        const char *line = file.constData() + start + qsizetype(y) * bytesPerLine;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        for (quint32 x = 0; x < width; ++x) {
            const quint32 pixel = byteOrder == 0 ? qFromLittleEndian<quint32>(line + 4 * x)
                                                 : qFromBigEndian<quint32>(line + 4 * x);
            out[x] = qRgb(int((pixel & redMask) >> shiftOf(redMask)), int((pixel & greenMask) >> shiftOf(greenMask)),
                          int((pixel & blueMask) >> shiftOf(blueMask)));
        }
    }
    return image;
}

} // namespace

XvfbDisplay::XvfbDisplay() = default;

XvfbDisplay::~XvfbDisplay()
{
    stopProcess(m_server);
}

bool XvfbDisplay::start(int width, int height)
{
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    // -displayfd picks a free display and writes its number once the server listens.
    m_server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                            QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(width).arg(height),
                                            QStringLiteral("-fbdir"), m_folder.path(), QStringLiteral("-nolisten"),
                                            QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!m_server.waitForStarted(10000))
        return false;
    spinUntil([&] { return m_server.canReadLine() || m_server.state() == QProcess::NotRunning; }, 10s);
    const QString number = QString::fromUtf8(m_server.readLine()).trimmed();
    if (number.isEmpty())
        return false;
    m_display = u':' + number;
    return true;
}

QString XvfbDisplay::output()
{
    return QString::fromUtf8(m_server.readAllStandardOutput() + m_server.readAllStandardError());
}

QImage XvfbDisplay::screen() const
{
    QFile file(m_folder.filePath(QStringLiteral("Xvfb_screen0")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readXwd(file.readAll());
}

QString XvfbDisplay::saveScreenshot(const QString &name) const
{
    const QDir folder(qEnvironmentVariable("CORVANE_TEST_BINARY_DIR", QDir::currentPath()) + QStringLiteral("/screenshots"));
    if (!folder.mkpath(QStringLiteral(".")))
        return {};
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    return screen().save(path) ? path : QString();
}

std::optional<QString> XvfbDisplay::xdotool(const QStringList &arguments) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

QStringList XvfbDisplay::windows(const QString &pattern) const
{
    const std::optional<QString> found =
        xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), pattern});
    return found ? found->split(u'\n', Qt::SkipEmptyParts) : QStringList();
}

QStringList XvfbDisplay::stacking() const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-children")});
    if (!process.waitForFinished(10000))
        return {};
    // Lines such as `     0x200005 "Ovra": ("Ovra" "Ovra")  360x312+0+0  +0+0`, top first.
    QStringList ids;
    static const QRegularExpression line(QStringLiteral(R"(^\s+(0x[0-9a-f]+) )"));
    for (const QString &text : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n')) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            ids.prepend(QString::number(match.captured(1).toULongLong(nullptr, 16)));
    }
    return ids;
}

QString XvfbDisplay::awaitWindow(const QString &pattern, const QStringList &except, std::chrono::milliseconds limit) const
{
    QString id;
    spinUntil(
        [&] {
            for (const QString &window : windows(pattern))
                if (!except.contains(window)) {
                    id = window;
                    return true;
                }
            return false;
        },
        limit);
    return id;
}

} // namespace TestSupport
