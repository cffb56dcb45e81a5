// The kernel's process and mount files, as the platform layer reads them. Field 0 "mountinfo":
// field 1 is a mount table; each entry, written back in the kernel's form, reads as itself. Field 0 "cmdline": field 1
// is a command line, whose arguments joined the kernel's way read as themselves. Field 0 "stat": fields 1 and 2 are a
// process's stat and status files; what reads is written back in their form and reads as itself. Field 0 "routes":
// field 1 is a netlink route dump, each way out of a route taking at least one next hop's bytes.
#include "Fuzz.h"

#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/ProcessListing.h"
#include "DriveCore/platform/RouteTable.h"

#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <sys/sysmacros.h>

using namespace DriveCore;

namespace {

// The kernel's escape of a mountinfo field: white space and "\" as three octal digits.
QByteArray escaped(const QString &field)
{
    QByteArray out;
    for (const char c : field.toUtf8()) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\')
            out += '\\' + QByteArray::number(uint8_t(c), 8).rightJustified(3, '0');
        else
            out += c;
    }
    return out;
}

QByteArray mountLine(const MountEntry &entry)
{
    return QByteArray::number(entry.id) + ' ' + QByteArray::number(entry.parentID) + ' '
        + QByteArray::number(major(entry.device)) + ':' + QByteArray::number(minor(entry.device)) + ' '
        + escaped(entry.root) + ' ' + escaped(entry.mountPoint) + " rw shared:1 - " + escaped(entry.type) + ' '
        + escaped(entry.source) + " rw";
}

void mountTable(const QByteArray &text)
{
    const std::vector<MountEntry> entries = MountTable::parse(text);
    FUZZ_CHECK(qsizetype(entries.size()) <= text.count('\n') + 1);
    for (const MountEntry &entry : entries) {
        // A "fuse." type is read as its subtype, so it does not read as itself again.
        if (!entry.type.startsWith(QLatin1String("fuse.")))
            FUZZ_CHECK(MountTable::parse(mountLine(entry)) == std::vector<MountEntry>{entry});
    }
}

void commandLine(const QByteArray &bytes)
{
    const QStringList arguments = ProcessListing::arguments(bytes);
    FUZZ_CHECK(arguments.size() == bytes.count('\0') + (bytes.isEmpty() || bytes.endsWith('\0') ? 0 : 1));
    QByteArray joined;
    for (const QString &argument : arguments)
        joined += argument.toUtf8() + '\0';
    FUZZ_CHECK(ProcessListing::arguments(joined) == arguments);
}

void processStatus(const QByteArray &stat, const QByteArray &status)
{
    const std::optional<ProcessStatus> read = ProcessListing::parseStatus(42, stat, status);
    if (!read)
        return;
    FUZZ_CHECK(read->pid == 42 && read->state != ' ');
    const QByteArray statText = "42 (" + read->name.toUtf8() + ") " + QByteArray(1, read->state) + ' '
        + QByteArray::number(read->parent) + " 42 42 0 -1\n";
    const QByteArray statusText = "Name:\tx\nUid:\t" + QByteArray::number(read->uid) + "\t0\t0\t0\n";
    FUZZ_CHECK(ProcessListing::parseStatus(42, statText, statusText) == read);
}

void routeDump(const QByteArray &bytes)
{
    const std::vector<Route> routes = RouteTable::parse(bytes);
    FUZZ_CHECK(qsizetype(routes.size()) <= bytes.size() / qsizetype(sizeof(rtnexthop)));
    for (const Route &route : routes)
        FUZZ_CHECK(route.family == AF_INET || route.family == AF_INET6);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    if (input[0] == "mountinfo") {
        mountTable(input[1]);
    } else if (input[0] == "cmdline") {
        commandLine(input[1]);
    } else if (input[0] == "stat") {
        const QList<QByteArray> files =
            Fuzz::fields(reinterpret_cast<const uint8_t *>(input[1].constData()), size_t(input[1].size()), 2);
        processStatus(files[0], files[1]);
    } else if (input[0] == "routes") {
        routeDump(input[1]);
    }
    return 0;
}
