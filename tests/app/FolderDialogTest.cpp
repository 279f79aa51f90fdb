#include "FolderDialog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "RecordingPrompts.h"
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
    // The dialog's paths are Qt's, with "/" on every system.
    QString Path(const char* name) const {
        return QDir::fromNativeSeparators(QString::fromStdString(dir / name));
    }
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
    ASSERT_TRUE(root.SelectPath(QDir::rootPath()));  // "/", or "C:/" on Windows
    QTest::keyClick(&root, Qt::Key_Return);
    EXPECT_EQ(root.result(), QDialog::Accepted);
    EXPECT_EQ(root.ChosenPath(), QDir::rootPath());
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

TEST(FolderDialogBoxes, DeleteAsksFirstAndFailuresAreSaid) {
    test::TempDir dir;
    const QString base = QDir::fromNativeSeparators(QString::fromStdString(dir.path()));
    // What the boxes say: paths with the system's separators.
    auto shown = [&](const QString& below) {
        return QDir::toNativeSeparators(base + below).toStdString();
    };
    QDir(base).mkpath("keep");
    QDir(base).mkpath("gone/inner");
    test::RecordingPrompts::Shared shared;
    test::RecordingPrompts prompts(shared);
    BrowseForFolderDialog dialog(nullptr, &prompts);
    dialog.open();

    ASSERT_TRUE(dialog.SelectPath(base + "/keep"));
    shared.answer = false;
    dialog.DeleteFolder();
    ASSERT_EQ(shared.questions.size(), 1);
    EXPECT_EQ(shared.questions.front().toStdString(),
              "Delete Folder|Move the folder \"" + shown("/keep") +
                  "\" and everything in it to the trash?|Yes|No");
    EXPECT_TRUE(QDir(base + "/keep").exists());

    // A folder that went away meanwhile can neither take a new folder nor
    // be moved to the trash: each failure is said in a box.
    ASSERT_TRUE(dialog.SelectPath(base + "/gone/inner"));
    QDir(base + "/gone").removeRecursively();
    dialog.CreateFolder();
    ASSERT_EQ(shared.boxes.size(), 1);
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "warning|Browse for Folder|Cannot create the folder " +
                  shown("/gone/inner/New Folder") + ".");
    shared.answer = true;
    dialog.DeleteFolder();
    EXPECT_EQ(shared.boxes.last().toStdString(), "warning|Delete Folder|The folder " +
                                                     shown("/gone/inner") +
                                                     " could not be moved to the trash.");

    // A name with a separator is no folder name: the rename is refused and
    // the old name stays.
    ASSERT_TRUE(dialog.SelectPath(base + "/keep"));
    auto* tree = dialog.findChild<QTreeView*>();
    auto* model = qobject_cast<QStandardItemModel*>(tree->model());
    QStandardItem* item = model->itemFromIndex(tree->currentIndex());
    item->setText(QStringLiteral("a/b"));
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "warning|Browse for Folder|Cannot rename the folder " + shown("/keep") + ".");
    EXPECT_EQ(item->text(), "keep");
    EXPECT_TRUE(QDir(base + "/keep").exists());
}

}  // namespace
}  // namespace tamrel
