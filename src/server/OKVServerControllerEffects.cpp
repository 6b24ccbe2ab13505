// The catalogue diff, the effect download batches and the failure list kept between runs.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>

#include "common/Log.h"
#include "platform/files/LocalFileManager.h"
#include "platform/files/WorkFolderName.h"
#include "platform/plist/PropertyList.h"
#include "platform/text/VersionComparison.h"
#include "server/DownloadAPIController.h"
#include "server/OKVServerController.h"
#include "server/ServerJSON.h"

namespace fs = std::filesystem;
using platform::PlistDictionary;
using platform::PlistValue;

namespace {

constexpr const char* kModuleExtension = "QF2";

std::uint32_t typeOf(const AllQFXEffects& effect)
{
    const auto& b = effect.typeEffect();
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::int64_t categoryOf(std::uint32_t type) { return (type >> 24) & 0xFF; }

const std::vector<AllQFXModels>& modelsOf(const AllQFXData& data)
{
    static const std::vector<AllQFXModels> none;
    return data.modelsList() ? *data.modelsList() : none;
}

bool isModuleFile(const fs::directory_entry& entry)
{
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::error_code error;
    return entry.is_regular_file(error) && extension == std::string(".") + kModuleExtension;
}

std::vector<fs::path> moduleFiles(const std::string& folder)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // What an unpack a killed run left is no effect: counted, it would stand for one not downloaded.
        if (platform::WorkFolderName::is(it->path().filename().string())) {
            it.disable_recursion_pending();
            continue;
        }
        if (isModuleFile(*it)) found.push_back(it->path());
    }
    return found;
}

// The retry list's entry for an effect of the update batch.
PlistDictionary failureEntry(const AllQFXEffects& effect, const std::string& link)
{
    const std::uint32_t type = typeOf(effect);
    return PlistDictionary{{"CategoryID", categoryOf(type)},
                           {"TypeEffect", static_cast<std::int64_t>(type)},
                           {"TypeEffectString", effect.typeEffectString()},
                           {"EffectLink", link},
                           {"EffectName", effect.fileName()}};
}

// What one batch shares among its completions: the requests still out and the failures so far.
struct Batch {
    std::mutex mutex;
    std::size_t pending = 0;
    std::vector<PlistValue> failures;

    // Records a failure (once) and counts the request done; true for the completion that ends the batch.
    bool complete(std::optional<PlistDictionary> failure, bool deduplicate)
    {
        std::lock_guard lock(mutex);
        if (failure) {
            PlistValue entry(std::move(*failure));
            if (!deduplicate || std::find(failures.begin(), failures.end(), entry) == failures.end())
                failures.push_back(std::move(entry));
        }
        return --pending == 0;
    }
};

}  // namespace

bool OKVServerController::checkVersionServer(const std::string& versionServer, const std::string& versionLocal)
{
    return platform::VersionComparison::compare(versionServer, versionLocal) != 0;
}

std::int32_t OKVServerController::countEffectInData(const AllQFXData& data)
{
    std::set<std::uint32_t> types;
    for (const AllQFXModels& model : modelsOf(data))
        for (const AllQFXEffects& effect : model.effectsList()) types.insert(typeOf(effect));
    return static_cast<std::int32_t>(types.size());
}

