#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "ASFGrid.h"
#include "AudioOutput.h"
#include "PairBuilder.h"
#include "RecordingPrompts.h"
#include "StatusPanels.h"
#include "StreamActions.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "Unit1.h"
#include "audio/StreamInfo.h"
#include "audio/Wav.h"

// Texts in failure messages as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tamrel {
namespace {

using test::RecordingPrompts;

// An audio output that plays nothing and records what it was given.
class FakeAudioOutput : public AudioOutput {
public:
    bool available = true;
    QByteArray played;
    int channels = 0, rate = 0;
    bool playing = false;
    qint64 position = 0;

    bool Available() const override { return available; }
    QString UnavailableReason() const override { return QStringLiteral("no audio output device"); }
    void Play(const QByteArray& samples, int c, int r) override {
        played = samples;
        channels = c;
        rate = r;
        playing = true;
    }
    void Stop() override { playing = false; }
    bool Playing() const override { return playing; }
    qint64 PositionMs() const override { return position; }
    void End() {
        playing = false;
        emit Finished();
    }
};

class StreamActionsTest : public ::testing::Test {
protected:
    StreamActionsTest() {
        auto fake = std::make_unique<FakeAudioOutput>();
        audio = fake.get();
        form = std::make_unique<TForm1>(std::make_unique<RecordingPrompts>(shared), nullptr,
                                        std::move(fake));
        form->show();
        test::PairRecipe recipe;
        recipe.streams = test::ThreeKindsOfStreams();
        recipe.references = {40, 120};
        pair = test::BuildPair(dir.path(), "music", recipe);
    }
    void Unpack() {
        shared.file = QString::fromStdString(pair.archivePath);
        form->ExportButtonClick();
        QCoreApplication::processEvents();
    }
    QString Panel(int panel) const { return form->StatusBar()->PanelText(panel); }
    void Select(int row) {
        form->Grid()->setFocus();
        while (form->Grid()->SelectedRow() < row)
            QTest::keyClick(form->Grid(), Qt::Key_Down);
        while (form->Grid()->SelectedRow() > row)
            QTest::keyClick(form->Grid(), Qt::Key_Up);
        QCoreApplication::processEvents();
    }
    // The menu's entries as "text" or "(text)" for a disabled one.
    QStringList MenuOf(int row) {
        std::unique_ptr<QMenu> menu(form->Actions().BuildMenu(row, form.get()));
        QStringList items;
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                items << (action->isEnabled() ? action->text() : "(" + action->text() + ")");
        return items;
    }
    void Trigger(int row, const QString& text) {
        std::unique_ptr<QMenu> menu(form->Actions().BuildMenu(row, form.get()));
        for (QAction* action : menu->actions())
            if (action->text() == text) {
                action->trigger();
                return;
            }
        ADD_FAILURE() << "no item " << text.toStdString();
    }

