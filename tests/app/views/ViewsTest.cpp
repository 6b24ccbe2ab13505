#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <elf.h>
#include <fstream>
#include <set>

#include "app/views/ApplicationVersionView.h"
#include "app/views/CustomTableRowView.h"
#include "app/views/InterfaceTexts.h"
#include "app/views/LicenseView.h"
#include "app/views/MemoryLevelIndicator.h"
#include "app/views/NamedImages.h"
#include "app/views/ProcessingView.h"
#include "app/views/WindowIcon.h"
#include "platform/bundle/Bundle.h"
#include "support/app/TestApplication.h"

namespace {

class Views : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_app::application();
        ASSERT_TRUE(platform::Bundle::locateResources());
    }
    const std::string resources = platform::Bundle::locateResources().value_or("");
};

TEST_F(Views, EveryPictureTheInterfaceNamesIsDrawnAndOthersAreNot)
{
    QStringList wanted{"splash", "warning-icon", "row_light_color_left", "row_light_color_right", "row_dark_color_left",
                       "row_dark_color_right", "effect_list_selection", "patch_list_selection", "ban-icon",
                       "effect_focused_state_icon", "effect_default_state_icon", "patch_focused_state_icon",
                       "patch_default_state_icon", "effect_footer", "patch_footer", "knob_background", "up_arrow",
                       "down_arrow", "effect_knob_top", "effect_knob_middle", "effect_knob_bottom", "patch_top_ruler",
                       "patch_middle_ruler", "patch_bottom_ruler", "effect_pool_header", "effect_list_header",
                       "patch_pool_header", "patch_list_header", "cell_separator", "sort_indicator_ascending",
                       "sort_indicator_descending", "patch_pool_focused_selection_top",
                       "patch_pool_focused_selection_mid", "patch_pool_focused_selection_bottom",
                       "effect_pool_focused_selection_top", "effect_pool_focused_selection_mid",
                       "effect_pool_focused_selection_bottom", "backup_left_arrow", "backup_right_arrow",
                       "restore_left_arrow", "restore_right_arrow", "mouse"};
    for (int number = 1; number <= 18; ++number) wanted << ProcessingView::frameName(number);
    for (const QString& name : wanted) EXPECT_FALSE(NamedImages::image(name).isNull()) << name.toStdString();
    EXPECT_EQ(NamedImages::names().size(), wanted.size());
    EXPECT_TRUE(NamedImages::image(QStringLiteral("301Animation1")).isNull() && NamedImages::image(QStringLiteral("301Animation19")).isNull());
}

TEST_F(Views, MemoryBarFractionStaysInsideTheBar)
{
    const std::tuple<double, double, double, double> cases[] = {{50, 0, 100, 0.5}, {0, 0, 100, 0},   {100, 0, 100, 1},
                                                                {150, 0, 100, 1},  {-20, 0, 100, 0}, {30, 20, 40, 0.5},
                                                                {5, 10, 10, 0},    {5, 10, 0, 0}};
    for (const auto& [value, minimum, maximum, fraction] : cases)
        EXPECT_DOUBLE_EQ(MemoryLevelIndicator::fraction(value, minimum, maximum), fraction) << value << " in " << minimum << ".." << maximum;
    const QRectF frame(10, 4, 200, 30);
    EXPECT_EQ(MemoryLevelIndicator::barRect(frame), QRectF(10, 4, 200, 7));
    EXPECT_EQ(MemoryLevelIndicator::fillRect(frame, 0.25), QRectF(10, 4, 50, 7));
    MemoryLevelIndicator bar;
    bar.resize(200, 7);
    const auto drawn = [&bar](double value, int x) { return bar.setValue(value), bar.grab().toImage().pixelColor(x, 3).rgb(); };
    EXPECT_EQ(drawn(250, 199), MemoryLevelIndicator::fillColor().rgb());
    EXPECT_EQ(drawn(50, 99), MemoryLevelIndicator::fillColor().rgb());
    EXPECT_EQ(drawn(50, 101), MemoryLevelIndicator::trackColor().rgb());
}

