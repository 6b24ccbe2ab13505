#include "app/main/OptionMenuState.h"

#include <system_error>

#include "common/Log.h"
#include "platform/files/ApplicationSupport.h"
#include "platform/plist/PropertyList.h"

namespace {

// A number's truth, as a stored flag reads: a boolean, or a whole number other than 0.
bool boolOf(const platform::PlistValue& value)
{
    if (const auto flag = value.asBool()) return *flag;
    return value.asInteger().value_or(0) != 0;
}

}  // namespace

std::filesystem::path OptionMenuState::defaultPath()
{
    return std::filesystem::path(platform::ApplicationSupport::rootFolder()) / "QFXMacApplication" / kFileName;
}

std::filesystem::path OptionMenuState::file(const std::filesystem::path& path)
{
    // A link is followed: the options are where it points, and the link stays the user's.
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) return path;
    const auto target = std::filesystem::weakly_canonical(path, error);
    return error ? path : target;
}

void OptionMenuState::read()
{
    found_.clear();
    applicationUpdating_ = true;
    deviceUpdating_ = true;
    std::error_code error;
    const std::filesystem::path stored = file(path_);
    if (std::filesystem::exists(stored, error)) {
        platform::Error failure;
        const auto value = platform::PropertyList::readFile(stored, &failure);
        if (value && value->dictionary()) {
            applicationUpdating_ = boolOf(value->get(kApplicationUpdatingKey));
            deviceUpdating_ = boolOf(value->get(kDeviceUpdatingKey));
            // Only an option file a link points at is written through it.
            if (stored != path_) found_ = stored;
            return;
        }
        // Only a damaged content is replaced: a file that cannot be read now (not readable, not a file) is
        // left as it is, and this run has both options on.
        if (!value && failure.domain == platform::PropertyList::kErrorDomain &&
            failure.code == platform::PropertyList::kReadFailed) {
            RIG_LOG("cannot read %s: %s", stored.c_str(), failure.description.c_str());
            return;
        }
    }
    write();
}

void OptionMenuState::toggleApplicationUpdating()
{
    applicationUpdating_ = !applicationUpdating_;
    write();
}

void OptionMenuState::toggleDeviceUpdating()
{
    deviceUpdating_ = !deviceUpdating_;
    write();
}

void OptionMenuState::write() const
{
    platform::PlistDictionary options;
    options[kApplicationUpdatingKey] = applicationUpdating_;
    options[kDeviceUpdatingKey] = deviceUpdating_;
    // A link to anything but an option file (a user's own file, a missing one) gives way to a plain file in
    // its place: nothing outside the data folder is ever written. The link is judged when the write runs, as
    // a tool may point it at another file meanwhile: only the file the read found is written through it.
    auto work = [link = path_, found = found_, value = platform::PlistValue(std::move(options))] {
        const std::filesystem::path path = !found.empty() && file(link) == found ? found : link;
        platform::Error error;
        if (!platform::PropertyList::writeFile(path, value, platform::PlistFormat::Xml, &error))
            RIG_LOG("cannot write %s: %s", path.c_str(), error.description.c_str());
    };
    if (writer_) {
        writer_(std::move(work));
    } else {
        work();
    }
}
