#pragma once

#include <filesystem>
#include <functional>

// The two update-notice options and the property list that keeps them across runs:
// "<data folder>/PEXO Rigmora/QFXMacApplication/OptionMenuState.plist".
class OptionMenuState {
public:
    static constexpr const char* kFileName = "OptionMenuState.plist";
    static constexpr const char* kApplicationUpdatingKey = "ApplicationUpdatingOptionState";
    static constexpr const char* kDeviceUpdatingKey = "DeviceUpdatingOptionState";

    // Where a write of the file runs: the file is flushed to disk, which the interface's thread must not
    // wait for. Writes handed over must run in the order given. Without one, writes run in the caller.
    using Writer = std::function<void(std::function<void()> write)>;

    explicit OptionMenuState(std::filesystem::path path, Writer writer = {})
        : path_(std::move(path)), writer_(std::move(writer))
    {
    }
    // The file under the program's root folder in the user's data folder.
    static std::filesystem::path defaultPath();

    // A missing file, or one whose content is not a dictionary, is written anew with both options on; a
    // file that cannot be read is left alone for this run, with both options on; otherwise each option
    // takes its key's value, a missing key reading as off. A link is read through, and written through
    // only when it points at an option file, and only while it still names the file the read found; any
    // other link, or one pointed elsewhere since, is replaced by the file itself.
    void read();
    // Inverts one option and writes both over the old file in one step; a failed write leaves the old
    // file as it was and the options hold for this run. The folder is not created here.
    void toggleApplicationUpdating();
    void toggleDeviceUpdating();

    bool applicationUpdating() const { return applicationUpdating_; }
    bool deviceUpdating() const { return deviceUpdating_; }
    const std::filesystem::path& path() const { return path_; }

private:
    void write() const;
    // The file the options are read from and written to: `path`, or where it links to.
    static std::filesystem::path file(const std::filesystem::path& path);

    std::filesystem::path path_;
    Writer writer_;
    // The option file the last read found where the path links to; empty when it found none there.
    std::filesystem::path found_;
    bool applicationUpdating_ = true;
    bool deviceUpdating_ = true;
};