    test::TempDir dir;
    test::Pair pair;
    RecordingPrompts::Shared shared;
    FakeAudioOutput* audio = nullptr;
    std::unique_ptr<TForm1> form;
};

TEST_F(StreamActionsTest, TheSelectedStreamIsDescribedInTheStatusBar) {
    EXPECT_EQ(Panel(2), "");
    Unpack();
    EXPECT_EQ(Panel(2), "PCM16 LE, stereo, 32000 Hz");
    EXPECT_EQ(Panel(3), "0:00.00");
    Select(2);
    EXPECT_EQ(Panel(2), "XA ADPCM R2, mono, 22050 Hz");
    Select(3);
    EXPECT_EQ(Panel(2), "ATRAC3plus, mono, 22050 Hz");
    // A stream file that is no stream says so; its length stays unsaid.
    test::WriteFileBytes(dir / "music_/music_00003.asf", "not a stream");
    Select(2);
    Select(3);
    EXPECT_EQ(Panel(2), "no stream header");
    EXPECT_EQ(Panel(3), "");

    // An Unpack that ends at one of its exits leaves no folder to read.
    std::string bank = pair.bank;
    bank.replace(40, 4, "\x11\x11\x11\x11");
    test::WriteFileBytes(pair.bankPath, bank);
    Unpack();
    EXPECT_EQ(Panel(2), "");
    EXPECT_EQ(Panel(3), "");
}

TEST_F(StreamActionsTest, TheRateIsAlwaysInHertzAndTheWholeTextIsThePanelsBalloon) {
    // A stream whose description is too long for the panel: the codec's
    // name is shortened first, the rate stays "44100 Hz".
    test::StreamParts parts;
    parts.tags = {{0xA0, 0x17}, {0x82, 6}, {0x84, 44100}};
    parts.dataPayloads = {test::Uint32(28, false) + std::string(40, '\x77')};
    Unpack();
    test::WriteFileBytes(dir / "music_/music_00003.asf", test::BuildStream(parts));
    Select(2);
    Select(3);
    const QString whole = QStringLiteral("Layer III variant, 6 channels, 44100 Hz");
    EXPECT_TRUE(Panel(2).endsWith(QStringLiteral(", 6 channels, 44100 Hz")))
        << Panel(2).toStdString();
    const QRect panel = form->StatusBar()->PanelRect(2);
    // The balloon says why the variant is not played.
    EXPECT_EQ(form->StatusBar()->HintAt(panel.center()),
              whole +
                  ": Layer III re-framed in a way no open description fully covers, and no "
                  "encoder exists, so this program can neither play nor replace it; its "
                  "bytes are kept as they are");
    EXPECT_EQ(form->StatusBar()->HintAt(form->StatusBar()->PanelRect(3).center()), Panel(3));
}

TEST_F(StreamActionsTest, TheMenuOffersWhatTheStreamAllows) {
    // Before any Unpack, the grid's menu opens a work folder.
    std::unique_ptr<QMenu> empty(form->Actions().BuildFolderMenu(form.get()));
    QStringList folderItems;
    for (QAction* action : empty->actions())
        folderItems << (action->isEnabled() ? action->text() : "(" + action->text() + ")");
    EXPECT_EQ(folderItems, (QStringList{"(Export all as WAV...)", "(Replace from folder...)",
                                        "(Restore all originals...)", "Open work folder..."}));

    Unpack();
    EXPECT_EQ(MenuOf(1), (QStringList{"Play", "Export as WAV...", "Replace with audio file...",
                                      "(Restore original...)", "Export all as WAV...",
                                      "Replace from folder...", "Restore all originals...",
                                      "Open work folder..."}));
    EXPECT_EQ(MenuOf(3), (QStringList{"(ATRAC3plus: no decoder)", "(Play)", "(Export as WAV...)",
                                      "(Replace with audio file...)", "(Restore original...)",
                                      "Export all as WAV...", "Replace from folder...",
                                      "Restore all originals...", "Open work folder..."}));
    // The whole sentence, as the console and Replace say it, is the line's tip.
    {
        std::unique_ptr<QMenu> menu(form->Actions().BuildMenu(3, form.get()));
        EXPECT_EQ(menu->actions().front()->toolTip(),
                  "The stream music_00003.asf is ATRAC3plus: only one large library decodes it "
                  "and no open encoder exists, so this program can neither play nor replace it; "
                  "its bytes are kept as they are.");
    }
    audio->available = false;
    EXPECT_EQ(MenuOf(1).first(), "(Play (no audio output device))");
    // A header no stream can have: said, and nothing offered for it.
    test::StreamParts parts;
    parts.tags = {{0xA0, 0x00}, {0x84, 8}};
    parts.dataPayloads = {test::Uint32(2, false) + std::string(4, '\0')};
    test::WriteFileBytes(dir / "music_/music_00002.asf", test::BuildStream(parts));
    EXPECT_EQ(MenuOf(2).first(), "(The header declares 8 Hz, which no stream can have)");
    EXPECT_TRUE(MenuOf(2).contains("(Replace with audio file...)"));
    // A row that names a file outside the work folder reads nothing there.
    test::WriteFileBytes(dir / "outside.asf", test::ReadFileBytes(dir / "music_/music_00001.asf"));
    form->Table().SetCellText(1, 1, "../outside.asf");
    EXPECT_EQ(
        MenuOf(1).mid(0, 3),
        (QStringList{"(The table names ../outside.asf, which is not a file of the work folder)",
                     "(Play (no audio output device))", "(Export as WAV...)"}));
    // Shift+F10 opens the selected row's menu, as the menu key does (the
    // window's own menu is left out here: it would wait for a click).
    QObject::disconnect(form->Grid(), &ASFGrid::StreamMenuRequested, nullptr, nullptr);
    QSignalSpy menus(form->Grid(), &ASFGrid::StreamMenuRequested);
    Select(2);
    QTest::keyClick(form->Grid(), Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus.front().front().toInt(), 2);
    // After Ctrl+A, the export acts on every highlighted row.
    form->Grid()->setFocus();
    QTest::keyClick(form->Grid(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(MenuOf(1).contains("Export 3 selected as WAV..."));
}

TEST_F(StreamActionsTest, PlayingShowsItsPositionAndEveryCommandStopsIt) {
    Unpack();
    Trigger(1, "Play");
    EXPECT_TRUE(audio->playing);
    EXPECT_EQ(audio->channels, 2);
    EXPECT_EQ(audio->rate, 32000);
    ASSERT_EQ(audio->played.size(), 100 * 2 * 2);
    EXPECT_EQ(audio->played.left(4), QByteArray("\0\0\7\1", 4));  // the samples as put in
    EXPECT_EQ(Panel(3), "0:00.00 / 0:00.00");  // one length format, playing or not
    EXPECT_EQ(MenuOf(1).first(), "Stop");
    EXPECT_EQ(form->Grid()->PlayingRow(), 1);  // the row shows it plays
    audio->End();
    EXPECT_EQ(Panel(3), "0:00.00");  // the duration again
    EXPECT_EQ(form->Grid()->PlayingRow(), 0);

    Trigger(1, "Play");
    Trigger(2, "Play");  // another row: the first stops
    EXPECT_EQ(audio->played.size(), 28 * 2);
    EXPECT_EQ(form->Actions().PlayingRow(), 2);
    // The output fails: the window is idle again and says why.
    audio->playing = false;
    emit audio->Failed(QStringLiteral("the device is gone"));
    EXPECT_EQ(form->Actions().PlayingRow(), 0);
    EXPECT_EQ(shared.boxes.last(),
              "warning|Error|Cannot play music_00002.asf: the device is gone.");
    EXPECT_EQ(MenuOf(2).first(), "Play");
    Trigger(1, "Play");
    Unpack();
    EXPECT_FALSE(audio->playing);
}

TEST_F(StreamActionsTest, ExportOneOrAllAsWav) {
    Unpack();
    // A name typed without an extension gets ".wav".
    shared.saveFile = QString::fromStdString(dir / "first");
    Trigger(1, "Export as WAV...");
    EXPECT_EQ(shared.saveSuggestions.last().toStdString(), dir / "music_/music_00001.wav");
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "information|Information|Exported music_00001.asf to " + (dir / "first.wav"));
    EXPECT_EQ(test::ReadFileBytes(dir / "first.wav").substr(0, 4), "RIFF");

    shared.folder = QString::fromStdString(dir / "music_");
    Trigger(2, "Export all as WAV...");
    EXPECT_EQ(shared.purposes.last(), static_cast<int>(Prompts::Purpose::ExportAll));
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "information|Information|Exported 2 of 3 streams as WAV files to " +
                  (dir / "music_") + "\r\nNot exported (no decoder, or damaged): music_00003.asf");
    EXPECT_TRUE(test::ReadFileBytes(dir / "music_/music_00002.wav").size() > 44);
    EXPECT_TRUE(form->isEnabled());

    // Again: the files there are asked about first; Cancel keeps them.
    test::WriteFileBytes(dir / "music_/music_00002.wav", "mine");
    const auto boxes = shared.boxes.size();
    Trigger(2, "Export all as WAV...");
    EXPECT_EQ(shared.questions.last().toStdString(),
              "Confirm|The folder " + (dir / "music_") +
                  " holds 2 WAV files that the export would replace (music_00001.wav, "
                  "music_00002.wav). Replace them?|Replace|Cancel");
    EXPECT_EQ(shared.boxes.size(), boxes);
    EXPECT_EQ(test::ReadFileBytes(dir / "music_/music_00002.wav"), "mine");
}

TEST_F(StreamActionsTest, ReplaceWithAnAudioFileAndRestore) {
    Unpack();
    std::vector<std::int16_t> tone(22050);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>((i * 37) % 2000);
    test::WriteFileBytes(dir / "tone.wav", WavBytes(tone, 1, 22050, std::nullopt));
    Select(2);
    const std::string sizeBefore = form->Table().CellText(11, 2);
    shared.file = QString::fromStdString(dir / "tone.wav");
    Trigger(2, "Replace with audio file...");
    EXPECT_EQ(shared.filters.last(),
              "Audio files|*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff");
    EXPECT_EQ(shared.purposes.last(), static_cast<int>(Prompts::Purpose::ReplaceAudio));
    EXPECT_TRUE(shared.boxes.last().startsWith("information|Information|Replaced music_00002.asf"))
        << shared.boxes.last().toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(Panel(3), "0:01.00");
    // The row tells the truth: the size on disk, and the mark of a replacement.
    ASFGrid& grid = *form->Grid();
    const std::string onDisk =
        std::to_string(test::ReadFileBytes(dir / "music_/music_00002.asf").size());
    EXPECT_EQ(form->Table().CellText(11, 2), sizeBefore);  // the table is Pack's to change
    EXPECT_EQ(grid.ShownText(11, 2), onDisk);
    EXPECT_TRUE(grid.FactsOf(2).replaced);
    EXPECT_FALSE(grid.FactsOf(1).replaced);
    const GridGeometry geometry = grid.Geometry();
    EXPECT_EQ(grid.HintAt(geometry.CellRect(1, 2).center()).toStdString(),
              "Replaced: the original is kept as music_00002.asf.orig");
    EXPECT_EQ(grid.HintAt(geometry.CellRect(1, 1).center()), QString());

    // Restore asks first; Cancel keeps the replacement.
    EXPECT_EQ(MenuOf(2)[3], "Restore original...");
    Trigger(2, "Restore original...");
    EXPECT_EQ(shared.questions.last().toStdString(),
              "Confirm|Restore the original of music_00002.asf? The replacement is "
              "discarded.|Restore|Cancel");
    EXPECT_TRUE(grid.FactsOf(2).replaced);
    shared.answer = true;
    Trigger(2, "Restore original...");
    EXPECT_EQ(shared.boxes.last(),
              "information|Information|Restored the original of music_00002.asf");
    QCoreApplication::processEvents();
    EXPECT_EQ(Panel(3), "0:00.00");
    EXPECT_EQ(MenuOf(2)[3], "(Restore original...)");
    EXPECT_FALSE(grid.FactsOf(2).replaced);
    EXPECT_EQ(grid.ShownText(11, 2), sizeBefore);
}

// "Restore all originals..." asks first (Cancel keeps every replacement),
// then puts back every kept original and says so.
TEST_F(StreamActionsTest, RestoreAllOriginalsAsksThenPutsThemBack) {
    Unpack();
    Trigger(1, "Restore all originals...");
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "information|Information|No original is kept in " + (dir / "music_") + ".");
    std::vector<std::int16_t> tone(11025);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>((i * 53) % 3000);
    test::WriteFileBytes(dir / "tone.wav", WavBytes(tone, 1, 22050, std::nullopt));
    const std::string first = test::ReadFileBytes(dir / "music_/music_00001.asf");
    const std::string second = test::ReadFileBytes(dir / "music_/music_00002.asf");
    shared.file = QString::fromStdString(dir / "tone.wav");
    Trigger(1, "Replace with audio file...");
    Trigger(2, "Replace with audio file...");
    ASFGrid& grid = *form->Grid();
    ASSERT_TRUE(grid.FactsOf(1).replaced && grid.FactsOf(2).replaced);
    shared.answer = false;
    Trigger(1, "Restore all originals...");
    EXPECT_EQ(shared.questions.last().toStdString(),
              "Confirm|Restore the originals of the 2 replaced streams? The replacements are "
              "discarded.|Restore|Cancel");
    EXPECT_TRUE(grid.FactsOf(1).replaced);
    shared.answer = true;
    Trigger(1, "Restore all originals...");
    EXPECT_EQ(shared.boxes.last().toStdString(), "information|Information|Restored 2 streams.");
    EXPECT_EQ(test::ReadFileBytes(dir / "music_/music_00001.asf"), first);
    EXPECT_EQ(test::ReadFileBytes(dir / "music_/music_00002.asf"), second);
    EXPECT_FALSE(grid.FactsOf(1).replaced || grid.FactsOf(2).replaced);
}

