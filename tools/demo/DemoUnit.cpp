#include "DemoUnit.h"

#include <array>
#include <map>
#include <string>

#include "DemoCatalogue.h"
#include "device/formats/LittleEndian.h"
#include "device/formats/OKVEffect.h"
#include "device/formats/OKVQFXList.h"
#include "platform/text/ShiftJis.h"
#include "support/device/EffectListMaker.h"
#include "support/library/LibraryFiles.h"

namespace {

struct PatchText {
    const char* name;
    const char* comment;
    const char* japaneseComment;
};

// Names of at most seven characters, so "<name> <n>" fits the device's ten. A unit keeps a comment per
// language and a Japanese interface shows the Japanese one, so each patch carries both.
constexpr std::array<PatchText, 10> kPatchTexts{{
    {"Clean", "Bright clean for chords, compressor first", "コード向けの明るいクリーン、コンプが先"},
    {"Crunch", "Edge of break-up, rolls back clean", "歪み始めの境目、絞るとクリーンに戻る"},
    {"Lead", "Singing lead with a long delay", "ロングディレイで歌うリード"},
    {"Ambient", "Swells into a big hall", "大きなホールへ広がるスウェル"},
    {"Rhythm", "Tight gate for palm mutes", "ブリッジミュート用のタイトなゲート"},
    {"Blues", "Warm overdrive, a touch of reverb", "暖かいオーバードライブに少しのリバーブ"},
    {"Funk", "Auto-wah and a short compressor", "オートワウと短いコンプ"},
    {"Metal", "High gain with the noise gate on", "ノイズゲートを入れたハイゲイン"},
    {"Jazz", "Dark and round, no drive", "太く丸い音、歪みなし"},
    {"Shoegaz", "Chorus and tape delay, everything wet", "コーラスとテープディレイ、全部ウェット"},
}};

// How much of the unit's memory each loaded module file takes.
constexpr std::size_t kModuleFileSize = 320 * 1024;

// Where a patch record keeps the effect types of its two units.
constexpr std::size_t kFirstUnitType = 36;

// Gives a patch two of the model's effects, so each effect of the unit's list is used by a different
// number of patches: the first three in turn, the delay in every fourth, the not-loaded reverb in every
// tenth.
void useEffects(Bytes& record, int number)
{
    const auto& effects = DemoCatalogue::models().front().effects;
    const std::uint32_t first = effects[static_cast<std::size_t>(number % 3)].type;
    const std::uint32_t second = number % 10 == 3 ? effects[4].type : number % 4 == 0 ? effects[3].type : 0;
    LittleEndian::write32(record.data() + kFirstUnitType, first);
    LittleEndian::write32(record.data() + kFirstUnitType + 4, second);
}

// The record with its Japanese comment chunk holding `japanese` in Shift-JIS; a text that does not
// encode leaves the chunk empty, as a unit's own edit in another language would.
Bytes withJapaneseComment(const Bytes& record, const std::string& japanese)
{
    auto patch = OKVPatch::initWithData(record);
    if (!patch) return record;
    patch->commentJP().setContent(platform::ShiftJis::encode(japanese).value_or(Bytes()));
    return patch->getByteData();
}

}  // namespace

DemoUnit::DemoUnit(platform::Dispatch& dispatch) : m_system(dispatch), m_unit(m_system)
{
    // Slots labelled as a unit's display shows them: group from 01, then the patch from 1 ("01:1").
    sim::DeviceUnit::Descriptions descriptions;
    descriptions.display = {0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0};
    m_unit.setDescriptions(descriptions);
    fillPatches();
    loadEffects();
}

DemoUnit::~DemoUnit()
{
    if (!m_endReport && !m_beforeEnd) return;
    // What the host handed over last is on the simulated cable still; the unit hears it first.
    m_system.waitUntilDelivered();
    if (m_beforeEnd) m_beforeEnd(*this);
    if (!m_endReport) return;
    auto& device = m_unit.device();
    // The editing mode's end, the message a program sends as it lets its unit go.
    m_endReport(device.requestCount(sim::RequestKey::identity()) > 0, device.requestCount(sim::RequestKey::maker(0x53)) > 0);
}

std::shared_ptr<platform::MidiSystem> DemoUnit::system(const std::shared_ptr<DemoUnit>& unit)
{
    return {unit, &unit->m_system};
}

std::int32_t DemoUnit::patchCount() const
{
    const auto layout = sim::DeviceUnit::defaultLayout();
    return layout.groups * layout.banks * layout.patchs;
}

bool DemoUnit::patchesRead() { return patchRequests() >= static_cast<std::size_t>(patchCount()); }

std::size_t DemoUnit::patchRequests() { return m_unit.device().requestCount(sim::RequestKey::maker(0x46)); }

std::optional<OKVPatch> DemoUnit::patchAt(std::int32_t slot)
{
    const auto layout = sim::DeviceUnit::defaultLayout();
    const std::int32_t perGroup = layout.banks * layout.patchs;
    const auto record = m_unit.patches().patch(slot / perGroup, slot % perGroup / layout.patchs, slot % layout.patchs);
    if (!record) return std::nullopt;
    return OKVPatch::initWithData(*record);
}

