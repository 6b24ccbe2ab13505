#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "app/main/OptionMenuState.h"
#include "platform/plist/PropertyList.h"
#include "support/files/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using Options = std::pair<bool, bool>;

std::string text(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class OptionMenuStateTest : public ::testing::Test {
public:
    fs::path path() const { return fs::path(folder.path()) / "OptionMenuState.plist"; }
    static void store(const fs::path& file, const platform::PlistValue& options)
    {
        ASSERT_TRUE(platform::PropertyList::writeFile(file, options, platform::PlistFormat::Xml));
    }
    void store(const platform::PlistDictionary& options) { store(path(), platform::PlistValue(options)); }
    // The device option the file at `file` holds.
    static std::optional<bool> deviceOption(const fs::path& file)
    {
        const auto written = platform::PropertyList::readFile(file);
        if (!written || !written->dictionary()) return std::nullopt;
        return written->get(OptionMenuState::kDeviceUpdatingKey).asBool();
    }
    // The stored pair, or nothing when the file does not read as a dictionary.
    std::optional<Options> stored() const
    {
        platform::PlistFormat format{};
        const auto value = platform::PropertyList::readFile(path(), nullptr, &format);
        if (!value || !value->dictionary() || format != platform::PlistFormat::Xml) return std::nullopt;
        return std::pair{value->get(OptionMenuState::kApplicationUpdatingKey).asBool().value_or(false),
                         value->get(OptionMenuState::kDeviceUpdatingKey).asBool().value_or(false)};
    }
    TemporaryFolder folder;
};

TEST_F(OptionMenuStateTest, ReadsStoredValuesAndRepairsWhatIsMissingOrDamaged)
{
    const std::tuple<const char*, std::function<void()>, Options, std::optional<Options>> cases[] = {
        {"missing", [] {}, {true, true}, Options{true, true}},
        {"damaged", [&] { std::ofstream(path()) << "<plist><dict><key>"; }, {true, true}, Options{true, true}},
        {"not a dictionary", [&] { store(path(), platform::PlistValue(platform::PlistArray{})); }, {true, true}, Options{true, true}},
        {"device only", [&] { store({{OptionMenuState::kDeviceUpdatingKey, true}}); }, {false, true}, Options{false, true}},
        {"numbers", [&] { store({{OptionMenuState::kApplicationUpdatingKey, 1}, {OptionMenuState::kDeviceUpdatingKey, 0}}); },
         {true, false}, std::nullopt},
    };
    for (const auto& [name, setup, read, fileAfter] : cases) {
        SCOPED_TRACE(name);
        fs::remove(path());
        setup();
        OptionMenuState options(path());
        options.read();
        EXPECT_EQ(Options(options.applicationUpdating(), options.deviceUpdating()), read);
        if (fileAfter) { EXPECT_EQ(stored(), fileAfter); }
    }
}

// What cannot be read now is no damaged content and stays.
TEST_F(OptionMenuStateTest, AnUnreadableFileIsLeftAlone)
{
    fs::create_directory(path());
    OptionMenuState unreadable(path());
    unreadable.read();
    EXPECT_TRUE(unreadable.applicationUpdating() && unreadable.deviceUpdating());
    EXPECT_TRUE(fs::is_directory(path()));
}

// Only the found option file is written through, while the link still names it; any other target is
// replaced by a plain file and stays as it was. A queued write is judged when it runs.
TEST_F(OptionMenuStateTest, OnlyTheFileTheReadFoundIsWrittenThroughTheLink)
{
    const fs::path found = fs::path(folder.path()) / "found.plist";
    const fs::path other = fs::path(folder.path()) / "other.plist";
    const fs::path notes = fs::path(folder.path()) / "notes.txt";
    const fs::path gone = fs::path(folder.path()) / "gone.plist";
    const auto relink = [this](const fs::path& to) { fs::remove(path()), fs::create_symlink(to, path()); };
    enum When { BeforeRead, AfterRead, AfterQueued };
    // The change to the link, when it comes, and whether the write goes into the found file, the link kept.
    const std::tuple<const char*, std::function<void()>, When, bool> cases[] = {
        {"unchanged", [] {}, AfterRead, true},
        {"a link to the user's own file from the start", [&] { relink(notes); }, BeforeRead, false},
        {"a link to nothing from the start", [&] { relink(gone); }, BeforeRead, false},
        {"pointed at the user's notes", [&] { relink(notes); }, AfterRead, false},
        {"pointed at another option file", [&] { relink(other); }, AfterRead, false},
        {"pointed at the notes after the write was queued", [&] { relink(notes); }, AfterQueued, false},
        {"the found file replaced by a link to the notes", [&] { fs::remove(found), fs::create_symlink(notes, found); },
         AfterRead, false},
        {"the link removed", [&] { fs::remove(path()); }, AfterRead, false},
    };
    for (const auto& [name, change, when, throughLink] : cases) {
        SCOPED_TRACE(name);
        for (const auto& file : {path(), found, other, notes}) fs::remove(file);
        const platform::PlistValue stored(platform::PlistDictionary{{OptionMenuState::kApplicationUpdatingKey, false},
                                                                    {OptionMenuState::kDeviceUpdatingKey, true}});
        store(found, stored);
        store(other, stored);
        std::ofstream(notes) << "the user's own notes\n";
        const std::string otherBefore = text(other);
        fs::create_symlink(found.filename(), path());  // a link relative to its folder
        std::vector<std::function<void()>> pending;
        OptionMenuState options(path(), [&](std::function<void()> write) { pending.push_back(std::move(write)); });
        if (when == BeforeRead) change();
        options.read();
        if (when != BeforeRead) {
            EXPECT_TRUE(pending.empty()) << "a good file needs no repair";
            EXPECT_EQ(Options(options.applicationUpdating(), options.deviceUpdating()), Options(false, true)) << "read through the link";
        }
        if (when == AfterQueued) options.toggleDeviceUpdating();
        if (when != BeforeRead) change();
        if (when != AfterQueued) options.toggleDeviceUpdating();
        for (auto& write : pending) write();
        EXPECT_EQ(text(notes), "the user's own notes\n");
        EXPECT_EQ(text(other), otherBefore);
        EXPECT_FALSE(fs::exists(gone));
        EXPECT_EQ(fs::is_symlink(path()), throughLink);
        EXPECT_EQ(deviceOption(throughLink ? found : path()), false);
        EXPECT_TRUE(!throughLink || platform::PropertyList::readFile(found)->get(OptionMenuState::kApplicationUpdatingKey).asBool() == false);
    }
}

TEST_F(OptionMenuStateTest, ToggleWritesBothOptionsAndTwiceRestoresTheFile)
{
    OptionMenuState options(path());
    options.read();
    options.toggleApplicationUpdating();
    EXPECT_EQ(stored(), (Options{false, true}));
    options.toggleDeviceUpdating();
    EXPECT_EQ(stored(), (Options{false, false}));
    options.toggleApplicationUpdating();
    options.toggleDeviceUpdating();
    EXPECT_EQ(stored(), (Options{true, true}));
    EXPECT_TRUE(options.applicationUpdating() && options.deviceUpdating());
}

// The program hands its writes to a queue: each writes the values of its own moment, in order.
TEST_F(OptionMenuStateTest, HandedOverWritesCarryTheirOwnMomentsValuesInOrder)
{
    std::vector<std::function<void()>> pending;
    OptionMenuState options(path(), [&](std::function<void()> write) { pending.push_back(std::move(write)); });
    options.read();
    options.toggleApplicationUpdating();
    options.toggleDeviceUpdating();
    EXPECT_FALSE(fs::exists(path()));
    ASSERT_EQ(pending.size(), 3u);
    const Options expected[] = {{true, true}, {false, true}, {false, false}};
    for (std::size_t i = 0; i < pending.size(); ++i) {
        pending[i]();
        EXPECT_EQ(stored(), expected[i]) << i;
    }
}

TEST_F(OptionMenuStateTest, AFailedWriteKeepsTheOldFileAndTheNewValueForThisRun)
{
    OptionMenuState options(path());
    options.read();
    // No file may grow past a few bytes now, so the new file cannot be written; this holds for every user.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = old;
    tiny.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    options.toggleDeviceUpdating();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(options.deviceUpdating());
    EXPECT_EQ(stored(), (Options{true, true}));
}

}  // namespace
