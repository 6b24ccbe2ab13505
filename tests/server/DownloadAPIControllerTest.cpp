#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "platform/url/URLError.h"
#include "server/NetworkingService.h"
#include "support/image/ImageMaker.h"
#include "support/server/DownloadRequests.h"

using namespace support::downloadrequests;

namespace {

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

TEST(DownloadAPIController, DocumentsByWhatTheServerAnswers)
{
    Requests r;
    r.server.serve("/v1/good.json", R"({"qfx_url":"u","models":[]})", "application/json");
    r.server.serve("/v1/empty.json", "", "application/json");
    r.server.serve("/v1/garbage.json", "<html>oops", "text/html");

    auto good = r.document("/v1/good.json");
    EXPECT_TRUE(good->success);
    EXPECT_EQ(good->document->at("qfx_url"), "u");
    ASSERT_TRUE(good->path);
    EXPECT_EQ(fs::path(*good->path).parent_path(), r.root / "OKVServerTemp");
    EXPECT_TRUE(fs::exists(*good->path));
    // Two downloads of one link never share a file.
    EXPECT_NE(*r.document("/v1/good.json")->path, *good->path);

    auto empty = r.document("/v1/empty.json");
    EXPECT_FALSE(empty->success || empty->document || empty->path || empty->error);
    auto garbage = r.document("/v1/garbage.json");
    EXPECT_FALSE(garbage->success || garbage->document);
    EXPECT_TRUE(garbage->path && garbage->error && fs::exists(*garbage->path));
    auto missing = r.document("/v1/missing.json");
    EXPECT_FALSE(missing->success || missing->path);
    EXPECT_EQ(missing->document, (nlohmann::json{{"FileName", "missing.json"}}));
    EXPECT_TRUE(missing->error);
    EXPECT_EQ(missing->calls, 1);
}

// A failed archive keeps the effect's old files and leaves nothing beside them. Archives are held in memory
// until unpacked: one beyond what a download may hold fails as too large, announced or not.
TEST(DownloadAPIController, ArchivesReplaceTheirTypeFolderOrFailAlone)
{
    Requests r;
    r.server.serve("/qfx/0B000123.zip", r.zip({zipmaker::file("drive.QF2", "new module")}), "application/zip");
    r.server.serve("/qfx/broken.zip", "PK\3\4 not an archive", "application/zip");
    r.server.serve("/qfx/plain.bin", "module without archive");
    const std::string huge(NetworkingService::Limits{}.heldBytes + 1, 'x');
    r.server.serve("/qfx/huge.zip", huge, "application/zip");
    r.server.serve("/qfx/unannounced.zip", Reply{200, "application/zip", huge, {}, 1 << 20});
    r.write("QFXMacApplication/Effect/0B000123/old.QF2", "old");
    r.write("QFXMacApplication/Effect/0C000001/kept.QF2", "old");

    auto unpacked = r.archive("/qfx/0B000123.zip", "0B000123");
    EXPECT_TRUE(unpacked->success && unpacked->onBackground);
    EXPECT_EQ(r.read("QFXMacApplication/Effect/0B000123/drive.QF2"), "new module");
    EXPECT_EQ(r.filesIn("QFXMacApplication/Effect/0B000123"), 1u);

    const struct {
        const char* link;
        const char* type;
        bool reachesServer;
        std::int64_t code = 0;  // 0: any
    } failures[] = {
        {"/qfx/broken.zip", "0C000001", true},   // corrupt: the old module stays usable
        {"/qfx/broken.zip", "0C000002", true},   // corrupt, a new type: no empty folder stands for it
        {"/qfx/plain.bin", "0C000001", true},    // not an archive: reported, and removed
        {"/qfx/huge.zip", "0C000001", true, platform::URLErrorDataLengthExceedsMaximum},
        {"/qfx/unannounced.zip", "0C000001", true, platform::URLErrorDataLengthExceedsMaximum},
        {"/qfx/0B000123.zip", "../up", false},   // hostile type text: never becomes a folder
        {"/qfx/0B000123.zip", "", false},
        {"/", "0C000001", false},               // no file name in the link
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(std::string(f.link) + " " + f.type);
        const int hitsBefore = r.server.hits(f.link);
        auto outcome = r.archive(f.link, f.type);
        EXPECT_FALSE(outcome->success);
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_EQ(r.server.hits(f.link) > hitsBefore, f.reachesServer);
        if (f.code) { EXPECT_EQ(outcome->error ? outcome->error->code : 0, f.code); }
    }
    EXPECT_EQ(r.read("QFXMacApplication/Effect/0C000001/kept.QF2"), "old");
    EXPECT_EQ(r.filesIn("QFXMacApplication/Effect"), 2u);
    EXPECT_FALSE(fs::exists(r.root / "QFXMacApplication/up"));
    EXPECT_EQ(r.filesIn("OKVServerTemp"), 0u);

    // A model's archives lie side by side in the model's folder.
    r.server.serve("/qfx/0D000001.zip", r.zip({zipmaker::file("amp.QF2", "amp")}), "application/zip");
    auto first = std::make_shared<Outcome>(), second = std::make_shared<Outcome>();
    r.controller->requestFile(r.fileInto(first), r.server.url("/qfx/0B000123.zip"), DownloadAPIController::FolderName{"QX-1"});
    r.controller->requestFile(r.fileInto(second), r.server.url("/qfx/0D000001.zip"), DownloadAPIController::FolderName{"QX-1"});
    EXPECT_TRUE(r.wait(first)->success && r.wait(second)->success);
    EXPECT_EQ(r.read("QFXMacApplication/Effect/QX-1/0B000123/drive.QF2"), "new module");
    EXPECT_EQ(r.read("QFXMacApplication/Effect/QX-1/0D000001/amp.QF2"), "amp");
}

// Downloads can outrun the unpackers (a fast line, a slow disk): archives waiting in memory past the budget
// hold back further downloads until unpacked ones let their bytes go, so a long batch cannot fill memory.
TEST(DownloadAPIController, ArchivesWaitingToBeUnpackedHoldBackFurtherDownloads)
{
    Requests r;
    auto controller = DownloadAPIController::create(r.dispatch, r.root.string(), r.configuration(), 1);
    r.server.stall("/qfx/slow.zip");  // answered, once released, with a body that is no archive
    // Every unpacker busy until released.
    std::promise<void> unpackers;
    const std::shared_future<void> unpacking = unpackers.get_future().share();
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
        r.dispatch.computation().async([unpacking] { unpacking.wait(); });
    const auto outcomes = r.archives(*controller, 12, [](int) { return "/qfx/slow.zip"; });
    ASSERT_TRUE(r.loop.runUntil([&] { return r.server.hits("/qfx/slow.zip") == 8; }));
    // The eight end and wait for an unpacker; past the budget, the other four do not start.
    r.server.release();
    r.loop.runUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(r.server.hits("/qfx/slow.zip"), 8);
    unpackers.set_value();
    for (const auto& outcome : outcomes) EXPECT_EQ(r.wait(outcome)->calls, 1);
    EXPECT_EQ(r.server.hits("/qfx/slow.zip"), 12);
}

// At most eight downloads run at once and each that ends starts the next; downloads that can never start
// go with their controller.
TEST(DownloadAPIController, AtMostEightDownloadsRunAtOnceAndThoseThatCanNeverStartGoWithTheirController)
{
    Requests r;
    // Downloads that can never start (as the program ends, nothing in flight or held will ever free a place)
    // must not keep their controller alive: it goes when its last holder lets go, and takes them along.
    r.server.serve("/v1/catalogue.json", "{}", "application/json");
    // No budget: nothing ever starts, as when the network has stopped with downloads still waiting.
    auto controller = DownloadAPIController::create(r.dispatch, r.root.string(), r.configuration(), 0);
    auto outcome = std::make_shared<Outcome>();
    controller->requestGetAPI([outcome](bool, auto, auto, auto) { ++outcome->calls; }, r.server.url("/v1/catalogue.json"));
    controller->requestFile(r.fileInto(outcome), r.server.url("/qfx/0B000123.zip"), DownloadAPIController::TypeEffect{"0B000123"});
    const std::weak_ptr<DownloadAPIController> watched = controller;
    const std::weak_ptr<Outcome> completions = outcome;
    controller.reset();
    outcome.reset();
    r.dispatch.waitUntilIdle();
    EXPECT_TRUE(watched.expired()) << "the waiting downloads keep their controller alive";
    EXPECT_TRUE(completions.expired()) << "the waiting completions outlive their controller";
    EXPECT_EQ(r.server.hits("/v1/catalogue.json"), 0);
    r.server.stall("/qfx/slow.zip");  // answered, once released, with a body that is no archive
    // Three that fail at once free their places; eight slow ones then fill every place and the ninth waits.
    const auto outcomes = r.archives(*r.controller, 12, [](int i) { return i < 3 ? "/qfx/missing.zip" : "/qfx/slow.zip"; });
    const auto ended = [&](std::size_t to) {
        return std::all_of(outcomes.begin(), outcomes.begin() + long(to), [](const auto& outcome) {
            std::lock_guard lock(outcome->mutex);
            return outcome->calls > 0;
        });
    };
    ASSERT_TRUE(r.loop.runUntil([&] { return ended(3) && r.server.hits("/qfx/slow.zip") == 8; }));
    EXPECT_EQ(r.server.hits("/qfx/slow.zip"), 8);
    r.server.release();
    ASSERT_TRUE(r.loop.runUntil([&] { return ended(12); }));
    EXPECT_EQ(r.server.hits("/qfx/slow.zip"), 9);
    for (const auto& outcome : outcomes) EXPECT_EQ(outcome->calls, 1);
}

// Whatever the server answers in a picture's place, and wherever the model's name would put it, the model's
// old picture stays unless the answer is an image the reader opens within its bounds.
TEST(DownloadAPIController, APictureReplacesTheOldOneOnlyWhenItDecodesAndStaysInItsFolder)
{
    const std::string png = asText(imagemaker::png(3, 2));
    const struct {
        const char* what;
        Reply reply;
        const char* modelID = "12345678";
        bool success = false;
    } cases[] = {
        {"an HTML page", {200, "text/html", "<html><body>Maintenance</body></html>", {}}},
        {"an HTML page called a PNG", {200, "image/png", "<!DOCTYPE html><html></html>", {}}},
        {"a PNG header declaring 100000x100000", {200, "image/png", asText(imagemaker::pngDeclaring(100000, 100000)), {}}},
        {"a PNG cut short", {200, "image/png", asText(imagemaker::png(40, 40)).substr(0, 60), {}}},
        {"an empty body", {200, "image/png", "", {}}},
        {"a server error", {500, "text/html", "<html>error</html>", {}}},
        {"9 MiB", {200, "image/png", std::string(9u << 20, 'x'), {}}},
        {"a PNG", {200, "image/png", png, {}}, "12345678", true},
        {"a JPEG", {200, "image/jpeg", asText(imagemaker::jpeg(4, 4)), {}}, "12345678", true},
        {"a model name with a slash", {200, "image/png", png, {}}, "a/b"},
        {"a model name climbing out", {200, "image/png", png, {}}, ".."},
        // A folder in the picture's place cannot be replaced by the picture.
        {"a folder in the picture's place", {200, "image/png", png, {}}, "blocked"},
    };
    Requests r;
    r.write("QFXMacApplication/Image/blocked.png/inside", "x");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        r.server.serve("/img/qx1.png", c.reply);
        r.write("QFXMacApplication/Image/12345678.png", "old picture");
        EXPECT_EQ(r.picture(r.server.url("/img/qx1.png"), c.modelID)->success, c.success);
        EXPECT_EQ(r.read("QFXMacApplication/Image/12345678.png"), c.success ? c.reply.body : "old picture");
        EXPECT_EQ(r.filesIn("OKVServerTemp"), 0u);
    }
    EXPECT_EQ(r.filesIn("QFXMacApplication/Image"), 2u);
    // A catalogue model without a picture link fails alone, keeping the picture it has.
    EXPECT_FALSE(r.picture("", "12345678")->success);
    EXPECT_EQ(r.read("QFXMacApplication/Image/12345678.png"), "old picture");
}

