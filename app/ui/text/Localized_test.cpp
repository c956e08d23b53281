#include "app/ui/text/Localized.hpp"

#include "platform/bundle/Bundle.hpp"

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

// The test main points the main bundle at the one the build lays out beside the program.
TEST(Localized, TheEnglishTableHoldsEveryKeyTheInterfaceUses) {
    const char* keys[] = {
        "Home.Header.ScanYourMac-Button-Label",
        "Home.Header.Stop-Button-Label",
        "Home.Header.Clean-Button-Label",
        "Home.Header.ScanStopped.Info-Label",
        "Home.Header.SelectedSize:%@",
        "Home.MainBox.ScanYourMac-Explanation",
        "Home.Footer.UsedSpace-Label: %@",
        "Home.Footer.FreeSpace-Label: %@",
        "Category.Name-Large-Files",
        "Category.Name-Junk-Files",
        "Category.Name-Old-Files",
        "FileSelector.TableHeader.Name",
        "FileSelector.TableHeader.Size",
        "FileSelector.TableHeader.LastOpened",
        "FileSelector.FailedToDelete%@",
        "FileSelector.ContextMenu.RevealInFinder",
        "cleaner.checkForUpdates",
    };
    for (const std::string key : keys) {
        const QString text = localized(key);
        EXPECT_NE(text.toStdString(), key);
        EXPECT_FALSE(text.isEmpty()) << key;
        EXPECT_EQ(text.contains("%@"), key.ends_with("%@")) << key;
        // Texts speak of the home folder and the file manager of this desktop.
        EXPECT_FALSE(text.contains("Mac")) << key;
        EXPECT_FALSE(text.contains("Finder")) << key;
    }
    EXPECT_EQ(localized("--"), "--");
    EXPECT_TRUE(velmor::Bundle::main().urlForResource("parameters-categories", "plist"));
    EXPECT_EQ(velmor::Bundle::main().bundleIdentifier(), "com.velmor.Marrowdale");
}

TEST(Localized, AnArgumentIsShownAsItStands) {
    EXPECT_EQ(localized("Home.Header.SelectedSize:%@", "1.5 MB"), "Selected: 1.5 MB");
    EXPECT_EQ(localized("FileSelector.FailedToDelete%@", "%1 <b>100%</b>\n%@"),
              QString::fromUtf8("Could not delete: %1 <b>100%</b>\uFFFD%@"));
}

} // namespace
} // namespace marrowdale
