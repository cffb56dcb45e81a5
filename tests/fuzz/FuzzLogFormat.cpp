// A log format and its arguments: field 0 is the format, field 1 "show" to show private values,
// then one field per argument, its first byte its kind: "i" a signed and "u" an unsigned 64-bit
// number, "d" a double (each 8 bytes, little-endian), "s" a text. Never throws, never reads
// past its arguments.
#include "Fuzz.h"

#include "DriveCore/support/Log.h"

#include <cstring>
#include <vector>

using namespace DriveCore;

namespace {

template<typename T>
T number(const QByteArray &bytes)
{
    T value{};
    std::memcpy(&value, bytes.constData(), std::min(sizeof value, size_t(bytes.size())));
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 10);
    std::vector<LogArg> args;
    for (qsizetype i = 2; i < input.size(); ++i) {
        const QByteArray &field = input[i];
        const QByteArray value = field.mid(1);
        switch (field.isEmpty() ? '\0' : field[0]) {
        case 'i':
            args.emplace_back(number<qint64>(value));
            break;
        case 'u':
            args.emplace_back(number<quint64>(value));
            break;
        case 'd':
            args.emplace_back(number<double>(value));
            break;
        case 's':
            args.emplace_back(Fuzz::text(value));
            break;
        default:
            break;
        }
    }
    const QByteArray format = input[0]; // ends at its NUL
    formatLogMessage(format.constData(), args, input[1] == "show");
    return 0;
}
