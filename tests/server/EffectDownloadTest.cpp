#include <gtest/gtest.h>

#include "support/server/EffectStore.h"

using namespace support::effectstore;

TEST(EffectDownload, FirstRunFetchesEveryTypeOnceAndASecondRunOnlyTheNewerOne)
{
    EffectStore s;
    // Two models share the drive: it is fetched once.
    const Models first{{"12345678", {kDrive, kDelay}}, {"22334455", {kDrive, kReverb}}};
    s.serveArchives(first);
    ASSERT_TRUE(s.sync(first));
    EXPECT_EQ(std::pair(s.module("0B000123"), s.module("0D000300")), std::pair(std::string("0B000123 1.0"), std::string("0D000300 1.0")));
    EXPECT_EQ(s.hits({kDrive, kDelay, kReverb}), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(s.read("QFXMacApplication/Image/12345678.png"), imagemaker::pngText(2, 2));

    // The delay is newer on the server; the reverb's model is gone, so its folder is swept.
    const Models second{{"12345678", {kDrive, Effect{kDelay.type, "1.10"}}}};
    s.serveArchives(second);
    ASSERT_TRUE(s.sync(second));
    EXPECT_EQ(s.hits({kDrive, kDelay}), (std::vector<int>{1, 2}));
    EXPECT_EQ(std::pair(s.module("0C000200"), s.module("0B000123")), std::pair(std::string("0C000200 1.10"), std::string("0B000123 1.0")));
    EXPECT_FALSE(s.exists("Effect/0D000300"));
    EXPECT_TRUE(s.failedTypes().empty());

    // A missing folder brings its effect back even at an equal version.
    fs::remove_all(s.root / "QFXMacApplication/Effect/0B000123");
    ASSERT_TRUE(s.sync(second));
    EXPECT_EQ(s.hits(kDrive), 2);
    EXPECT_EQ(s.module("0B000123"), "0B000123 1.0");
}

// A failing archive never stops the batch, keeps the effect's earlier files, and is tried again by every
// later run until it arrives, even when the catalogue no longer calls it new.
TEST(EffectDownload, AFailingArchiveIsKeptInTheRetryListAndRetriedNextTime)
{
    EffectStore s;
    const Models first{{"12345678", {kDrive, kDelay}}};
    s.serveArchives(first);
    ASSERT_TRUE(s.sync(first));

    const Models second{{"12345678", {kDrive, Effect{kDelay.type, "2.0"}, kReverb}}};
    s.serveArchives(second);
    s.server.serve("/qfx/" + kDelay.archive(), support::LoopbackServer::Reply{500, "text/plain", "down", {}});
    s.server.serve("/qfx/" + kReverb.archive(), "not an archive at all", "application/zip");
    ASSERT_TRUE(s.sync(second));
    EXPECT_EQ(s.module("0C000200"), "0C000200 1.0");
    EXPECT_FALSE(s.exists("Effect/0D000300/0D000300.QF2"));
    Strings failed = s.failedTypes();
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (Strings{"0C000200", "0D000300"}));
    const auto list = platform::PropertyList::readFile(s.root / "QFXMacApplication/EffectDownloadFail.plist");
    // Completions end in any order; the delay's entry is whichever names its type.
    const auto& entry = list->at(list->at(0).get("TypeEffectString").asString() == "0C000200" ? 0 : 1);
    EXPECT_EQ(std::tuple(entry.get("CategoryID").asInteger(), entry.get("TypeEffect").asInteger(), entry.get("EffectName").asString(),
                         entry.get("EffectLink").asString()),
              std::tuple(0x0C, 0x0C000200, kDelay.archive(), s.server.url("/qfx/" + kDelay.archive())));

    // The stored catalogue now says 2.0 and the folder exists, yet the failure list brings it back.
    s.serveArchives(second);
    ASSERT_TRUE(s.sync(second));
    EXPECT_EQ(std::pair(s.module("0C000200"), s.module("0D000300")), std::pair(std::string("0C000200 2.0"), std::string("0D000300 1.0")));
    EXPECT_FALSE(s.exists("EffectDownloadFail.plist"));
    EXPECT_EQ(s.hits(kDrive), 1);
}