// Rows keep their stretched pieces: whatever sizes come and go, each must look as its pictures stretched.
TEST_F(Views, RowsLookAsTheirPicturesStretchedAtEverySizeAndTheirSelectionInTheirKindsColour)
{
    CustomTableRowView parity;
    EXPECT_EQ(parity.leftImageName(), "row_light_color_left");
    parity.setRow(1);
    parity.setIsEffectRow(true);
    EXPECT_EQ(parity.rightImageName(), "row_dark_color_right");
    parity.clearView();
    EXPECT_FALSE(parity.isEffectRow());
    parity.setRow(4);
    EXPECT_EQ(parity.leftImageName(), "row_light_color_left");
    EXPECT_EQ(CustomTableRowView::rightPieceFrame(QRect(0, 0, 300, 24)), QRect(295, 0, 5, 24));
    EXPECT_EQ(CustomTableRowView::leftPieceFrame(QRect(0, 0, 300, 24)), QRect(0, 0, 295, 24));
    const auto paint = [](QSize size, bool dark, bool effectRow, bool selected, bool byHand = false) {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::black);
        CustomTableRowView row;
        row.setRow(dark ? 1 : 0);
        row.setIsEffectRow(effectRow);
        QPainter painter(&image);
        if (!byHand) {
            row.drawRect(painter, image.rect(), selected);
            return image;
        }
        painter.drawImage(CustomTableRowView::leftPieceFrame(image.rect()), NamedImages::image(row.leftImageName()));
        painter.drawImage(CustomTableRowView::rightPieceFrame(image.rect()), NamedImages::image(row.rightImageName()));
        return image;
    };
    QList<QSize> sizes{{300, 24}, {1137, 58}, {300, 58}, {300, 24}, {5, 24}, {6, 1}, {1137, 58}};
    for (int width = 100; width < 120; ++width) sizes << QSize(width, 30);
    sizes << QSize(300, 24) << QSize(1137, 58);
    for (const QSize& size : sizes)
        for (const bool dark : {false, true})
            EXPECT_EQ(paint(size, dark, false, false), paint(size, dark, false, false, true))
                << size.width() << "x" << size.height() << (dark ? " dark" : " light");
    const QImage patch = paint({200, 24}, false, false, true);
    const QRgb orange = QColor(245, 147, 31).rgb();
    EXPECT_EQ(patch.pixelColor(100, 1).rgb(), orange);
    EXPECT_EQ(patch.pixelColor(100, 22).rgb(), orange);
    EXPECT_NE(patch.pixelColor(197, 1).rgb(), orange);
    EXPECT_EQ(paint({200, 24}, false, true, true).pixelColor(100, 1).rgb(), QColor(19, 153, 228).rgb());
    EXPECT_EQ(paint({200, 24}, false, true, false).pixelColor(100, 1), paint({200, 24}, false, false, false).pixelColor(100, 1));
}

TEST_F(Views, ProcessingViewsStepOneSharedFrame)
{
    EXPECT_EQ(std::tuple(ProcessingView::frameName(1), ProcessingView::frameName(9), ProcessingView::frameName(10)),
              std::tuple("301Animation01", "301Animation09", "301Animation10"));
    ProcessingView first, second;
    ASSERT_EQ(first.syncIconImages().size(), 18);
    const std::size_t start = ProcessingView::sharedFrameIndex() % 18;
    first.animateSyncIcon();
    second.animateSyncIcon();
    EXPECT_EQ(ProcessingView::sharedFrameIndex(), start + 2);
    EXPECT_EQ(second.synchronizingImageView()->pixmap().toImage(), first.syncIconImages().at(start + 1).toImage());
}

TEST_F(Views, VersionLineShowsTheVersionAsWrittenOrNothing)
{
    EXPECT_EQ(ApplicationVersionView(std::string("1.2.0")).appVersionTextField()->text(), "System Version: 1.2.0");
    EXPECT_EQ(ApplicationVersionView::versionText(std::string("1%d %@")), "System Version: 1%d %@");
    EXPECT_EQ(ApplicationVersionView(std::nullopt).appVersionTextField()->text(), "");
}

