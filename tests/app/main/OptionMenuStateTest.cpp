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

// The user's choice kept in a file the option path links to is read, and written, through the link; what
// cannot be read now is no damaged content and stays.
TEST_F(OptionMenuStateTest, ALinkIsReadAndWrittenThroughAndAnUnreadableFileIsLeftAlone)
{
    const auto target = fs::path(folder.path()) / "elsewhere.plist";
    store(target, platform::PlistValue(platform::PlistDictionary{{OptionMenuState::kApplicationUpdatingKey, false},
                                                                 {OptionMenuState::kDeviceUpdatingKey, true}}));
    fs::create_symlink(target.filename(), path());
    OptionMenuState options(path());
    options.read();
    EXPECT_EQ(Options(options.applicationUpdating(), options.deviceUpdating()), Options(false, true));
    EXPECT_TRUE(fs::is_symlink(path()));
    options.toggleDeviceUpdating();
    EXPECT_TRUE(fs::is_symlink(path()));
    EXPECT_EQ(deviceOption(target), false);
    EXPECT_EQ(platform::PropertyList::readFile(target)->get(OptionMenuState::kApplicationUpdatingKey).asBool(), false);
    fs::remove(path());
    fs::create_directory(path());
    OptionMenuState unreadable(path());
    unreadable.read();
    EXPECT_TRUE(unreadable.applicationUpdating() && unreadable.deviceUpdating());
    EXPECT_TRUE(fs::is_directory(path()));
}

// A link to a file that is no option file (the user's own, outside the data folder) or to nothing is never
// written through: a plain option file takes the link's place, and the file it pointed at stays as it was.
TEST_F(OptionMenuStateTest, ALinkToAnythingButAnOptionFileIsReplacedNeverWrittenThrough)
{
    const auto outside = fs::path(folder.path()) / "notes.txt";
    for (const bool missing : {false, true}) {
        SCOPED_TRACE(missing ? "a link to nothing" : "a link to the user's own file");
        fs::remove(path());
        fs::remove(outside);
        if (!missing) std::ofstream(outside) << "the user's own notes\n";
        fs::create_symlink(outside, path());
        OptionMenuState options(path());
        options.read();
        options.toggleDeviceUpdating();
        EXPECT_FALSE(fs::is_symlink(path()));
        EXPECT_EQ(deviceOption(path()), false);
        EXPECT_EQ(fs::exists(outside), !missing);
        EXPECT_EQ(text(outside), missing ? "" : "the user's own notes\n");
    }
}

// A link pointed elsewhere during the run (a tool managing the user's dotfiles) is never written through:
// only the file the read found, while the link still names it; otherwise a plain file takes the link's
// place. A write handed to the queue before the link moved is judged when it runs.
TEST_F(OptionMenuStateTest, OnlyTheFileTheReadFoundIsWrittenThroughTheLink)
{
    const fs::path found = fs::path(folder.path()) / "found.plist";
    const fs::path other = fs::path(folder.path()) / "other.plist";
    const fs::path notes = fs::path(folder.path()) / "notes.txt";
    // The change between the read and the write; whether the write was handed over before it; whether it is
    // written into the found file, the link kept.
    const std::tuple<const char*, std::function<void()>, bool, bool> cases[] = {
        {"unchanged", [] {}, false, true},
        {"pointed at the user's notes", [&] { fs::remove(path()); fs::create_symlink(notes, path()); }, false, false},
        {"pointed at another option file", [&] { fs::remove(path()); fs::create_symlink(other, path()); }, false, false},
        {"pointed at the notes after the write was queued", [&] { fs::remove(path()); fs::create_symlink(notes, path()); },
         true, false},
        {"the found file replaced by a link to the notes", [&] { fs::remove(found); fs::create_symlink(notes, found); },
         false, false},
        {"the link removed", [&] { fs::remove(path()); }, false, false},
    };
    for (const auto& [name, change, queued, throughLink] : cases) {
        SCOPED_TRACE(name);
        for (const auto& file : {path(), found, other, notes}) fs::remove(file);
        const platform::PlistValue stored(platform::PlistDictionary{{OptionMenuState::kApplicationUpdatingKey, true},
                                                                    {OptionMenuState::kDeviceUpdatingKey, true}});
        store(found, stored);
        store(other, stored);
        std::ofstream(notes) << "the user's own notes\n";
        const std::string otherBefore = text(other);
        fs::create_symlink(found, path());
        std::vector<std::function<void()>> pending;
        OptionMenuState options(path(), [&](std::function<void()> write) { pending.push_back(std::move(write)); });
        options.read();
        ASSERT_TRUE(pending.empty());
        if (queued) options.toggleDeviceUpdating();
        change();
        if (!queued) options.toggleDeviceUpdating();
        for (auto& write : pending) write();
        EXPECT_EQ(text(notes), "the user's own notes\n");
        EXPECT_EQ(text(other), otherBefore);
        EXPECT_EQ(fs::is_symlink(path()), throughLink);
        EXPECT_EQ(deviceOption(throughLink ? found : path()), false);
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

// The program hands its writes to a queue: each must write the values of its own moment, in order, whatever
// the options are by the time it runs.
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
