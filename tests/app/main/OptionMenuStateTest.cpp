#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include <csignal>

#include <sys/resource.h>

#include "app/main/OptionMenuState.h"
#include "platform/plist/PropertyList.h"
#include "support/files/TemporaryFolder.h"

namespace {

class OptionMenuStateTest : public ::testing::Test {
public:
    std::filesystem::path path() const { return std::filesystem::path(folder.path()) / "OptionMenuState.plist"; }
    void store(const platform::PlistDictionary& options)
    {
        ASSERT_TRUE(platform::PropertyList::writeFile(path(), platform::PlistValue(options), platform::PlistFormat::Xml));
    }
    // The stored pair, or nothing when the file does not read as a dictionary.
    std::optional<std::pair<bool, bool>> stored() const
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
    using Setup = std::function<void(OptionMenuStateTest&)>;
    struct Case {
        const char* name;
        Setup setup;
        bool application, device;
        std::optional<std::pair<bool, bool>> fileAfter;
    };
    const Case cases[] = {
        {"missing", [](auto&) {}, true, true, std::pair{true, true}},
        {"damaged", [](auto& t) { std::ofstream(t.path()) << "<plist><dict><key>"; }, true, true, std::pair{true, true}},
        {"not a dictionary", [](auto& t) {
             ASSERT_TRUE(platform::PropertyList::writeFile(t.path(), platform::PlistValue(platform::PlistArray{}),
                                                           platform::PlistFormat::Xml));
         }, true, true, std::pair{true, true}},
        {"device only", [](auto& t) { t.store({{OptionMenuState::kDeviceUpdatingKey, true}}); }, false, true,
         std::pair{false, true}},
        {"numbers", [](auto& t) {
             t.store({{OptionMenuState::kApplicationUpdatingKey, 1}, {OptionMenuState::kDeviceUpdatingKey, 0}});
         }, true, false, std::nullopt},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(path());
        c.setup(*this);
        OptionMenuState options(path());
        options.read();
        EXPECT_EQ(options.applicationUpdating(), c.application) << c.name;
        EXPECT_EQ(options.deviceUpdating(), c.device) << c.name;
        if (c.fileAfter) {
            EXPECT_EQ(stored(), c.fileAfter) << c.name;
        }
    }
}

// The user's choice kept in a file the option path links to is read, and written, through the link; what
// cannot be read now is no damaged content and stays.
TEST_F(OptionMenuStateTest, ALinkIsReadAndWrittenThroughAndAnUnreadableFileIsLeftAlone)
{
    const auto target = std::filesystem::path(folder.path()) / "elsewhere.plist";
    ASSERT_TRUE(platform::PropertyList::writeFile(
        target, platform::PlistValue(platform::PlistDictionary{{OptionMenuState::kApplicationUpdatingKey, false},
                                                               {OptionMenuState::kDeviceUpdatingKey, true}}),
        platform::PlistFormat::Xml));
    std::filesystem::create_symlink(target.filename(), path());
    OptionMenuState options(path());
    options.read();
    EXPECT_FALSE(options.applicationUpdating());
    EXPECT_TRUE(options.deviceUpdating());
    EXPECT_TRUE(std::filesystem::is_symlink(path()));
    options.toggleDeviceUpdating();
    EXPECT_TRUE(std::filesystem::is_symlink(path()));
    const auto written = platform::PropertyList::readFile(target);
    ASSERT_TRUE(written && written->dictionary());
    EXPECT_EQ(written->get(OptionMenuState::kDeviceUpdatingKey).asBool(), false);
    EXPECT_EQ(written->get(OptionMenuState::kApplicationUpdatingKey).asBool(), false);

    std::filesystem::remove(path());
    std::filesystem::create_directory(path());
    OptionMenuState unreadable(path());
    unreadable.read();
    EXPECT_TRUE(unreadable.applicationUpdating() && unreadable.deviceUpdating());
    EXPECT_TRUE(std::filesystem::is_directory(path()));
}

// A link to a file that is no option file (the user's own, outside the data folder) or to nothing is never
// written through: a plain option file takes the link's place, and the file it pointed at stays as it was.
TEST_F(OptionMenuStateTest, ALinkToAnythingButAnOptionFileIsReplacedNeverWrittenThrough)
{
    const auto outside = std::filesystem::path(folder.path()) / "notes.txt";
    for (const bool missing : {false, true}) {
        SCOPED_TRACE(missing ? "a link to nothing" : "a link to the user's own file");
        std::filesystem::remove(path());
        std::filesystem::remove(outside);
        if (!missing) std::ofstream(outside) << "the user's own notes\n";
        std::filesystem::create_symlink(outside, path());
        OptionMenuState options(path());
        options.read();
        options.toggleDeviceUpdating();
        EXPECT_FALSE(std::filesystem::is_symlink(path()));
        const auto written = platform::PropertyList::readFile(path());
        ASSERT_TRUE(written && written->dictionary());
        EXPECT_EQ(written->get(OptionMenuState::kDeviceUpdatingKey).asBool(), false);
        EXPECT_EQ(std::filesystem::exists(outside), !missing);
        if (!missing) {
            std::ifstream in(outside);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's own notes\n");
        }
    }
}

// A link pointed elsewhere during the run (a tool managing the user's dotfiles) is never written through:
// only the file the read found, while the link still names it; otherwise a plain file takes the link's
// place. A write handed to the queue before the link moved is judged when it runs.
TEST_F(OptionMenuStateTest, OnlyTheFileTheReadFoundIsWrittenThroughTheLink)
{
    namespace fs = std::filesystem;
    const fs::path found = fs::path(folder.path()) / "found.plist";
    const fs::path other = fs::path(folder.path()) / "other.plist";
    const fs::path notes = fs::path(folder.path()) / "notes.txt";
    const auto text = [](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    struct Case {
        const char* name;
        std::function<void()> change;  // between the read and the write
        bool queued;                   // the write was handed over before the change
        bool throughLink;              // written into the found file, the link kept
    };
    const Case cases[] = {
        {"unchanged", [] {}, false, true},
        {"pointed at the user's notes", [&] { fs::remove(path()); fs::create_symlink(notes, path()); }, false, false},
        {"pointed at another option file", [&] { fs::remove(path()); fs::create_symlink(other, path()); }, false, false},
        {"pointed at the notes after the write was queued", [&] { fs::remove(path()); fs::create_symlink(notes, path()); },
         true, false},
        {"the found file replaced by a link to the notes", [&] { fs::remove(found); fs::create_symlink(notes, found); },
         false, false},
        {"the link removed", [&] { fs::remove(path()); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& file : {path(), found, other, notes}) fs::remove(file);
        const platform::PlistDictionary stored{{OptionMenuState::kApplicationUpdatingKey, true},
                                               {OptionMenuState::kDeviceUpdatingKey, true}};
        ASSERT_TRUE(platform::PropertyList::writeFile(found, platform::PlistValue(stored), platform::PlistFormat::Xml));
        ASSERT_TRUE(platform::PropertyList::writeFile(other, platform::PlistValue(stored), platform::PlistFormat::Xml));
        std::ofstream(notes) << "the user's own notes\n";
        const std::string otherBefore = text(other);
        fs::create_symlink(found, path());
        std::vector<std::function<void()>> pending;
        OptionMenuState options(path(), [&](std::function<void()> write) { pending.push_back(std::move(write)); });
        options.read();
        ASSERT_TRUE(pending.empty());
        if (c.queued) options.toggleDeviceUpdating();
        c.change();
        if (!c.queued) options.toggleDeviceUpdating();
        for (auto& write : pending) write();
        EXPECT_EQ(text(notes), "the user's own notes\n");
        EXPECT_EQ(text(other), otherBefore);
        EXPECT_EQ(fs::is_symlink(path()), c.throughLink);
        const auto written = platform::PropertyList::readFile(c.throughLink ? found : path());
        ASSERT_TRUE(written && written->dictionary());
        EXPECT_EQ(written->get(OptionMenuState::kDeviceUpdatingKey).asBool(), false);
    }
}

TEST_F(OptionMenuStateTest, ToggleWritesBothOptionsAndTwiceRestoresTheFile)
{
    OptionMenuState options(path());
    options.read();
    options.toggleApplicationUpdating();
    EXPECT_EQ(stored(), (std::pair{false, true}));
    options.toggleDeviceUpdating();
    EXPECT_EQ(stored(), (std::pair{false, false}));
    options.toggleApplicationUpdating();
    options.toggleDeviceUpdating();
    EXPECT_EQ(stored(), (std::pair{true, true}));
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
    EXPECT_FALSE(std::filesystem::exists(path()));
    ASSERT_EQ(pending.size(), 3u);
    const std::pair<bool, bool> expected[] = {{true, true}, {false, true}, {false, false}};
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
    EXPECT_EQ(stored(), (std::pair{true, true}));
}

}  // namespace
