#include "FolderDialog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "TestFiles.h"

namespace tamrel {
namespace {

class FolderDialogTest : public ::testing::Test {
protected:
    FolderDialogTest() {
        QDir(QString::fromStdString(dir.path())).mkpath("music_/inner");
        QDir(QString::fromStdString(dir.path())).mkpath(".hidden");
        dialog.open();
    }
    QString Path(const char* name) const { return QString::fromStdString(dir / name); }
    test::TempDir dir;
    BrowseForFolderDialog dialog;
};

TEST_F(FolderDialogTest, OpensAtItsFirstSizeWithItsTitle) {
    EXPECT_EQ(dialog.windowTitle(), "Browse for Folder");
    EXPECT_EQ(dialog.size(), QSize(358, 313));
    EXPECT_EQ(dialog.minimumSize(), QSize(358, 313));
    EXPECT_TRUE(dialog.isSizeGripEnabled());
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_EQ(dialog.ChosenPath(), QDir::cleanPath(QDir::homePath()));
}

TEST_F(FolderDialogTest, OkGivesTheFolderWithoutTrailingSeparatorAndTheRootWithOne) {
    ASSERT_TRUE(dialog.SelectPath(Path("music_/")));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ChosenPath(), Path("music_"));

    BrowseForFolderDialog root;
    root.open();
    ASSERT_TRUE(root.SelectPath("/"));
    QTest::keyClick(&root, Qt::Key_Return);
    EXPECT_EQ(root.result(), QDialog::Accepted);
    EXPECT_EQ(root.ChosenPath(), "/");
}

TEST_F(FolderDialogTest, CancelAndEscapeCancel) {
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    BrowseForFolderDialog other;
    other.open();
    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_EQ(other.result(), QDialog::Rejected);
    EXPECT_FALSE(other.isVisible());
}

TEST_F(FolderDialogTest, HiddenFoldersAreListedAndTheButtonsFollowTheSelection) {
    EXPECT_TRUE(dialog.SelectPath(Path(".hidden")));
    EXPECT_TRUE(dialog.CreateFolderButton()->isEnabled());
    EXPECT_TRUE(dialog.DeleteButton()->isEnabled());
    ASSERT_TRUE(dialog.SelectPath(QDir::homePath()));
    EXPECT_TRUE(dialog.CreateFolderButton()->isEnabled());
    EXPECT_FALSE(dialog.DeleteButton()->isEnabled());  // the tree's first item
    EXPECT_FALSE(dialog.SelectPath(Path("no-such-folder")));
}

TEST_F(FolderDialogTest, CreateFolderMakesANewFolderInTheSelectedOne) {
    ASSERT_TRUE(dialog.SelectPath(Path("music_")));
    QTest::mouseClick(dialog.CreateFolderButton(), Qt::LeftButton);
    EXPECT_TRUE(QDir(Path("music_/New Folder")).exists());
    EXPECT_EQ(dialog.ChosenPath(), Path("music_/New Folder"));
    dialog.CreateFolder();
    EXPECT_TRUE(QDir(Path("music_/New Folder/New Folder")).exists());
}

}  // namespace
}  // namespace tamrel