std::vector<AllQFXEffects> OKVServerController::getEffectNew()
{
    std::optional<AllQFXData> stored;
    const std::string storedFile = storedPath(kStoredCatalogue);
    std::error_code error;
    if (fs::exists(storedFile, error) && fs::file_size(storedFile, error) > 0 && !error) {
        platform::LocalFileManager files;
        const auto bytes = files.readFile(storedFile);
        const auto document =
            bytes ? ServerJSON::objectFromData(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()))
                  : std::nullopt;
        stored = document ? AllQFXData::initWithDic(*document) : AllQFXData();
    }
    const AllQFXData fresh = allQFXDataServer().value_or(AllQFXData());

    std::vector<AllQFXEffects> download;
    std::set<std::uint32_t> inDownload;
    std::set<std::uint32_t> seen;
    std::set<std::string> keep;
    const auto add = [&](const AllQFXEffects& effect) {
        if (inDownload.insert(typeOf(effect)).second) download.push_back(effect);
    };
    for (const AllQFXModels& model : modelsOf(fresh)) {
        const AllQFXModels* known = nullptr;
        if (stored)
            for (const AllQFXModels& candidate : modelsOf(*stored))
                if (candidate.modelIdInt() == model.modelIdInt()) {
                    known = &candidate;
                    break;
                }
        for (const AllQFXEffects& effect : model.effectsList()) {
            const std::uint32_t type = typeOf(effect);
            if (!known) {
                if (seen.insert(type).second) add(effect);
                continue;
            }
            const auto before = std::find_if(known->effectsList().begin(), known->effectsList().end(),
                                             [&](const AllQFXEffects& e) { return typeOf(e) == type; });
            // The new version replaces the folder whole once it has unpacked, so the old one stays until then.
            if (before == known->effectsList().end() || checkVersionServer(effect.version(), before->version()) ||
                !fs::exists(fs::path(m_resourceEffectPath) / effect.typeEffectString(), error))
                add(effect);
            if (seen.insert(type).second) keep.insert(effect.typeEffectString());
        }
    }
    for (AllQFXEffects& effect : getEffectFailWithEffectTypeList(inDownload, fresh)) download.push_back(std::move(effect));
    // A folder about to be replaced stays until its download has succeeded.
    for (const AllQFXEffects& effect : download) keep.insert(effect.typeEffectString());
    deleteEffectLocalWithEffectTypeList(keep);
    return download;
}

std::vector<AllQFXEffects> OKVServerController::getEffectFailWithEffectTypeList(std::set<std::uint32_t>& types,
                                                                                const AllQFXData& fresh)
{
    std::vector<AllQFXEffects> retry;
    const std::string failFile = storedPath(kEffectDownloadFail);
    std::error_code error;
    if (!fs::exists(failFile, error)) return retry;
    const auto list = platform::PropertyList::readFile(failFile);
    if (!list || !list->array()) return retry;
    for (const PlistValue& entry : *list->array()) {
        // Entries of a full re-download name no type: the store check of the next fall-back covers them.
        const auto number = entry.get("TypeEffect").asInteger();
        const auto text = entry.get("TypeEffectString").asString();
        const auto name = entry.get("EffectName").asString();
        if (!number || !text || !name) continue;
        const auto type = static_cast<std::uint32_t>(*number);
        if (!types.insert(type).second) continue;
        std::optional<AllQFXEffects> current;
        for (const AllQFXModels& model : modelsOf(fresh))
            for (const AllQFXEffects& effect : model.effectsList())
                if (!current && typeOf(effect) == type) current = effect;
        if (!current) {
            current = AllQFXEffects();
            current->setTypeEffectString(*text);
            current->setFileName(*name);
            current->setTypeEffect({static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8),
                                    static_cast<std::uint8_t>(type >> 16), static_cast<std::uint8_t>(type >> 24)});
        }
        retry.push_back(*current);
    }
    return retry;
}

void OKVServerController::deleteEffectLocalWithEffectTypeList(const std::set<std::string>& keep)
{
    // Judged by the folder right under the store, so a model folder of the full re-download goes whole,
    // whatever its archives' own folders are called.
    std::set<fs::path> stale;
    const fs::path store(m_resourceEffectPath);
    for (const fs::path& file : moduleFiles(m_resourceEffectPath)) {
        const fs::path top = *file.lexically_relative(store).begin();
        if (!keep.count(top.string())) stale.insert(store / top);
    }
    for (const fs::path& folder : stale) {
        std::error_code error;
        fs::remove_all(folder, error);
        if (error) RIG_LOG("cannot remove the stale effect folder %s: %s", folder.c_str(), error.message().c_str());
    }
}