std::optional<std::string> DemoUnit::patchNameAt(std::int32_t slot)
{
    const auto patch = patchAt(slot);
    if (!patch) return std::nullopt;
    return patch->patchName();
}

std::optional<std::string> DemoUnit::patchCommentAt(std::int32_t slot, const std::string& language)
{
    const auto patch = patchAt(slot);
    if (!patch) return std::nullopt;
    if (language == "ja") return platform::ShiftJis::decode(OKVPatch::subDataWithData(patch->commentJP().content()));
    const Bytes& content = patch->commentEN().content();
    std::string comment(content.begin(), content.end());
    comment.erase(comment.find_last_not_of(std::string("\0 ", 2)) + 1);
    return comment;
}

namespace {

template <typename Answer>
std::optional<Answer> listed(const std::optional<Bytes>& list, std::uint32_t type,
                             Answer (*answer)(const OKVQFXInformation&))
{
    if (!list) return std::nullopt;
    const OKVQFXList parsed = OKVQFXList::initWithByteData(*list);
    for (const auto& category : parsed.arrayCategory())
        for (const auto& effect : category.arrayQFXInformation())
            if (LittleEndian::read32(effect.type().data()) == type) return answer(effect);
    return std::nullopt;
}

}  // namespace

std::optional<bool> DemoUnit::isEffectLoaded(std::uint32_t type)
{
    return listed<bool>(m_unit.files().file(sim::DeviceUnit::kEffectList), type,
                        [](const OKVQFXInformation& effect) { return effect.isLoadedQFX(); });
}

std::optional<bool> DemoUnit::isEffectFavourite(std::uint32_t type)
{
    return listed<bool>(m_unit.files().file(sim::DeviceUnit::kEffectList), type,
                        [](const OKVQFXInformation& effect) { return effect.favoriteQFX(); });
}

std::optional<std::string> DemoUnit::effectVersion(std::uint32_t type)
{
    return listed<std::string>(m_unit.files().file(sim::DeviceUnit::kEffectList), type,
                               [](const OKVQFXInformation& effect) { return effect.versionQFX(); });
}

void DemoUnit::editOnUnit(std::int32_t slot, const std::string& name, const std::string& comment,
                          const std::string& japaneseComment)
{
    const auto layout = sim::DeviceUnit::defaultLayout();
    const std::int32_t perGroup = layout.banks * layout.patchs;
    const std::int32_t group = slot / perGroup, bank = slot % perGroup / layout.patchs, patch = slot % layout.patchs;
    m_unit.patches().setPatch(group, bank, patch,
                              withJapaneseComment(SimulatedPatchMemory::makePatchRecord(
                                                      name, comment, 160, static_cast<std::uint8_t>(slot)),
                                                  japaneseComment));
    m_unit.sendPatchNotice(group, bank, patch);
}

void DemoUnit::fillPatches()
{
    const auto layout = sim::DeviceUnit::defaultLayout();
    int number = 0;
    for (std::int32_t group = 0; group < layout.groups; ++group) {
        for (std::int32_t bank = 0; bank < layout.banks; ++bank) {
            for (std::int32_t patch = 0; patch < layout.patchs; ++patch, ++number) {
                const PatchText& text = kPatchTexts[static_cast<std::size_t>(number) % kPatchTexts.size()];
                const std::string name = std::string(text.name) + " " + std::to_string(number / 10 + 1);
                Bytes record = SimulatedPatchMemory::makePatchRecord(name, text.comment, 160,
                                                                     static_cast<std::uint8_t>(number));
                useEffects(record, number);
                m_unit.patches().setPatch(group, bank, patch, withJapaneseComment(record, text.japaneseComment));
            }
        }
    }
}

void DemoUnit::loadEffects()
{
    // As on a unit in use: each effect is listed under the category its module file names, by the name
    // of its file on the unit, so the host's edits find the record and its deletes the file.
    const DemoCatalogue::Model& model = DemoCatalogue::models().front();
    std::map<std::uint8_t, Bytes> categories;
    for (std::size_t i = 0; i < kListedEffects; ++i) {
        const DemoCatalogue::Effect& effect = model.effects[i];
        const bool loaded = i < kLoadedEffects;
        Bytes module = library_files::effectModule(effect.type, effect.name, effect.category, 1, 1, "1.00",
                                                   DemoCatalogue::looksOf(effect));
        const auto header = OKVEffect::initWithData(module);
        if (!header) continue;
        const std::string fileName = DemoCatalogue::typeText(effect.type) + ".QF2";
        const Bytes record = effectlist::effectOfType(fileName, "1.00", i == 0, loaded, effect.type);
        Bytes& records = categories[header->category()];
        records.insert(records.end(), record.begin(), record.end());
        if (!loaded) continue;
        module.resize(kModuleFileSize, 0);
        m_unit.files().setFile(fileName, std::move(module));
    }
    Bytes list;
    for (const auto& [id, records] : categories) {
        const Bytes open = effectlist::marker('>', id), close = effectlist::marker('<', id);
        list.insert(list.end(), open.begin(), open.end());
        list.insert(list.end(), records.begin(), records.end());
        list.insert(list.end(), close.begin(), close.end());
    }
    m_unit.files().setFile(sim::DeviceUnit::kEffectList, list);
}
