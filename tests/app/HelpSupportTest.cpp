#include "HelpSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "RecordingPrompts.h"
#include "TestFiles.h"
#include "Unit1.h"

namespace tamrel {
namespace {

// The README and the manual where an installation puts them.
HelpDocuments DocumentsIn(const test::TempDir& dir) {
    test::WriteFileBytes(dir / "README.md", "# Tamrel");
    test::WriteFileBytes(dir / "tamrel-cli.1.gz", "manual");
    return {QString::fromStdString(dir / "README.md"),
            QString::fromStdString(dir / "tamrel-cli.1.gz")};
}

class HelpSupportTest : public ::testing::Test {
protected:
    HelpSupportTest()
        : dialog(
              nullptr,
              [this](const QUrl& url) {
                  opened << url.toString();
                  return desktopAccepts;
              },
              DocumentsIn(docs)) {
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
    test::TempDir docs;
    QStringList opened;
    bool desktopAccepts = true;
    THelpSupport dialog;
};

TEST_F(HelpSupportTest, LayoutAndTexts) {
    EXPECT_EQ(dialog.windowTitle(), "Help / Support");
    EXPECT_EQ(dialog.size(), QSize(249, 312));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(dialog.ContactBox()->title(), "Contact Info: ");
    EXPECT_EQ(dialog.ContactBox()->geometry(), QRect(7, 33, 234, 59));
    EXPECT_EQ(dialog.SupportBox()->title(), "Financially support of Author: ");
    EXPECT_EQ(dialog.SupportBox()->geometry(), QRect(7, 98, 234, 182));
    EXPECT_EQ(dialog.MailLink()->pos(), QPoint(11, 14));
    EXPECT_EQ(dialog.WebLink()->pos(), QPoint(11, 33));
    EXPECT_EQ(dialog.OkButton()->geometry(), QRect(88, 287, 65, 19));
    EXPECT_EQ(dialog.CreditLabel()->pos(), QPoint(49, 10));
    // The credit names the program and fits the dialog.
    EXPECT_TRUE(dialog.CreditLabel()->text().startsWith("Tamrel"));
    EXPECT_LE(dialog.CreditLabel()->geometry().right(), 249);
    const QRect places[6] = {{7, 52, 221, 24},    {7, 78, 221, 24},  {7, 124, 104, 24},
                             {124, 124, 104, 24}, {7, 150, 104, 24}, {124, 150, 104, 24}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(dialog.Fields()[i]->geometry(), places[i]) << i;
        EXPECT_TRUE(dialog.Fields()[i]->isReadOnly());
        EXPECT_FALSE(dialog.Fields()[i]->text().isEmpty());
    }
    // No account or wallet numbers: the program is free.
    for (QLineEdit* field : dialog.Fields())
        EXPECT_FALSE(field->text().contains(QRegularExpression("[0-9]{4}")));
}

TEST_F(HelpSupportTest, KeyboardOkFocusedTabOrderEnterClosesEscDoesNot) {
    EXPECT_TRUE(dialog.OkButton()->hasFocus());
    const auto& f = dialog.Fields();
    QWidget* expected[] = {f[2], f[3], f[5], f[4], f[0], f[1], dialog.OkButton()};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(dialog.OkButton(), Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(HelpSupportTest, FieldsCanBeCopiedButNotChanged) {
    QLineEdit* field = dialog.Fields()[0];
    const QString before = field->text();
    field->setFocus();
    QTest::keyClicks(field, "typed");
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), before);
    field->selectAll();
    EXPECT_EQ(field->selectedText(), before);
}

TEST_F(HelpSupportTest, ALinkTurnsPurpleOnlyWhenTheDesktopOpensIt) {
    const QColor highlight = dialog.palette().color(QPalette::Highlight);
    desktopAccepts = false;
    QTest::mouseClick(dialog.MailLink(), Qt::LeftButton);
    EXPECT_EQ(
        opened,
        QStringList{QUrl::fromLocalFile(QString::fromStdString(docs / "README.md")).toString()});
    EXPECT_FALSE(dialog.MailLink()->Visited());
    EXPECT_EQ(dialog.MailLink()->palette().color(QPalette::WindowText), highlight);

    desktopAccepts = true;
    QTest::mouseClick(dialog.WebLink(), Qt::LeftButton);
    EXPECT_EQ(opened.last(), "man:tamrel-cli");
    EXPECT_TRUE(dialog.WebLink()->Visited());
    EXPECT_EQ(dialog.WebLink()->palette().color(QPalette::WindowText), QColor(128, 0, 128));
    EXPECT_EQ(dialog.WebLink()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(dialog.WebLink()->font().underline());
}

// No made-up address: the links show where the README and the manual are
// installed, and nothing where they are not.
TEST_F(HelpSupportTest, TheLinksLeadToTheInstalledDocumentsOrAreNotThere) {
    // The path, shortened in its middle where the box is too narrow, with
    // the system's separators.
    EXPECT_TRUE(
        dialog.MailLink()->text().endsWith(QDir::toNativeSeparators(QStringLiteral("/README.md"))));
    EXPECT_EQ(dialog.MailLink()->Address().toLocalFile(),
              QDir::fromNativeSeparators(QString::fromStdString(docs / "README.md")));
    EXPECT_EQ(dialog.WebLink()->text(), "man tamrel-cli");
    for (const THelpSupport* shown : {&dialog}) {
        for (const QLabel* label : shown->findChildren<QLabel*>())
            EXPECT_FALSE(label->text().contains(QStringLiteral("example")));
        for (const QLineEdit* field : shown->Fields())
            EXPECT_FALSE(field->text().contains(QStringLiteral("mail")));
    }
    THelpSupport bare(
        nullptr, [](const QUrl&) { return true; }, HelpDocuments{});
    bare.show();
    EXPECT_FALSE(bare.MailLink()->isVisible());
    EXPECT_FALSE(bare.WebLink()->isVisible());
}

TEST(HelpButton, OpensAFreshDialogOnEveryPress) {
    test::RecordingPrompts::Shared shared;
    TForm1 form(std::make_unique<test::RecordingPrompts>(shared));
    test::TempDir docs;
    form.SetHelpDocuments(DocumentsIn(docs));
    form.SetUrlOpener([](const QUrl&) { return true; });
    form.show();
    QToolButton* help = form.findChild<QToolButton*>("ToolButton9");
    ASSERT_NE(help, nullptr);
    QStringList seen;
    auto inspect = [&](bool clickLink) {
        QTimer::singleShot(0, [&, clickLink] {
            auto* dialog = qobject_cast<THelpSupport*>(QApplication::activeModalWidget());
            if (!dialog) {
                seen << "no dialog";
                return;
            }
            seen << QStringLiteral("visited %1").arg(dialog->WebLink()->Visited());
            if (clickLink)
                QTest::mouseClick(dialog->WebLink(), Qt::LeftButton);
            seen << QStringLiteral("visited %1").arg(dialog->WebLink()->Visited());
            dialog->OkButton()->click();
        });
    };
    inspect(true);
    help->click();
    inspect(false);
    help->click();
    EXPECT_EQ(seen, (QStringList{"visited 0", "visited 1", "visited 0", "visited 0"}));
}

}  // namespace
}  // namespace tamrel