void OKVServerController::downloadEffectServerWithList(const std::vector<AllQFXEffects>& list)
{
    if (list.empty()) {
        delegate()->downloadFileSuccess(true);
        return;
    }
    auto self = shared_from_this();
    auto batch = std::make_shared<Batch>();
    batch->pending = list.size();
    const std::string base = allQFXDataServer().value_or(AllQFXData()).qfx_url().value_or("");
    // The catalogue naming the new versions is stored before the batch ends and the old folders stay until
    // their replacements arrive, so a batch cut short (the program quit or died) would leave the old
    // versions for good. Until the batch ends, every effect of it counts as failed and is retried.
    std::vector<PlistValue> unfinished;
    for (const AllQFXEffects& effect : list) unfinished.emplace_back(failureEntry(effect, base + effect.fileName()));
    platform::Error error;
    std::error_code ignored;
    fs::create_directories(m_resourcePath, ignored);
    if (!platform::PropertyList::writeFile(storedPath(kEffectDownloadFail), PlistValue(unfinished),
                                           platform::PlistFormat::Xml, &error))
        RIG_LOG("cannot keep the downloads still to do: %s", error.describe().c_str());
    auto requests = DownloadAPIController::create(m_dispatch, m_root, m_configuration);
    for (const AllQFXEffects& effect : list) {
        const std::string link = base + effect.fileName();
        requests->requestFile(
            [self, batch, effect, link](bool success, std::optional<std::string>, std::optional<platform::Error> why) {
                std::optional<PlistDictionary> failure;
                if (!success) {
                    RIG_LOG("effect %s failed: %s", link.c_str(), why ? why->describe().c_str() : "");
                    failure = failureEntry(effect, link);
                }
                if (batch->complete(std::move(failure), true)) self->finishBatch(batch->failures);
            },
            link, DownloadAPIController::TypeEffect{effect.typeEffectString()});
    }
}

bool OKVServerController::checkEffectFolderInLocal()
{
    std::int64_t expected = countEffectInData(allQFXDataServer().value_or(AllQFXData()));
    if (const auto list = platform::PropertyList::readFile(storedPath(kEffectDownloadFail)); list && list->array())
        expected -= static_cast<std::int64_t>(list->array()->size());
    // A failed download keeps the effect's earlier files, so the store may hold more than that.
    return static_cast<std::int64_t>(moduleFiles(m_resourceEffectPath).size()) >= expected;
}

void OKVServerController::downloadEffectWithData(const AllQFXData& data)
{
    auto batch = std::make_shared<Batch>();
    for (const AllQFXModels& model : modelsOf(data)) batch->pending += model.effectsList().size();
    if (batch->pending == 0) {
        delegate()->downloadFileSuccess(true);
        return;
    }
    auto self = shared_from_this();
    auto requests = DownloadAPIController::create(m_dispatch, m_root, m_configuration);
    const std::string base = data.qfx_url().value_or("");
    for (const AllQFXModels& model : modelsOf(data))
        for (const AllQFXEffects& effect : model.effectsList()) {
            const std::string name = model.modelName();
            const std::int64_t category = categoryOf(typeOf(effect));
            requests->requestFile(
                [self, batch, name, category](bool success, std::optional<std::string>, std::optional<platform::Error>) {
                    std::optional<PlistDictionary> failure;
                    if (!success) failure = PlistDictionary{{"ModelName", name}, {"CategoryID", category}};
                    if (batch->complete(std::move(failure), false)) self->finishBatch(batch->failures);
                },
                base + effect.fileName(), DownloadAPIController::FolderName{name});
        }
}

void OKVServerController::finishBatch(const std::vector<PlistValue>& failures)
{
    const std::string failFile = storedPath(kEffectDownloadFail);
    platform::Error error;
    if (failures.empty()) {
        std::error_code ignored;
        fs::remove(failFile, ignored);
    } else if (!platform::PropertyList::writeFile(failFile, PlistValue(failures), platform::PlistFormat::Xml, &error)) {
        RIG_LOG("cannot keep the failed downloads: %s", error.describe().c_str());
    }
    downloadImageWithData(allQFXDataServer().value_or(AllQFXData()));
    delegate()->downloadFileSuccess(true);
}
