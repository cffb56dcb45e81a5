// Drive paths and the Keep command: field 0 a location, field 1 a mount folder, then chosen
// paths up to an empty field, then kept paths. A drive path is relative and without empty, "."
// or ".." components; the command is none only for no paths.
#include "Fuzz.h"

#include "KeepShared/KeepMenu.h"

#include <string>
#include <vector>

using namespace KeepShared;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 64);
    const std::string location = input[0].toStdString();
    const std::string mount = input[1].toStdString();
    if (const std::optional<std::string> path = KeepMenu::drivePath(location, mount)) {
        FUZZ_CHECK(!path->empty() && !path->starts_with('/') && !path->ends_with('/'));
        FUZZ_CHECK(path->find("//") == std::string::npos);
        for (const std::string_view bad : {"./", "../"})
            FUZZ_CHECK(!path->starts_with(bad) && path->find("/" + std::string(bad)) == std::string::npos);
        FUZZ_CHECK(*path != "." && *path != ".." && !path->ends_with("/.") && !path->ends_with("/.."));
    }

    std::vector<std::string> paths;
    std::vector<std::string> pins;
    bool choosing = true;
    for (qsizetype i = 2; i < input.size(); ++i) {
        if (choosing && input[i].isEmpty()) {
            choosing = false;
            continue;
        }
        (choosing ? paths : pins).push_back(input[i].toStdString());
    }
    const KeepMenu::MenuChoice choice = KeepMenu::menuChoice(paths, pins);
    using Kind = KeepMenu::MenuChoice::Kind;
    FUZZ_CHECK((choice.kind == Kind::none) == paths.empty());
    if (choice.kind == Kind::keptWithFolder)
        FUZZ_CHECK(paths.size() == 1 && choice.name.find('/') == std::string::npos);
    return 0;
}