// The catalogue naming a new version is stored before its archive arrives and the old folder stays until
// then; a batch cut short there (the program quit) is found by the next run through the retry list.
TEST(EffectDownload, ABatchCutShortIsRetriedByTheNextRun)
{
    EffectStore s;
    const Models first{{"12345678", {kDrive, kDelay}}};
    const Models second{{"12345678", {kDrive, Effect{kDelay.type, "2.0"}}}};
    s.serveArchives(first);
    ASSERT_TRUE(s.sync(first));

    s.server.stall("/qfx/" + kDelay.archive());
    s.server.serve("/v1/effects.json", s.catalogue(second), "application/json");
    auto running = OKVServerController::create(s.dispatch, s.root.string(), s.configuration());
    running->setDelegate(s.ready);
    running->getAllQFXFileFromServer();
    ASSERT_TRUE(s.loop.runUntil([&] { return s.hits(kDelay) == 2 && s.read("QFXMacApplication/ALLQFXServer").find("2.0") != std::string::npos; }));

    // What the next run finds, had the program ended here.
    auto next = OKVServerController::create(s.dispatch, s.root.string(), s.configuration());
    ASSERT_TRUE(next->readAllQFXLocalWithPath((s.root / "QFXMacApplication/ALLQFXServer").string()));
    const auto again = next->getEffectNew();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(std::pair(again[0].typeEffectString(), again[0].version()), std::pair(kDelay.type, std::string("2.0")));

    // The batch ends, its pictures with it, before the store goes.
    const int pictures = s.ready->picturesAnswered;
    s.server.release();
    ASSERT_TRUE(s.loop.runUntil([&] { return s.ready->filesReady == 2 && s.ready->picturesAnswered > pictures; }));
}

// When the catalogue cannot be fetched, the stored one is checked against the store; a short store is
// downloaded again whole, each archive into a folder of its own under its model's folder.
TEST(EffectDownload, TheFallBackRefetchesAShortStoreArchiveByArchiveNotCountingHalfAnEffect)
{
    EffectStore s;
    const Models models{{"12345678", {kDrive, kDelay, kReverb}}};
    s.write("QFXMacApplication/ALLQFXServer", s.catalogue(models));
    s.write("QFXMacApplication/EffectDownloadFail.plist", "stale");
    s.serveArchives(models);
    ASSERT_TRUE(s.sync(models, true));
    for (const Effect& e : models.at("12345678"))
        EXPECT_EQ(s.read("QFXMacApplication/Effect/Model 12345678/" + e.type + "/" + e.type + ".QF2"), e.type + " 1.0");
    EXPECT_FALSE(s.exists("EffectDownloadFail.plist"));
    // A second fall-back finds the store complete and fetches nothing.
    ASSERT_TRUE(s.sync(models, true));
    EXPECT_EQ(s.hits(kDelay), 1);
    // The next online run sweeps the model folder's layout into one folder per type.
    ASSERT_TRUE(s.sync(models));
    EXPECT_EQ(s.module("0C000200"), "0C000200 1.0");
    EXPECT_FALSE(s.exists("Effect/Model 12345678/0C000200"));
    // A run killed while it unpacked leaves half an effect behind; the next start without the catalogue must
    // not count it as the effect, and no unpack leaves its work inside the store.
    EffectStore killed;
    const Models half{{"12345678", {kDrive, kDelay}}};
    killed.write("QFXMacApplication/ALLQFXServer", killed.catalogue(half));
    killed.serveArchives(half);
    killed.write("QFXMacApplication/Effect/0B000123/0B000123.QF2", "0B000123 1.0");
    killed.write("QFXMacApplication/Effect/.0C000200.new-Ab12Cd/0C000200.QF2", "0C000200 1.0");
    ASSERT_TRUE(killed.sync(half, true));
    EXPECT_EQ(killed.hits(kDelay), 1);
    EXPECT_EQ(killed.read("QFXMacApplication/Effect/Model 12345678/0C000200/0C000200.QF2"), "0C000200 1.0");
    // The unpacks worked beside the store and cleared up after themselves.
    const fs::path store = killed.root / "QFXMacApplication/Effect";
    for (const auto& item : fs::recursive_directory_iterator(store))
        EXPECT_TRUE(!item.path().filename().string().starts_with(".") || item.path() == store / ".0C000200.new-Ab12Cd")
            << "work left: " << item.path();
    EXPECT_TRUE(fs::is_empty(killed.root / "QFXMacApplication/.Effect-staging"));
}
