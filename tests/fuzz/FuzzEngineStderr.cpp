// What the engine writes to standard error, read back through a real child process that writes
// the input there: one line per "\n" (and one for an unterminated rest), and the last five of
// them as the tail.
#include "Fuzz.h"
#include "support/TestSupport.h"

#include "DriveCore/platform/ProcessRunner.h"

#include <QFile>
#include <QTemporaryDir>

using namespace DriveCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QTemporaryDir folder;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString path = folder.filePath(QStringLiteral("stderr"));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();

    QStringList lines;
    const ProcessRunner::StreamResult result = TestSupport::await(ProcessRunner::stream(
        QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("/bin/cat -- \"$0\" >&2"), path}, {},
        [&](const QString &line) { lines.append(line); }));
    FUZZ_CHECK(result.status == 0);
    const qsizetype expected = bytes.count('\n') + (bytes.isEmpty() || bytes.endsWith('\n') ? 0 : 1);
    FUZZ_CHECK(lines.size() == expected);
    FUZZ_CHECK(result.tail == lines.mid(std::max<qsizetype>(0, lines.size() - 5)).join(u'\n'));
    FUZZ_CHECK(RcloneResult{0, {}, bytes}.stderrText() == QString::fromUtf8(bytes));
    return 0;
}
