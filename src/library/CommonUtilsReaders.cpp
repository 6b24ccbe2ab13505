#include <chrono>
#include <filesystem>
#include <string_view>

#include "common/Log.h"
#include "common/NSStringAddition.h"
#include "library/CommonUtils.h"
#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"
#include "platform/bundle/StringFormat.h"
#include "platform/files/FileManager.h"
#include "platform/text/DateText.h"
#include "platform/text/ShiftJis.h"
#include "platform/text/Utf8.h"
#include "platform/text/VersionComparison.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxPatchNameBytes = 10;
constexpr std::size_t kMaxCommentBytes = 200;

// The bytes before the first zero byte as text; a text that is not what `decode` accepts becomes empty.
std::string textUpToZero(const Bytes& bytes, bool shiftJis)
{
    const Bytes text = OKVPatch::subDataWithData(bytes);
    if (shiftJis) return platform::ShiftJis::decode(text).value_or(std::string());
    std::string utf8(text.begin(), text.end());
    return platform::Utf8::isValid(utf8) ? utf8 : std::string();
}

}  // namespace

std::string CommonUtils::createSynchronizationCode()
{
    return platform::DateText::formatStamp(std::chrono::system_clock::now());
}

std::shared_ptr<EffectItem> CommonUtils::getEffectItemWithPath(const std::string& given) const
{
    if (NSStringAddition::isBlankString(given)) return nullptr;
    std::string path = given;
    const std::string home = homeFolder();
    // A relative path that names neither the data folder nor the home folder is one of the effect pool's,
    // without the device's own folder.
    if (fs::path(path).is_relative() && path.find(m_rootPath) == std::string::npos &&
        (home.empty() || path.find(home) == std::string::npos)) {
        path = (fs::path(pathUnderRoot(kTempEffectPool)) / fs::path(path)).lexically_normal().string();
        std::string deviceName;
        {
            std::lock_guard lock(m_publishedMutex);
            deviceName = m_published.deviceName;
        }
        if (!NSStringAddition::isBlankString(deviceName))
            path = NSStringAddition::stringByDeletingPathComponent(path, deviceName);
    }
    const auto bytes = m_files.readFile(path);
    if (!bytes || bytes->empty()) return nullptr;
    const auto effect = OKVEffect::initWithData(*bytes);
    if (!effect) return nullptr;
    auto item = std::make_shared<EffectItem>();
    item->fileName = fs::path(path).filename().string();
    item->effectName = effect->typeName();
    item->effectCategory = effect->categoryLongStr();
    item->effectVersion = effect->version();
    item->path = path;
    item->effectType = effect->type();
    item->effectCategoryID = effect->category();
    item->effectUseUnitNum = effect->useUnitNum();
    item->effectColor = platform::PlistDictionary{{"Red", platform::PlistValue(effect->dispColorR())},
                                                  {"Green", platform::PlistValue(effect->dispColorG())},
                                                  {"Blue", platform::PlistValue(effect->dispColorB())}};
    const Bytes& icon = effect->icon().content();
    if (!icon.empty())
        if (auto picture = platform::BitmapImageRep::imageRepWithData(icon.data(), icon.size()))
            item->effectIcon = BitmapImage::make(picture->pixelsWide(), picture->pixelsHigh(), picture->bitmapData());
    item->effectNote = m_preferredLocalization == "ja" ? textUpToZero(effect->textCkJP().content(), true)
                                                       : textUpToZero(effect->textCkEN().content(), false);
    return item;
}

std::shared_ptr<PatchItem> CommonUtils::getPatchItemWithPath(const std::string& path) const
{
    const auto patch = getOKVPatchWithPath(path);
    return patch ? patchItemFromPatch(*patch, path) : nullptr;
}