TEST_F(Views, LicenceIsReadAsLatin2FromTheResourcesOnlyAndSaysWhenItIsMissing)
{
    const QString missing = InterfaceTexts::localizedString("Main_LicenseMissing");
    ASSERT_FALSE(missing.isEmpty());
    QTemporaryDir folder;
    EXPECT_EQ(LicenseView(folder.path().toStdString()).licenseTextView()->toPlainText(), missing);
    QFile file(QDir(folder.path()).filePath(LicenseView::kLicenseFileName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xA3\xF3""d\xBC");  // Latin-2 for "Łódź"
    file.close();
    EXPECT_EQ(LicenseView(folder.path().toStdString()).licenseTextView()->toPlainText(), QString::fromUtf8("Łódź"));
    // Without resources nothing is read from the folder the program was started in.
    const QString started = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    const QString shown = LicenseView(std::string()).licenseTextView()->toPlainText();
    QDir::setCurrent(started);
    EXPECT_EQ(shown, missing);
    EXPECT_TRUE(LicenseView::readLicenseText(resources + "/license.txt").value_or("").contains("PEXO Rigmora"));
}

TEST_F(Views, LicenceAsksForRoomForItsWholeTextWithoutScrolling)
{
    LicenseView view(resources);
    view.resize(view.sizeHint());
    view.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(view.licenseTextView()->horizontalScrollBar()->maximum(), view.licenseTextView()->verticalScrollBar()->maximum()),
              std::pair(0, 0));
}

// The launcher's 256-point picture made a quarter megabyte per window.
TEST_F(Views, WindowsCarryTheShippedIconAtTitleBarSizesOnly)
{
    const QIcon icon = WindowIcon::fromFile(QString::fromStdString(resources + "/pexo-rigmora.png"));
    const QList<QSize> sizes = icon.availableSizes();
    ASSERT_FALSE(sizes.isEmpty());
    for (const QSize& size : sizes) EXPECT_LE(std::max(size.width(), size.height()), 64);
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(WindowIcon::fromFile(QString::fromStdString(resources + "/no-such-icon.png")).isNull());
}

// The libraries an ELF executable names in its dynamic section (DT_NEEDED).
std::vector<std::string> neededLibraries(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string file(static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg())), '\0');
    in.seekg(0);
    in.read(file.data(), static_cast<std::streamsize>(file.size()));
    auto at = [&file](std::uint64_t offset, std::uint64_t size) {
        return offset <= file.size() && size <= file.size() - offset ? file.data() + offset : nullptr;
    };
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(at(0, sizeof(Elf64_Ehdr)));
    if (!header || std::string(reinterpret_cast<const char*>(header->e_ident), 4) != ELFMAG ||
        header->e_ident[EI_CLASS] != ELFCLASS64)
        return {};
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(at(header->e_shoff, std::uint64_t{header->e_shnum} * sizeof(Elf64_Shdr)));
    if (!sections) return {};
    std::vector<std::string> names;
    for (unsigned i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNAMIC || sections[i].sh_link >= header->e_shnum) continue;
        const Elf64_Shdr& strings = sections[sections[i].sh_link];
        const char* table = at(strings.sh_offset, strings.sh_size);
        const auto* entries = reinterpret_cast<const Elf64_Dyn*>(at(sections[i].sh_offset, sections[i].sh_size));
        if (!table || !entries) continue;
        for (std::size_t e = 0; e < sections[i].sh_size / sizeof(Elf64_Dyn) && entries[e].d_tag != DT_NULL; ++e)
            if (entries[e].d_tag == DT_NEEDED && entries[e].d_un.d_val < strings.sh_size)
                names.emplace_back(table + entries[e].d_un.d_val);
    }
    return names;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The C and C++ runtimes, and a sanitizer's, come with the system and its compiler, not with the program.
