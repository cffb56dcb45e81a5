#include "KeepShared/KeepMenu.h"

#include <gtest/gtest.h>

#include <string>

using namespace KeepShared;
using KeepMenu::MenuChoice;

namespace {

const std::string precomposed = "Caf\u00e9";
const std::string decomposed = "Cafe\u0301";

} // namespace

TEST(KeepMenuTest, drivePathIsThePathBelowTheMountInComposedForm)
{
    const std::string mount = "/Users/ann/Mounts/Drive";
    struct Case {
        std::string location;
        std::string mount;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {mount + "/Docs/a.txt", mount, "Docs/a.txt"},
        {mount + "/Docs/", mount, "Docs"},
        {mount + "//Docs//a.txt", mount, "Docs/a.txt"},
        {mount + "/./Docs/../Music/b", mount, "Music/b"},
        {mount + "/Docs/a.txt", mount + "/", "Docs/a.txt"},
        {mount + "/Docs/a.txt", "/Users/ann/Mounts/./x/../Drive", "Docs/a.txt"},
        {mount, mount, std::nullopt},
        {mount + "/", mount, std::nullopt},
        {mount + "/Docs/..", mount, std::nullopt},
        {mount + "/../Drive2/a", mount, std::nullopt},
        {"/Users/ann/Mounts/Drive2/a.txt", mount, std::nullopt},
        {"/Users/ann/Mounts", mount, std::nullopt},
        {"/Users/bob/a.txt", mount, std::nullopt},
        {"Docs/a.txt", mount, std::nullopt},
        {"/Docs/a.txt", "", std::nullopt},
        // Names in either form, in the location and in the mount, give the composed form.
        {mount + "/" + decomposed + "/" + decomposed + ".txt", mount, precomposed + "/" + precomposed + ".txt"},
        {"/Users/ann/Mounts/" + decomposed + "/a", "/Users/ann/Mounts/" + precomposed, "a"},
        {"/Users/ann/Mounts/" + precomposed + "/" + decomposed, "/Users/ann/Mounts/" + decomposed, precomposed},
        {"/Users/ann/Mounts/" + precomposed + "s/a", "/Users/ann/Mounts/" + decomposed, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KeepMenu::drivePath(c.location, c.mount), c.path) << c.location << " in " << c.mount;
}

TEST(KeepMenuTest, menuChoiceFollowsTheFirstRuleThatApplies)
{
    struct Case {
        std::vector<std::string> chosen;
        std::vector<std::string> kept;
        MenuChoice choice;
    };
    const Case cases[] = {
        {{}, {"Docs"}, MenuChoice::none()},
        {{"Docs"}, {"Docs"}, MenuChoice::remove()},
        {{"Docs", "Music"}, {"Music", "Docs"}, MenuChoice::remove()},
        {{"Docs/a.txt"}, {"Work", "Docs"}, MenuChoice::keptWithFolder("Docs")},
        {{"Docs/Sub/a.txt"}, {"Docs", "Docs/Sub"}, MenuChoice::keptWithFolder("Docs")},
        {{"Archive/2019/x.pdf"}, {"Archive/2019"}, MenuChoice::keptWithFolder("2019")},
        {{"Docs/a.txt", "Docs/b.txt"}, {"Docs"}, MenuChoice::keep()},
        {{"Docs", "Music"}, {"Docs"}, MenuChoice::keep()},
        {{"Docs/a.txt"}, {"Docs/a.txt", "Docs"}, MenuChoice::remove()},
        {{"Docsx/a.txt"}, {"Docs"}, MenuChoice::keep()},
        {{"Docs"}, {"Docs/a.txt"}, MenuChoice::keep()},
        {{"Docs"}, {}, MenuChoice::keep()},
        {{decomposed}, {precomposed}, MenuChoice::remove()},
        {{precomposed + "/a.txt"}, {decomposed}, MenuChoice::keptWithFolder(precomposed)},
    };
    for (const Case &c : cases) {
        const MenuChoice choice = KeepMenu::menuChoice(c.chosen, c.kept);
        EXPECT_EQ(choice, c.choice) << ::testing::PrintToString(c.chosen) << " with kept "
                                    << ::testing::PrintToString(c.kept) << " gave kind "
                                    << static_cast<int>(choice.kind) << " " << choice.name;
    }
}