TEST_F(StreamActionsTest, ReplaceFromAFolderPutsBackWhatWasEdited) {
    Unpack();
    shared.folder = QString::fromStdString(dir / "music_");
    Trigger(1, "Export all as WAV...");
    std::vector<std::int16_t> tone(4410);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>((i * 53) % 3000);
    test::WriteFileBytes(dir / "music_/music_00002.wav", WavBytes(tone, 1, 22050, std::nullopt));
    Trigger(1, "Replace from folder...");
    EXPECT_EQ(shared.purposes.last(), static_cast<int>(Prompts::Purpose::ReplaceFromFolder));
    EXPECT_EQ(shared.boxes.last().toStdString(),
              "information|Information|Replaced 1 stream, 1 unchanged, 0 failed, 0 files matched "
              "no stream.\r\nReplaced: music_00002.asf\r\nUnchanged: music_00001.asf");
    EXPECT_TRUE(form->Grid()->FactsOf(2).replaced);
    EXPECT_FALSE(form->Grid()->FactsOf(1).replaced);
    EXPECT_TRUE(form->isEnabled());
}

TEST_F(StreamActionsTest, UnpackRemovesAnOriginalThatIsWhatItWrites) {
    Unpack();
    std::vector<std::int16_t> tone(2205, 1000);
    test::WriteFileBytes(dir / "tone.wav", WavBytes(tone, 1, 22050, std::nullopt));
    shared.file = QString::fromStdString(dir / "tone.wav");
    Trigger(2, "Replace with audio file...");
    ASSERT_TRUE(std::filesystem::exists(dir / "music_/music_00002.asf.orig"));
    // Unpacking again replaces the stream with the pair's: its kept original
    // is that very stream, and goes.
    shared.answer = true;
    Unpack();
    EXPECT_FALSE(std::filesystem::exists(dir / "music_/music_00002.asf.orig"));
    EXPECT_FALSE(form->Grid()->FactsOf(2).replaced);
}

}  // namespace
}  // namespace tamrel
