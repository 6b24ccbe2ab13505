#include <gtest/gtest.h>

#include "server/AllQFXData.h"
#include "server/AppsVersion.h"
#include "server/ModelsVersion.h"
#include "server/ServerJSON.h"

using nlohmann::json;

namespace {

json parse(const char* text)
{
    auto object = ServerJSON::objectFromData(text);
    EXPECT_TRUE(object.has_value()) << text;
    return object.value_or(json::object());
}

const char* kCatalogue = R"({
  "qfx_url": "https://example.test/qfx/",
  "futureKey": {"nested": [1, 2, 3]},
  "models": [
    {
      "modelId": "12345678",
      "modelName": "Unit One",
      "jpegImage": "https://example.test/one.jpg",
      "qfxGeneration": "0x00000003",
      "qfxSupportRegions": "8000000000000001",
      "ptcGeneration": "",
      "qfxRegionLevels": [1, 2, 300],
      "qfxMaxNumOfUnit": 9,
      "ptcMaxNumOfUnit": 6,
      "effects": [
        {"type": "0B000123", "fileName": "Comp.zip", "version": "1.02"},
        {"type": "0x0C000001", "fileName": "Amp.zip", "version": "2"}
      ]
    }
  ]
})";

using Levels = std::vector<int>;

Levels firstLevels(const AllQFXModels::RegionLevels& levels, std::size_t count)
{
    return Levels(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(count));
}

} // namespace