// The server check is yes only for a 200; a modification date is the Last-Modified, else the Date, of a 200.
TEST(DownloadAPIController, ServerCheckAndModificationDateOnlyFor200)
{
    const auto noon = std::chrono::system_clock::from_time_t(784111777);  // Sun, 06 Nov 1994 08:49:37 GMT
    const std::string lastModified = "Sun, 06 Nov 1994 08:49:37 GMT", date = "Mon, 07 Nov 1994 08:49:37 GMT";
    Requests r;
    for (int status : {200, 204, 304, 404, 500}) {
        r.server.serve("/v1/effects.json", Reply{status, "application/json", "", {}});
        EXPECT_EQ(r.controller->checkServerConnectWithURLString(r.server.url("/v1/effects.json")), status == 200) << status;
    }
    EXPECT_FALSE(r.controller->checkServerConnectWithURLString("http://127.0.0.1:1/v1/effects.json"));
    auto dateFor = [&](int status, std::vector<std::pair<std::string, std::string>> headers) {
        r.server.serve("/v1/effects.json", Reply{status, "application/json", "", std::move(headers)});
        return r.controller->lastModificationDateOfFileAtURL(r.server.url("/v1/effects.json"));
    };
    EXPECT_EQ(dateFor(200, {{"Last-Modified", lastModified}, {"Date", date}}), noon);
    // An unreadable Last-Modified falls back to the answer's own date.
    EXPECT_EQ(dateFor(200, {{"Last-Modified", "yesterday"}, {"Date", date}}), noon + std::chrono::hours(24));
    EXPECT_EQ(dateFor(200, {{"Last-Modified", "yesterday"}}), std::nullopt);
    EXPECT_EQ(dateFor(404, {{"Last-Modified", lastModified}}), std::nullopt);
    EXPECT_EQ(dateFor(204, {{"Last-Modified", lastModified}}), std::nullopt);
    EXPECT_EQ(r.controller->lastModificationDateOfFileAtURL("http://127.0.0.1:1/v1/effects.json"), std::nullopt);

    EXPECT_EQ(DownloadAPIController::coverFileNameWithURL("http://127.0.0.1:8080/v1/qfx list.json?model=1,2"), "http1270018080v1qfxlistjsonmodel12");
}

TEST(DownloadTempFolder, WipeSparesFilesOfRunningDownloads)
{
    ServerFixture f;
    const std::string folder = (f.root / "OKVServerTemp").string();
    fs::create_directories(folder);
    const std::string running = DownloadTempFolder::claim(folder, "effects.json");
    const std::string finished = DownloadTempFolder::claim(folder, "effects.json");
    for (const auto& path : {running, finished, folder + "/stale.zip"}) f.write("OKVServerTemp/" + fs::path(path).filename().string(), "{}");
    DownloadTempFolder::release(finished);
    fs::last_write_time(finished, fs::last_write_time(running) + std::chrono::seconds(1));
    EXPECT_EQ(DownloadTempFolder::latest(folder, "effects.json"), finished);
    DownloadTempFolder::wipe(folder);
    EXPECT_TRUE(fs::exists(running));
    EXPECT_FALSE(fs::exists(finished) || fs::exists(f.root / "OKVServerTemp/stale.zip"));
    DownloadTempFolder::release(running);
}