std::shared_ptr<PatchItem> CommonUtils::patchItemFromPatch(const OKVPatch& patch, const std::string& path) const
{
    auto item = std::make_shared<PatchItem>();
    const std::string& name = patch.patchName();
    item->patchName = platform::Utf8::isValid(name) ? name.substr(0, name.find('\0')) : std::string();
    item->patchComment = m_preferredLocalization == "ja" ? textUpToZero(patch.commentJP().content(), true)
                                                         : textUpToZero(patch.commentEN().content(), false);
    item->path = path;
    return item;
}

std::string CommonUtils::getFileNameFromIndexSavingName(const std::string& name)
{
    return OKVLocalFileController::getFileNameFromIndexSavingName(name);
}

std::string CommonUtils::createNewNameForPath(const std::string& path) const
{
    const fs::path whole(path);
    const std::string stem = whole.stem().string();
    const std::string extension = whole.extension().string();
    for (std::int64_t n = 1;; ++n) {
        const fs::path candidate =
            whole.parent_path() / (platform::StringFormat::format("%@ (%d)", {stem, n}) + extension);
        if (!m_files.exists(candidate.string())) return candidate.string();
    }
}

bool CommonUtils::checkVersionServer(const std::string& versionServer, const std::string& versionDevice)
{
    return platform::VersionComparison::isNewer(versionServer, versionDevice);
}

bool CommonUtils::validatePatchName(const std::optional<std::string>& name)
{
    if (!name) return false;
    // Only the empty name is blank: a name of spaces is measured like any other.
    if (NSStringAddition::isBlankString(*name)) return true;
    // The unit's name field ends at a zero byte: a name holding one would not be the name written.
    if (name->find('\0') != std::string::npos) return false;
    return platform::Utf8::isAscii(*name) && name->size() <= kMaxPatchNameBytes;
}

bool CommonUtils::validatePatchComment(const std::optional<std::string>& comment, const std::string& language)
{
    if (!comment) return false;
    if (NSStringAddition::isBlankString(*comment)) return true;
    // The file drops every zero byte, so a comment holding one would not read back as written.
    if (comment->find('\0') != std::string::npos) return false;
    if (language != "ja") return platform::Utf8::isAscii(*comment) && comment->size() <= kMaxCommentBytes;
    const auto encoded = platform::ShiftJis::encode(*comment);
    return encoded && encoded->size() <= kMaxCommentBytes && readsBackAsWritten(*comment, *encoded);
}

bool CommonUtils::readsBackAsWritten(const std::string& comment, const std::vector<std::uint8_t>& encoded)
{
    const auto decoded = platform::ShiftJis::decode(encoded);
    if (decoded && *decoded == comment) return true;
    // Character by character: a character comes back as itself, or the wave dash as the full-width tilde,
    // the form the Japanese code page gives that very code (the list then shows the stored form). Any other
    // change is another character: "¥" as "\\", "‾" as "~", "‖" as "∥", the minus sign "−" as the
    // full-width hyphen-minus "－", "¢" as "￠".
    static constexpr std::string_view kWaveDash = "\xE3\x80\x9C";
    static constexpr std::string_view kFullWidthTilde = "\xEF\xBD\x9E";
    const auto length = [](unsigned char lead) { return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; };
    for (std::size_t at = 0; at < comment.size();) {
        const std::string character = comment.substr(at, static_cast<std::size_t>(length(static_cast<unsigned char>(comment[at]))));
        at += character.size();
        const auto bytes = platform::ShiftJis::encode(character);
        const auto back = bytes ? platform::ShiftJis::decode(*bytes) : std::nullopt;
        if (!back) return false;
        if (*back == character) continue;
        if (character != kWaveDash || *back != kFullWidthTilde) return false;
    }
    return true;
}

bool CommonUtils::deleteRecycleBin()
{
    const std::string bin = pathUnderRoot(kTempRecycleBin);
    if (!m_files.exists(bin)) return false;
    platform::Error error;
    if (m_files.removeItem(bin, &error)) return true;
    RIG_LOG("cannot empty the recycle bin: %s", error.description.c_str());
    return false;
}