bool isSystemRuntime(const std::string& soname)
{
    for (const char* runtime : {"libc.so", "libm.so", "libstdc++.so", "libgcc_s.so", "ld-linux", "libpthread.so", "libdl.so",
                                "librt.so", "libatomic.so", "libasan.so", "libubsan.so", "libtsan.so", "liblsan.so"})
        if (startsWith(soname, runtime)) return true;
    return false;
}

// The entry of the licence list that stands for a linked library, or "" for one it does not know.
std::string entryFor(const std::string& soname)
{
    static const std::vector<std::pair<std::string, std::string>> kEntries = {
        {"libQt6", "Qt 6 (Widgets, GUI, Core)"}, {"libcurl.so", "libcurl"},       {"libssl.so", "OpenSSL"},
        {"libcrypto.so", "OpenSSL"},               {"libminizip.so", "minizip, zlib"}, {"libz.so", "minizip, zlib"},
        {"libplist", "libplist"},                  {"libasound.so", "ALSA library"}, {"libpng", "libpng"},
        {"libjpeg.so", "libjpeg (libjpeg-turbo)"}, {"libgif.so", "giflib"},         {"libtiff.so", "libtiff"},
        {"libicu", "ICU"},                         {"libsystemd.so", "libsystemd"},  {"libxml2.so", "libxml2"},
    };
    for (const auto& [prefix, entry] : kEntries)
        if (startsWith(soname, prefix)) return entry;
    return {};
}

// The names the licence list shows: the indented lines after its heading, up to the first blank line.
std::set<std::string> listedLibraries(const QString& text)
{
    std::set<std::string> names;
    const QStringList lines = text.split(QLatin1Char('\n'));
    const auto heading = std::find_if(lines.begin(), lines.end(), [](const QString& line) { return line.startsWith("Libraries this program uses"); });
    if (lines.end() - heading < 2) return names;
    for (auto line = heading + 2; line != lines.end() && !line->trimmed().isEmpty(); ++line) {
        const QString entry = line->trimmed();
        const qsizetype gap = entry.indexOf(QStringLiteral("  "));
        names.insert((gap < 0 ? entry : entry.left(gap)).toStdString());
    }
    return names;
}

// The licence list is compared with the shared libraries the built program itself asks the loader for.
TEST_F(Views, LicenceListNamesEveryLibraryTheProgramLinksEachWithItsNotice)
{
    const auto text = LicenseView::readLicenseText(resources + "/" + LicenseView::kLicenseFileName);
    ASSERT_TRUE(text);
    const std::set<std::string> listed = listedLibraries(*text);
    ASSERT_FALSE(listed.empty());
    const std::vector<std::string> needed = neededLibraries(RIG_PROGRAM_FILE);
    ASSERT_FALSE(needed.empty()) << "cannot read the libraries " << RIG_PROGRAM_FILE << " links";
    std::set<std::string> linked;
    for (const std::string& soname : needed) {
        if (isSystemRuntime(soname)) continue;
        const std::string entry = entryFor(soname);
        EXPECT_FALSE(entry.empty()) << "the program links " << soname << ", which the licence list knows nothing of";
        if (entry.empty()) continue;
        linked.insert(entry);
        EXPECT_TRUE(listed.contains(entry)) << "the program links " << soname << " but the licence view does not name " << entry;
    }
    // Nothing is named that is not linked, but what is compiled into the program from headers.
    const std::set<std::string> compiledIn{"nlohmann/json"};
    for (const std::string& name : listed)
        EXPECT_TRUE(linked.contains(name) || compiledIn.contains(name)) << name << " is named but not linked";
    // Each named library's notice follows under its own heading.
    const QString rule(79, QLatin1Char('-'));
    for (const std::string& name : listed)
        EXPECT_TRUE(text->contains(rule + "\n" + QString::fromStdString(name) + "\n" + rule + "\n\n")) << "no notice for " << name;
}

}  // namespace
