#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QString>
#include <QTimer>

#include <functional>
#include <thread>

#include "app/main/BusyLineBreaks.h"
#include "app/main/LiveWait.h"
#include "platform/bundle/Bundle.h"
#include "support/app/TestApplication.h"

namespace {

// Each character one unit wide, so the rows read as the room they are given.
int charactersOf(const QString& line) { return static_cast<int>(line.size()); }

QString laid(const char* text, int width) { return BusyLineBreaks::lay(QString::fromUtf8(text), width, charactersOf); }

TEST(BusyLineBreaks, BreaksOnlyWhereTheLanguageAllowsAndKeepsItsBreakWhileACountGrows)
{
    struct Row {
        const char* name;
        const char* text;
        int width;
        const char* expected;
    };
    const Row rows[] = {
        {"a line that fits stays whole", "Copying patches: 1152\u00A0of\u00A010006", 40, "Copying patches: 1152\u00A0of\u00A010006"},
        {"between the works first", "Writing patches to the unit…  Copying patches: 64\u00A0of\u00A07836", 40,
         "Writing patches to the unit…\nCopying patches: 64\u00A0of\u00A07836"},
        {"after a sentence's full stop", "Copying patches: 64\u00A0of\u00A07836. Quits after this; unit edits are off.", 40,
         "Copying patches: 64\u00A0of\u00A07836.\nQuits after this; unit edits are off."},
        {"the same break with a longer count", "Copying patches: 1152\u00A0of\u00A010006. Quits after this; unit edits are off.",
         40, "Copying patches: 1152\u00A0of\u00A010006.\nQuits after this; unit edits are off."},
        {"a part too long for any line at its spaces", "Finishing an interrupted effect change on the unit…", 30,
         "Finishing an interrupted\neffect change on the unit…"},
        // Japanese breaks after its full stop, never inside a word: not "停止 / 中です".
        {"Japanese after its full stop", "パッチをコピーしています: 64\u00A0/\u00A07836。この処理の後に終了します。ユニットの編集は停止中です。", 30,
         "パッチをコピーしています: 64\u00A0/\u00A07836。\nこの処理の後に終了します。ユニットの編集は停止中です。"},
        {"Japanese, the same breaks with a longer count",
         "パッチをコピーしています: 1152\u00A0/\u00A010006。この処理の後に終了します。ユニットの編集は停止中です。", 30,
         "パッチをコピーしています: 1152\u00A0/\u00A010006。\nこの処理の後に終了します。ユニットの編集は停止中です。"},
        {"Japanese in little room: at its spaces, the count whole",
         "パッチをコピーしています: 64\u00A0/\u00A07836。この処理の後に終了します。", 16,
         "パッチをコピーしています:\n64\u00A0/\u00A07836。\nこの処理の後に終了します。"},
        // The window puts a space between an ended count and the wait after it: no line starts with it,
        // and a line that fits keeps it.
        {"Japanese, the space after its full stop", "パッチをコピーしています: 64\u00A0/\u00A07836。 表示中のメッセージに答えると終了します。", 30,
         "パッチをコピーしています: 64\u00A0/\u00A07836。\n表示中のメッセージに答えると終了します。"},
        {"Japanese, the space kept where it fits", "7836。 終了します。", 30, "7836。 終了します。"},
        {"a Japanese part with no room stays whole", "ユニットの編集は停止中です。", 6, "ユニットの編集は停止中です。"},
        {"nothing to lay", "", 10, ""},
    };
    for (const Row& row : rows) EXPECT_EQ(laid(row.text, row.width), QString::fromUtf8(row.expected)) << row.name;
}

// The count stays whole on one line, so the break stays put while it grows.
TEST(BusyLineBreaks, ACountOfEitherLanguageStaysWhole)
{
    for (const char* language : {"en", "ja"}) {
        const auto table = platform::Bundle::main().table("Localizable", language);
        ASSERT_TRUE(table.has_value());
        for (const char* key : {"Main_BusyCopyingPatches", "Main_BusyReadingPatches", "Main_BusyWritingPatches"}) {
            const QString format = QString::fromStdString(table->entries().at(key));
            const QString text = format.arg(64).arg(7836);
            const qsizetype from = text.indexOf(QStringLiteral("64"));
            const QString count = text.mid(from, text.indexOf(QStringLiteral("7836")) + 4 - from);
            for (int width = static_cast<int>(count.size()); width < text.size(); ++width)
                EXPECT_TRUE(BusyLineBreaks::lay(text, width, charactersOf).contains(count))
                    << language << " " << key << " " << width << ": " << BusyLineBreaks::lay(text, width, charactersOf).toStdString();
        }
    }
}

// Reports come inside the start, on a later turn, from another thread while the loop sleeps, or off the main thread.
TEST(LiveWait, ReturnsOnceTheWorkReportsFromAnyThreadAtAnyTime)
{
    testing_app::application();
    ASSERT_TRUE(LiveWait::turnsTheLoop());
    LiveWait::run([](const std::function<void()>& report) { report(); });
    bool turned = false;
    LiveWait::run([&turned](std::function<void()> report) {
        QTimer::singleShot(0, qApp, [&turned, report = std::move(report)] {
            turned = true;
            report();
        });
    });
    EXPECT_TRUE(turned) << "returned before the loop ran the work";
    std::thread worker;
    LiveWait::run([&worker](std::function<void()> report) { worker = std::thread(std::move(report)); });
    worker.join();
    bool offMain = false;
    std::thread waiting([&offMain] {
        offMain = !LiveWait::turnsTheLoop();
        std::thread reporter;
        LiveWait::run([&reporter](std::function<void()> report) { reporter = std::thread(std::move(report)); });
        reporter.join();
        LiveWait::run([](const std::function<void()>& report) { report(); });
    });
    waiting.join();
    EXPECT_TRUE(offMain);
}

}  // namespace
