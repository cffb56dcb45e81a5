// The plug-in as installed: `cmake --install` of its component into a temporary folder, then the
// icon theme lookup that GNOME Files does for each badge's emblem.

#include "OvraFinder/FinderSync.h"
#include "OvraFinder/Nautilus/Emblems.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class EmblemIconsTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/ovra-finder-install.XXXXXX";
        ASSERT_TRUE(g_mkdtemp(pattern));
        m_root = pattern;

        gchar **environment = g_environ_setenv(g_get_environ(), "DESTDIR", m_root.c_str(), TRUE);
        const gchar *arguments[] = {OVRA_FINDER_CMAKE, "--install",  OVRA_FINDER_BUILD_DIR,
                                    "--component",     "OvraFinder", nullptr};
        gchar *output = nullptr;
        gchar *errors = nullptr;
        gint status = 0;
        GError *error = nullptr;
        const gboolean ran = g_spawn_sync(nullptr, const_cast<gchar **>(arguments), environment, G_SPAWN_DEFAULT,
                                          nullptr, nullptr, &output, &errors, &status, &error);
        g_strfreev(environment);
        ASSERT_TRUE(ran) << error->message;
        EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << output << errors;
        g_free(output);
        g_free(errors);
    }

    void TearDown() override
    {
        if (!m_root.empty())
            fs::remove_all(m_root);
    }

    // A path as installed, below the temporary folder.
    fs::path staged(const std::string &path) const { return fs::path(m_root + path); }

    std::string m_root;
};

std::string contents(const fs::path &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

TEST_F(EmblemIconsTest, theModuleGoesToTheExtensionFolderAndEveryEmblemResolvesInTheTheme)
{
    EXPECT_TRUE(fs::is_regular_file(staged(std::string(OVRA_FINDER_EXTENSION_DIR) + "/" OVRA_FINDER_MODULE_NAME)));

    // As GNOME Files finds icons: the installed data folder first, then the system's, whose
    // hicolor index names the emblem folders.
    GtkIconTheme *theme = gtk_icon_theme_new();
    const std::string installed = staged(std::string(OVRA_FINDER_INSTALL_PREFIX) + "/share/icons").string();
    const char *searchPath[] = {installed.c_str(), "/usr/share/icons", nullptr};
    gtk_icon_theme_set_search_path(theme, searchPath);
    gtk_icon_theme_set_theme_name(theme, "hicolor");

    for (const OvraFinder::FinderSync::BadgeImage &image : OvraFinder::FinderSync::badgeTable) {
        const std::string name = OvraFinder::emblemIconName(image.badge.rawValue());
        GtkIconPaintable *icon =
            gtk_icon_theme_lookup_icon(theme, name.c_str(), nullptr, 16, 1, GTK_TEXT_DIR_LTR, GtkIconLookupFlags(0));
        GFile *file = gtk_icon_paintable_get_file(icon);
        ASSERT_TRUE(file) << name << " is not in the theme";
        gchar *found = g_file_get_path(file);
        const fs::path path(found ? found : "");
        g_free(found);
        g_object_unref(file);
        g_object_unref(icon);

        EXPECT_EQ(path.parent_path(), fs::path(installed) / "hicolor/scalable/emblems") << name;
        // The label describes the image; the colour is the badge's.
        const std::string svg = contents(path);
        EXPECT_NE(svg.find("<title>" + std::string(image.label) + "</title>"), std::string::npos) << name;
        EXPECT_NE(svg.find(std::string(image.colour)), std::string::npos) << name;
    }
    g_object_unref(theme);
}