TEST(ServerDocuments, CatalogueFieldsAndHexConversions)
{
    AllQFXData data = AllQFXData::initWithDic(parse(kCatalogue));
    EXPECT_FALSE(data.isEmpty() || data.isError());
    EXPECT_EQ(data.qfx_url(), "https://example.test/qfx/");
    ASSERT_EQ(data.modelsList()->size(), 1u);
    const AllQFXModels& model = data.modelsList()->front();
    EXPECT_EQ(std::tuple(model.modelIdInt(), model.modelIDString(), model.modelName(), model.jpegImage()),
              std::tuple(0x34127856, "12345678", "Unit One", "https://example.test/one.jpg"));
    EXPECT_EQ(model.qfxGenerationModel(), (AllQFXModels::Bytes4{3, 0, 0, 0}));
    EXPECT_EQ(model.qfxSupportRegionsModel(), (AllQFXModels::Bytes8{1, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_FALSE(model.ptcGenerationModel());      // empty text
    EXPECT_FALSE(model.ptcSupportRegionsModel());  // missing key
    ASSERT_TRUE(model.qfxRegionLevelsModel());
    EXPECT_EQ(firstLevels(*model.qfxRegionLevelsModel(), 4), (Levels{1, 2, 0x2C, 0}));  // 300 keeps its low byte
    EXPECT_EQ(std::pair(model.qfxMaxNumOfUnit(), model.ptcMaxNumOfUnit()), std::pair(std::int64_t{9}, std::int64_t{6}));

    ASSERT_EQ(model.effectsList().size(), 2u);
    const AllQFXEffects& comp = model.effectsList()[0];
    EXPECT_EQ(comp.typeEffect(), (std::array<uint8_t, 4>{0x23, 0x01, 0x00, 0x0B}));
    EXPECT_EQ(std::tuple(comp.typeEffectString(), comp.fileName(), comp.version()), std::tuple("0B000123", "Comp.zip", "1.02"));
    // The prefix stays in the text, which names the effect's folder.
    EXPECT_EQ(model.effectsList()[1].typeEffectString(), "0x0C000001");
    EXPECT_EQ(model.effectsList()[1].typeEffect(), (std::array<uint8_t, 4>{0x01, 0x00, 0x00, 0x0C}));

    // The model's identity reads alike in the version document.
    ModelsVersion versions = ModelsVersion::initWithDic(parse(R"({"models":[{"modelId":"12345678","modelVersion":"3.10"}]})"));
    ASSERT_EQ(versions.modelsList().size(), 1u);
    EXPECT_EQ(std::pair(versions.modelsList()[0].modelIdInt(), versions.modelsList()[0].modelVersion()), std::pair(0x34127856, std::string("3.10")));
    EXPECT_EQ(ModelDetail::intFromHexString("FFFF0000"), int32_t(0xFFFF0000));
    EXPECT_EQ(AllQFXModels::getIntFromString("  0Xa1b2c3d4"), int32_t(0xB2A1D4C3));
    const std::tuple<const char*, int, std::uint64_t> scans[] = {
        {"  \t0x1Fz9", 32, 0x1F},
        {"123456789", 32, 0xFFFFFFFF},  // too wide: all bits set
        {"00000000000000001", 64, 1},   // leading zeros never overflow
        {"1FFFFFFFFFFFFFFFF", 64, ~uint64_t(0)},
        {"zz", 32, 0}, {"0x", 32, 0}, {"-5", 32, 0}, {"", 64, 0},
    };
    for (const auto& [text, bits, value] : scans) EXPECT_EQ(ServerJSON::scanHex(text, bits), value) << text;
}

// An empty or error catalogue says so; a hostile document never throws and keeps what is usable.
TEST(ServerDocuments, EmptyErrorAndHostileDocumentsNeverThrowAndKeepWhatIsUsable)
{
    EXPECT_TRUE(AllQFXData().isEmpty() && AllQFXData().isError());
    AllQFXData noModels = AllQFXData::initWithDic(parse(R"({"qfx_url":"u","models":[]})"));
    EXPECT_EQ(std::pair(noModels.isEmpty(), noModels.isError()), std::pair(false, true));
    AllQFXData noUrl = AllQFXData::initWithDic(parse(R"({"models":[{"modelId":"1"}]})"));
    EXPECT_EQ(std::pair(noUrl.isEmpty(), noUrl.isError()), std::pair(false, true));
    ASSERT_TRUE(noUrl.modelsList());
    EXPECT_EQ(noUrl.modelsList()->size(), 1u);
    // A root that is not an object is the empty document.
    for (const char* root : {"[]", "3", "\"text\"", "null", "true"}) {
        json value = json::parse(root);
        EXPECT_TRUE(AllQFXData::initWithDic(value).isEmpty()) << root;
        EXPECT_TRUE(AppsVersion::initWithDic(value).appsList().empty()) << root;
        EXPECT_TRUE(ModelsVersion::initWithDic(value).modelsList().empty()) << root;
    }
    for (const char* text : {"", "{", "[1,2", "nul", "{\"a\":}", "\xff\xfe", "{} trailing", "[{}]"})  // the last valid JSON but no object
        EXPECT_FALSE(ServerJSON::objectFromData(text)) << text;

    json doc = parse(R"({
      "qfx_url": ["not", "a", "string"],
      "models": [
        7, "text", null, [],
        {
          "modelId": 305419896,
          "modelName": {"x": 1},
          "qfxGeneration": 3,
          "qfxSupportRegions": "zz",
          "qfxRegionLevels": ["a", null, 1e300, -1, 2.9, true, {"n": 1}],
          "qfxMaxNumOfUnit": 1e300,
          "ptcMaxNumOfUnit": 18446744073709551615,
          "effects": {"type": "01"}
        },
        {"qfxMaxNumOfUnit": "9", "ptcMaxNumOfUnit": -1e300, "qfxRegionLevels": "1,2",
         "effects": [1, {"type": 11, "fileName": 2, "version": ["1"]}, {"type": "FFFFFFFFFF"}]}
      ]
    })");
    AllQFXData data = AllQFXData::initWithDic(doc);
    EXPECT_FALSE(data.qfx_url());  // wrong kind counts as missing
    EXPECT_TRUE(data.isError());
    ASSERT_EQ(data.modelsList()->size(), 2u);  // non-object elements skipped

    const AllQFXModels& first = (*data.modelsList())[0];
    EXPECT_EQ(std::tuple(first.modelIdInt(), first.modelIDString(), first.modelName()), std::tuple(0, "", ""));
    EXPECT_FALSE(first.qfxGenerationModel());
    EXPECT_EQ(first.qfxSupportRegionsModel(), AllQFXModels::Bytes8{});  // text without digits reads as 0
    ASSERT_TRUE(first.qfxRegionLevelsModel());
    // 1e300 saturates to the largest 64-bit value and -1 keeps its low byte; 2.9 is cut to 2.
    EXPECT_EQ(firstLevels(*first.qfxRegionLevelsModel(), 6), (Levels{0, 0, 0xFF, 0xFF, 2, 0}));
    EXPECT_EQ(std::pair(first.qfxMaxNumOfUnit(), first.ptcMaxNumOfUnit()), std::pair(INT64_MAX, INT64_MAX));
    EXPECT_TRUE(first.effectsList().empty());

    const AllQFXModels& second = (*data.modelsList())[1];
    EXPECT_EQ(std::pair(second.qfxMaxNumOfUnit(), second.ptcMaxNumOfUnit()), std::pair(std::int64_t{0}, INT64_MIN));
    EXPECT_FALSE(second.qfxRegionLevelsModel());
    ASSERT_EQ(second.effectsList().size(), 2u);
    EXPECT_EQ(second.effectsList()[0].typeEffectString(), "");
    EXPECT_EQ(second.effectsList()[1].typeEffect(), (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));

    AppsVersion apps = AppsVersion::initWithDic(parse(R"({"apps":[1,{"appName":"Tonvault","appVersionMac":"2.1","appVersionWin":3,"new":1},[]]})"));
    ASSERT_EQ(apps.appsList().size(), 1u);
    EXPECT_EQ(std::tuple(apps.appsList()[0].appName(), apps.appsList()[0].appVersionMac(), apps.appsList()[0].appVersionWin()),
              std::tuple("Tonvault", "2.1", ""));
    EXPECT_TRUE(AppsVersion::initWithDic(parse(R"({"apps":{"appName":"x"}})")).appsList().empty());

    // Only the first 64 region levels are kept.
    json levels = json::array();
    for (int i = 0; i < 70; ++i) levels.push_back(i + 1);
    const auto table = AllQFXModels::convertToByteArrayWithArray(levels);
    EXPECT_EQ(std::pair(table[0], table[63]), std::pair(decltype(table[0])(1), decltype(table[0])(64)));
    EXPECT_EQ(AllQFXModels::convertToByteArrayWithArray(json::object()), AllQFXModels::RegionLevels{});
}
