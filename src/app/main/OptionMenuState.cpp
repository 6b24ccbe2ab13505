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

void OptionMenuState::read()
{
    std::error_code error;
    if (std::filesystem::exists(path_, error)) {
        const auto value = platform::PropertyList::readFile(path_);
        if (value && value->dictionary()) {
            applicationUpdating_ = boolOf(value->get(kApplicationUpdatingKey));
            deviceUpdating_ = boolOf(value->get(kDeviceUpdatingKey));
            return;
        }
        std::filesystem::remove(path_, error);
    }
    applicationUpdating_ = true;
    deviceUpdating_ = true;
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
    auto work = [path = path_, value = platform::PlistValue(std::move(options))] {
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
