// Writes a small seed folder for every fuzz target: seed_corpus <folder> makes <folder>/<target>/.
// The seeds are the well-formed inputs each parser expects (archives, patch records, effect lists and
// modules, device replies, documents, header lines, routing answers...), made here at build time from the
// same builders the tests use, so a fuzzer starts inside the code it tests instead of at its first check.
#include <arpa/inet.h>
#include <net/if.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "device/commands/QFXMidiMessages.h"
#include "httpclient/URLObjectCoding.h"
#include "httpclient/operation/HTTPRequestOperationManager.h"
#include "httpclient/serialization/CompoundResponseSerializer.h"
#include "httpclient/serialization/JSONRequestSerializer.h"
#include "httpclient/serialization/JSONResponseSerializer.h"
#include "httpclient/serialization/XMLParserResponseSerializer.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/PropertyList.h"
#include "platform/text/ShiftJis.h"
#include "server/Pinger.h"
#include "support/device/DeviceUnit.h"
#include "support/device/EffectListMaker.h"
#include "support/device/ModuleFileMaker.h"
#include "support/image/FormatMaker.h"
#include "support/image/ImageMaker.h"
#include "support/plist/PlistFixtures.h"
#include "support/reachability/NetlinkAnswer.h"
#include "support/server/ZipMaker.h"

namespace fs = std::filesystem;

namespace {

class Corpus {
public:
    explicit Corpus(fs::path root) : m_root(std::move(root)) {}

    void add(const std::string& target, const Bytes& bytes)
    {
        const fs::path folder = m_root / target;
        fs::create_directories(folder);
        char name[32];
        std::snprintf(name, sizeof name, "seed-%03d", m_count[target]++);
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void add(const std::string& target, const std::string& text) { add(target, Bytes(text.begin(), text.end())); }

private:
    fs::path m_root;
    std::map<std::string, int> m_count;
};

Bytes toBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes little64(std::int64_t value)
{
    Bytes out(8);
    std::memcpy(out.data(), &value, 8);
    return out;
}

// Every message the simulated unit sends back to a session's worth of requests: identity, editor mode,
// the description records, a patch, and the file system walked through the effect list.
std::vector<Bytes> deviceReplies()
{
    platform::RunLoop loop;
    platform::Dispatch dispatch{loop, 1};
    platform::VirtualMidiSystem midi{dispatch};
    sim::DeviceUnit unit(midi);
    std::mutex mutex;
    Bytes stream;
    const auto client = midi.createClient("seeds", [](const platform::MidiNotification&) {});
    const auto in = midi.createInputPort(client, "in", [&](const platform::MidiPacketList& list) {
        std::lock_guard lock(mutex);
        for (const auto& packet : list) stream.insert(stream.end(), packet.begin(), packet.end());
    });
    const auto out = midi.createOutputPort(client, "out");
    midi.connectSource(in, unit.device().port().source());

    const std::uint8_t id = unit.device().state().identity.familyLow;
    std::vector<Bytes> replies;
    auto ask = [&](const Bytes& request) {
        midi.sendSysex(out, unit.device().port().destination(), request.data(), request.size(), {});
        midi.waitUntilDelivered();
        loop.runUntilIdle();
        std::lock_guard lock(mutex);
        for (std::size_t start = 0; start < stream.size();) {
            const auto end = std::find(stream.begin() + static_cast<long>(start), stream.end(), 0xF7);
            if (end == stream.end()) break;
            replies.emplace_back(stream.begin() + static_cast<long>(start), end + 1);
            start = static_cast<std::size_t>(end - stream.begin()) + 1;
        }
        const Bytes last = replies.empty() ? Bytes{} : replies.back();
        stream.clear();
        return last;
    };
    using M = QFXMidiMessages;
    ask(M::withDeviceID(OKV_MIDI_MSG_IDENTIFY_REQUEST, id));
    ask(M::withDeviceID(OKV_MIDI_MSG_ENTER_PC_ASYNC_MODE, id));
    ask(M::withDeviceID(OKV_MIDI_MSG_SUPPORT_QFX_INFORMATION_REQUEST, id));
    ask(M::withDeviceID(OKV_MIDI_MSG_SUPPORT_PATCH_INFORMATION_REQUEST, id));
    ask(M::withDeviceID(OKV_MIDI_MSG_ADVANCED_PATCH_DATA_INFORMATION_REQUEST, id));
    ask(M::withDeviceID(OKV_MIDI_MSG_INFO_READ, id));
    ask(*M::patchDumpRequest(id, 0, 0, 1));
    ask(M::withDeviceID(OKV_MIDI_MSG_F_DISKFREE, id));
    ask(*M::findFirst(id, sim::DeviceUnit::kEffectList));
    ask(*M::fileLength(id, sim::DeviceUnit::kEffectList));
    const Bytes opened = ask(*M::open(id, M::kOpenForRead, sim::DeviceUnit::kEffectList));
    const Bytes marker{0x10, 0x20, 0x30, 0x40};
    const auto at = std::search(opened.begin(), opened.end(), marker.begin(), marker.end());
    if (opened.end() - at >= 5) {
        const Bytes handle(at, at + 5);
        ask(M::read(id, handle));
        ask(M::withDeviceID(OKV_MIDI_MSG_FFS_ACK, id));
        ask(M::close(id, handle));
    }
    ask(M::withDeviceID(OKV_MIDI_MSG_TERMINATE_PC_ASYNC_MODE, id));
    midi.disconnectSource(in, unit.device().port().source());
    midi.disposePort(in);
    midi.disposePort(out);
    midi.disposeClient(client);
    return replies;
}

void deviceSeeds(Corpus& corpus)
{
    const auto replies = deviceReplies();
    for (const Bytes& reply : replies) corpus.add("fuzz_reply", reply);
    Bytes session;
    for (const Bytes& reply : replies) session.insert(session.end(), reply.begin(), reply.end());
    corpus.add("fuzz_reply", session);
    for (const Bytes& reply : replies) {
        // The advanced patch information reply, stripped of F0 and F7, behind a slot for each display mode.
        if (reply.size() > 6 && reply[1] == 0x7D && reply[4] == 0x43) {
            for (std::int32_t slot : {0, 1, 7}) {
                Bytes seed(12, 0);
                for (int i = 0; i < 3; ++i) std::memcpy(seed.data() + 4 * i, &slot, 4);
                seed.insert(seed.end(), reply.begin() + 1, reply.end() - 1);
                corpus.add("fuzz_slot_labels", seed);
            }
        }
    }

    corpus.add("fuzz_codecs", Bytes{});
    corpus.add("fuzz_codecs", Bytes{0x80, 0x7F, 0x00, 0xFF, 0x01, 0xFE, 0x02});
    corpus.add("fuzz_codecs", SimulatedPatchMemory::makePatchRecord("Codec", "", 20, 3));

    corpus.add("fuzz_patch_data", SimulatedPatchMemory::makePatchRecord("Clean", "", 0, 1));
    corpus.add("fuzz_patch_data", SimulatedPatchMemory::makePatchRecord("Lead Tone", "solo boost", 120, 2));
    corpus.add("fuzz_patch_data", SimulatedPatchMemory::makePatchRecord("Ambient", "long tail", 300, 7));

    // Effect lists: categories opened and closed around effect records.
    using effectlist::effect;
    using effectlist::marker;
    corpus.add("fuzz_effect_list", join({marker('>', 1), effect("COMP", "1.0", false, true, 1), marker('<', 1)}));
    corpus.add("fuzz_effect_list", join({marker('>', 1), effect("Comp", "1.02", true, true, 1), effect("Gate", "2", false, false, 2),
                                         marker('<', 1), marker('>', 2), effect("TapeDelay", "1.10", false, true, 3),
                                         marker('<', 2)}));

    corpus.add("fuzz_effect_module", modulefile::moduleFile());
    corpus.add("fuzz_effect_module", modulefile::moduleFile(140));
}

void documentSeeds(Corpus& corpus)
{
    using nlohmann::json;
    json model = {{"modelId", "00700001"},
                  {"modelName", "Unit One"},
                  {"jpegImage", "https://example.test/one.jpg"},
                  {"qfxGeneration", "0x00000003"},
                  {"qfxSupportRegions", "8000000000000001"},
                  {"ptcGeneration", "00000001"},
                  {"ptcSupportRegions", "0000000000000003"},
                  {"qfxRegionLevels", {1, 2, 300}},
                  {"qfxMaxNumOfUnit", 9},
                  {"ptcMaxNumOfUnit", 6},
                  {"effects",
                   {{{"type", "0B000123"}, {"fileName", "Comp.zip"}, {"version", "1.02"}},
                    {{"type", "0x0C000001"}, {"fileName", "Amp.zip"}, {"version", "2"}}}}};
    corpus.add("fuzz_server_json", json{{"qfx_url", "https://example.test/qfx/"}, {"models", {model}}}.dump(2));
    corpus.add("fuzz_server_json",
               json{{"apps", {{{"appName", "Rigmora"}, {"appVersion", "1.2.0"}, {"appVersionWin", "1.1"},
                               {"appVersionMac", "1.2.1"}}}}}
                   .dump());
    corpus.add("fuzz_server_json", json{{"models", {{{"modelId", "00700001"}, {"modelVersion", "3.10"}}}}}.dump());

    platform::PlistDictionary info{{"name", "Patch 01"},
                                   {"number", 12},
                                   {"level", 0.5},
                                   {"on", true},
                                   {"data", platform::Bytes{1, 2, 3}},
                                   {"list", platform::PlistArray{"a", 2}}};
    for (auto format : {platform::PlistFormat::Xml, platform::PlistFormat::Binary}) {
        auto bytes = platform::PropertyList::serialize(info, format);
        if (!bytes) continue;
        // The target puts the binary header back itself when the first byte is odd.
        Bytes seed{std::uint8_t(format == platform::PlistFormat::Binary ? 1 : 0)};
        seed.insert(seed.end(), bytes->begin() + (format == platform::PlistFormat::Binary ? 8 : 0), bytes->end());
        corpus.add("fuzz_plist", seed);
    }
    using platform::ArchivedValue;
    const auto archive = platform::KeyedArchiver::archive(ArchivedValue::dictionary(
        {{"fileName", ArchivedValue(platform::PlistValue("backup"))},
         {"patches", ArchivedValue::array({ArchivedValue(platform::PlistValue(1)), ArchivedValue(platform::PlistValue("x"))})}}));
    if (archive) {
        Bytes seed{1};
        seed.insert(seed.end(), archive->begin() + 8, archive->end());
        corpus.add("fuzz_plist", seed);
    }
    // Hostile: 255 nested dictionaries of 650 entries, every key one text of 512 KB (1.2 MB in all).
    const Bytes nested = plist_fixtures::nestedUnderOneKey(255, 650, 262144);
    Bytes seed{1};
    seed.insert(seed.end(), nested.begin() + 8, nested.end());
    corpus.add("fuzz_plist", seed);
}

void archiveSeeds(Corpus& corpus, const fs::path& scratch)
{
    const std::vector<std::vector<zipmaker::Entry>> archives = {
        {zipmaker::file("Comp.QT2", std::string(300, 'c'))},
        {zipmaker::folder("Effects/"), zipmaker::file("Effects/Gate.QT2", "gate data"),
         zipmaker::entry("Effects/Stored.txt", "stored", 0), zipmaker::file("readme.txt", "")},
        {zipmaker::file("a.txt", "one"), zipmaker::file("sub/b.txt", "two"), zipmaker::symlink("link", "a.txt")},
    };
    for (const auto& entries : archives) {
        const fs::path path = scratch / "seed.zip";
        if (zipmaker::write(path, entries)) corpus.add("fuzz_zip", zipmaker::readFile(path));
    }
}

void textSeeds(Corpus& corpus)
{
    for (const char* line : {"Content-Type: text/html; charset=UTF-8\r\ntext/html; charset=UTF-8",
                             "Location:   https://example.test/next\r\napplication/zip",
                             "HTTP/1.1 200 OK\r\nimage/jpeg; name=\"x\"; charset=\"Shift_JIS\"",
                             "X-Empty:\r\n;charset=",
                             "WWW-Authenticate: Negotiate abc==, Basic realm=\"y\"\r\ntext/plain"})
        corpus.add("fuzz_http_header", std::string(line));

    // Challenge lists as servers send them, then a user name: several schemes in one header, token68
    // credentials, the Digest scheme's own examples, an expired nonce, a user name with a line break.
    const std::string sha256Then = R"(Digest realm="http-auth@example.org", qop="auth, auth-int", algorithm=SHA-256, nonce="7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", opaque="FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS", )";
    for (const auto& [challenges, user] : std::vector<std::pair<std::string, std::string>>{
             {"Negotiate abc+/==, Basic realm=\"y\"", "ada"},
             {"Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\"", "ada"},
             {sha256Then + R"(Digest realm="http-auth@example.org", qop="auth, auth-int", algorithm=MD5, nonce="7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", opaque="FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS")", "Mufasa"},
             {R"(Digest realm="testrealm@host.com", qop="auth,auth-int", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", opaque="5ccc069c403ebaf9f0171e9517f40e41")", "Mufasa"},
             {"Digest realm=\"r\", qop=\"auth\", nonce=\"n2\", stale=true", "ada\r\nX-Injected: yes"},
             {", ,NTLM, Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256, Basic realm=\"never closed", "a\x7f\"\\"}}) {
        corpus.add("fuzz_http_challenge", challenges + std::string(1, '\0') + user);
    }

    for (const char* text : {"20240305_14:07:09.1234", "19700101_00:00:00.0000", "Sun, 06 Nov 1994 08:49:37 GMT",
                             "Thu, 29 Feb 2024 23:59:59 GMT"})
        corpus.add("fuzz_date_text", std::string(text));
    corpus.add("fuzz_date_text", little64(784111777LL * 10000));

    for (const std::vector<std::string>& texts : std::vector<std::vector<std::string>>{
             {"1.10", "1.9", "1.9.1"}, {"1.02", "1.2", "1.2a"}, {"2", "10", "v3"}, {"1.0.0", "1.0", ""},
             {"0010", "10", "10.0"}, {"3.10 beta", "3.9", "3.10"}}) {
        std::string seed;
        for (const auto& text : texts) seed += text + '\0';
        seed.pop_back();
        corpus.add("fuzz_version", seed);
    }

    if (auto bytes = platform::ShiftJis::encode("パッチ名 Clean ①")) corpus.add("fuzz_text_encoding", *bytes);
    corpus.add("fuzz_text_encoding", std::string("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB8"));
    corpus.add("fuzz_text_encoding", std::string("plain ascii"));

    corpus.add("fuzz_strings_table", std::string("/* Menu */\n\"Open\" = \"Open\";\n// note\n"
                                                 "\"Quote\" = \"a \\\"b\\\" \\\\ c\\n\\t\";\n"
                                                 "\"Smile\" = \"\\U263A \\UD83C\\UDFB8\";\n"));
    corpus.add("fuzz_strings_table", std::string("\xEF\xBB\xBF\"key\"=\"value\";\n\"bad\" = ;\n\"next\" = \"kept\";"));

    corpus.add("fuzz_string_format", join({little64(42), Bytes{}}));
    corpus.add("fuzz_string_format", little64(-7));
    {
        Bytes seed = little64(1234567);
        const std::string rest("Patch %@ holds %d effects (%ld%%) %x %\0name 100%\0other %@", 57);
        seed.insert(seed.end(), rest.begin(), rest.end());
        corpus.add("fuzz_string_format", seed);
    }

    for (const char* name : {"Patch 01", "..", "a/b", "Comp.QT2", "\\share", "."})
        corpus.add("fuzz_safe_name", std::string(name));
    corpus.add("fuzz_safe_name", std::string(256, 'n'));
}

// An IPv4 header and an echo reply to sequence 0 with a valid checksum.
void pingSeeds(Corpus& corpus)
{
    Bytes ip{0x45, 0, 0, 0, 0, 0, 0x40, 0, 64, 1, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1};
    Bytes icmp{0, 0, 0, 0, 0x12, 0x34, 0, 0};
    const Bytes payload = Pinger::defaultPayload(0);
    icmp.insert(icmp.end(), payload.begin(), payload.end());
    const std::uint16_t sum = Pinger::checksum(icmp.data(), icmp.size());
    std::memcpy(icmp.data() + 2, &sum, 2);
    // First byte: one ping sent; the pinger's identifier written in and the checksum mended.
    for (std::uint8_t control : {0x01, 0x0D, 0x0C}) corpus.add("fuzz_ping_reply", join({Bytes{control}, ip, icmp}));
    Bytes options = ip;
    options[0] = 0x46;
    options.insert(options.end(), {1, 1, 1, 0});
    corpus.add("fuzz_ping_reply", join({Bytes{0x0D}, options, icmp}));
}

void netlinkSeeds(Corpus& corpus)
{
    netlink::Answer links(1);
    for (auto [index, flags] : {std::pair<int, unsigned>{1, IFF_UP | IFF_RUNNING | IFF_LOOPBACK},
                                std::pair<int, unsigned>{2, IFF_UP | IFF_RUNNING}, std::pair<int, unsigned>{3, IFF_UP}}) {
        ifinfomsg info{};
        info.ifi_index = index;
        info.ifi_flags = flags;
        links.message(RTM_NEWLINK, info);
    }
    links.done();

    netlink::Answer routes(2);
    const int eth = 2;
    rtmsg defaultRoute{};
    defaultRoute.rtm_family = AF_INET;
    defaultRoute.rtm_type = RTN_UNICAST;
    routes.message(RTM_NEWROUTE, defaultRoute, netlink::Answer::attribute(RTA_OIF, &eth, sizeof eth));
    rtmsg subnet = defaultRoute;
    subnet.rtm_dst_len = 8;
    const std::uint8_t ten[4] = {10, 0, 0, 0};
    rtnexthop hops[2]{};
    for (int i = 0; i < 2; ++i) {
        hops[i].rtnh_len = sizeof(rtnexthop);
        hops[i].rtnh_ifindex = 2 + i;
    }
    routes.message(RTM_NEWROUTE, subnet,
                   join({netlink::Answer::attribute(RTA_DST, ten, 4), netlink::Answer::attribute(RTA_MULTIPATH, hops, sizeof hops)}));
    rtmsg v6 = defaultRoute;
    v6.rtm_family = AF_INET6;
    v6.rtm_dst_len = 3;
    const std::uint8_t global[16] = {0x20};
    routes.message(RTM_NEWROUTE, v6, join({netlink::Answer::attribute(RTA_DST, global, 16),
                                            netlink::Answer::attribute(RTA_OIF, &eth, sizeof eth)}));
    routes.done();

    netlink::Answer addresses(3);
    ifaddrmsg local{};
    local.ifa_family = AF_INET;
    local.ifa_index = 2;
    const std::uint8_t mine[4] = {10, 0, 0, 1};
    addresses.message(RTM_NEWADDR, local, netlink::Answer::attribute(IFA_LOCAL, mine, 4));
    addresses.done();

    const Bytes l = links.bytes(8), r = routes.bytes(8), a = addresses.bytes(8);
    for (std::uint8_t target = 0; target < 5; ++target)
        corpus.add("fuzz_rtnetlink", join({Bytes{std::uint8_t(l.size() / 8), std::uint8_t(r.size() / 8), target}, l, r, a}));
}

// Response bodies for the serializers; the first byte of each is the target's own switch byte (character set
// and options for JSON; for images the signature the target puts in front, so it is cut from the file).
void responseSeeds(Corpus& corpus)
{
    for (const std::uint8_t options : {0x00, 0x04, 0x08, 0x0D})
        corpus.add("fuzz_json_response", join({Bytes{options}, toBytes(R"({"a":[1,2.5,null,{"b":"x"}],"c":true})")}));
    corpus.add("fuzz_json_response", join({Bytes{0x04}, toBytes("\"fragment\"")}));
    corpus.add("fuzz_xml_response", std::string("<?xml version=\"1.0\"?><root a=\"1\"><item>text</item><empty/></root>"));
    corpus.add("fuzz_xml_response", std::string("<a><![CDATA[x<y]]><!-- note --><b c='d'>&amp;&lt;</b></a>"));
    const Bytes png = imagemaker::png(3, 2), jpeg = imagemaker::jpeg(5, 4);
    corpus.add("fuzz_image_response", join({Bytes{0x01}, Bytes(png.begin() + 8, png.end())}));
    corpus.add("fuzz_image_response", join({Bytes{0x02}, Bytes(jpeg.begin() + 3, jpeg.end())}));
}

// Whole files for each image reader, in the forms the reader takes apart differently.
void imageSeeds(Corpus& corpus)
{
    corpus.add("fuzz_gif_image", imagemaker::gif(5, 3));
    corpus.add("fuzz_gif_image", imagemaker::gif(9, 11, true, 3));
    for (const std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS})
        corpus.add("fuzz_tiff_image", imagemaker::tiff(6, 5, compression));
    for (const std::uint16_t bits : {1, 4, 8, 24, 32}) corpus.add("fuzz_bmp_image", imagemaker::bmp(7, 3, bits, bits == 32));
    Bytes runs = imagemaker::bmp(4, 2, 8);
    runs.resize(14 + 40 + 16);
    runs[30] = 1;
    runs.insert(runs.end(), {3, 1, 1, 2, 0, 0, 0, 3, 0, 1, 2, 0, 0, 2, 1, 0, 0, 1});
    corpus.add("fuzz_bmp_image", runs);
    corpus.add("fuzz_ico_image", imagemaker::ico(5, 4));
    corpus.add("fuzz_ico_image", imagemaker::ico(4, 4, 8));
    // Hostile: a kilobyte of runs claiming 8192 x 8192 and cut short, alone and as each of many icon
    // entries, and icon entries of PNG headers claiming the same over one pixel's data.
    Bytes hugeRuns = imagemaker::dib(4, 2, 8);
    hugeRuns.resize(40 + 16);
    for (auto [at, value] : {std::pair<std::size_t, std::uint32_t>{4, 8192}, {8, 16384}, {16, 1}})
        for (int i = 0; i < 4; ++i) hugeRuns[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    for (int i = 0; i < 512; ++i) hugeRuns.insert(hugeRuns.end(), {255, 1});
    Bytes hugeBitmap = imagemaker::bmp(4, 2, 8);
    hugeBitmap.resize(14);
    hugeBitmap.insert(hugeBitmap.end(), hugeRuns.begin(), hugeRuns.end());
    hugeBitmap[8 + 14] = 0x00, hugeBitmap[9 + 14] = 0x20, hugeBitmap[10 + 14] = 0, hugeBitmap[11 + 14] = 0;
    corpus.add("fuzz_bmp_image", hugeBitmap);
    for (const Bytes& entry : {hugeRuns, imagemaker::pngDeclaring(8192, 8192)}) {
        constexpr std::uint32_t kEntries = 64;
        Bytes icon;
        imagemaker::putLE(icon, 0, 2);
        imagemaker::putLE(icon, 1, 2);
        imagemaker::putLE(icon, kEntries, 2);
        for (std::uint32_t i = 0; i < kEntries; ++i) {
            icon.insert(icon.end(), {0, 0, 0, 0, 1, 0, 32, 0});
            imagemaker::putLE(icon, static_cast<std::uint32_t>(entry.size()), 4);
            imagemaker::putLE(icon, 6 + 16 * kEntries + i * static_cast<std::uint32_t>(entry.size()), 4);
        }
        for (std::uint32_t i = 0; i < kEntries; ++i) icon.insert(icon.end(), entry.begin(), entry.end());
        corpus.add("fuzz_ico_image", icon);
    }
    corpus.add("fuzz_xbm_image", imagemaker::xbm(10, 3));
    corpus.add("fuzz_xbm_image", std::string("#define w_width 16\n#define w_height 2\nstatic short w_bits[] = {0x8001, 0x00ff};\n"));
}

// Archives of the HTTP layer's classes, as their own writers make them.
void httpArchiveSeeds(Corpus& corpus)
{
    auto add = [&corpus](std::shared_ptr<platform::ArchivedObject> object) {
        if (auto bytes = platform::KeyedArchiver::archive(platform::ArchivedValue(std::move(object))))
            corpus.add("fuzz_http_archive", *bytes);
    };
    auto json = JSONResponseSerializer::serializer();
    json->acceptableStatusCodes = std::set<std::int64_t>{200, 204, 300, 301};
    add(CompoundResponseSerializer::compoundSerializerWithResponseSerializers({json, XMLParserResponseSerializer::serializer()})
            ->archivedObject());
    add(JSONRequestSerializer::serializer()->archivedObject());
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    platform::URLRequest request("http://127.0.0.1:1/doc");
    request.httpBody = std::vector<std::uint8_t>{'b'};
    request.setValue("v", "X-Field");
    add(std::make_shared<HTTPRequestOperation>(dispatch, request)->archivedObject());
    add(HTTPRequestOperationManager(dispatch, std::string("http://127.0.0.1:1/api")).archivedObject());

    // What the readers refuse: a default header or a request field that would add a line of its own to
    // every request, and time-outs that are not finite or are negative.
    auto injecting = HTTPRequestSerializer::serializer()->archivedObject();
    injecting->set("mutableHTTPRequestHeaders", URLObjectCoding::encodeStringMap({{"X-Client", "rig\r\nX-Injected: yes"}}));
    add(injecting);
    platform::URLRequest hostile("http://127.0.0.1:1/doc", std::numeric_limits<double>::infinity());
    hostile.totalTimeoutInterval = -1;
    hostile.slowTransferInterval = std::numeric_limits<double>::quiet_NaN();
    hostile.headerFields.emplace_back("X-Client", "rig\r\nX-Injected: yes");
    add(std::make_shared<HTTPRequestOperation>(dispatch, hostile)->archivedObject());

    // Hostile: archives of a few kilobytes that refer to one object thousands of times. 4,096 references to
    // one serializer whose status codes are one range of 2^20 codes; forty nested compound serializers
    // each listing the one below twice; 65,536 references to a pair of references to one megabyte.
    auto codes = URLObjectCoding::makeObject("NSIndexSet");
    codes->set("NSRangeCount", platform::PlistValue(1));
    codes->set("NSLocation", platform::PlistValue(0));
    codes->set("NSLength", platform::PlistValue(1 << 20));
    auto member = URLObjectCoding::makeObjectInFamily("HTTPResponseSerializer", "HTTPResponseSerializer");
    member->set("acceptableStatusCodes", platform::ArchivedValue(codes));
    auto compoundOf = [](std::vector<platform::ArchivedValue> members) {
        auto compound = URLObjectCoding::makeObjectInFamily("CompoundResponseSerializer", "HTTPResponseSerializer");
        compound->set("responseSerializers", platform::ArchivedValue::array(std::move(members), false));
        return compound;
    };
    add(compoundOf(std::vector<platform::ArchivedValue>(4096, platform::ArchivedValue(member))));
    auto level = member;
    for (int depth = 0; depth < 40; ++depth) level = compoundOf({platform::ArchivedValue(level), platform::ArchivedValue(level)});
    add(level);
    // By hand: this program's archiver writes a string at each place it stands.
    auto classOf = [](platform::PlistArray chain) {
        const platform::PlistValue name = chain.front();
        return platform::PlistValue(platform::PlistDictionary{{"$classname", name}, {"$classes", std::move(chain)}});
    };
    const platform::PlistValue wide = platform::PlistDictionary{
        {"$archiver", "NSKeyedArchiver"},
        {"$version", 100000},
        {"$top", platform::PlistDictionary{{"root", platform::PlistUid{1}}}},
        {"$objects",
         platform::PlistArray{"$null",
                              platform::PlistDictionary{{"$class", platform::PlistUid{2}}, {"request", platform::PlistUid{3}},
                                                        {"state", 1}, {"totalBytesRead", 0}},
                              classOf({"URLConnectionOperation", "NSOperation", "NSObject"}),
                              platform::PlistDictionary{{"$class", platform::PlistUid{4}},
                                                        {"URL", platform::PlistUid{5}},
                                                        {"HTTPMethod", platform::PlistUid{6}},
                                                        {"timeoutInterval", 10.0},
                                                        {"cachePolicy", 0},
                                                        {"headerFields", platform::PlistUid{7}}},
                              classOf({"NSURLRequest", "NSObject"}), "http://127.0.0.1/", "GET",
                              platform::PlistDictionary{{"$class", platform::PlistUid{8}},
                                                        {"NS.objects", platform::PlistArray(65536, platform::PlistUid{9})}},
                              classOf({"NSArray", "NSObject"}),
                              platform::PlistDictionary{{"$class", platform::PlistUid{8}},
                                                        {"NS.objects", platform::PlistArray{platform::PlistUid{10}, platform::PlistUid{10}}}},
                              std::string(1 << 20, 'x')}}};
    // Hostile too: 3,000 objects of one class whose list names 30,000 superclasses, some 100 KB written.
    const platform::PlistValue longList = plist_fixtures::archiveSharingOneClassList(3000, 30000);
    for (const platform::PlistValue* hostile : {&wide, &longList}) {
        if (auto bytes = platform::PropertyList::serialize(*hostile, platform::PlistFormat::Binary)) {
            corpus.add("fuzz_http_archive", *bytes);
            // The plist target puts the binary header back itself when the first byte is odd.
            Bytes seed{1};
            seed.insert(seed.end(), bytes->begin() + 8, bytes->end());
            corpus.add("fuzz_plist", seed);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    fs::create_directories(root);
    const fs::path scratch = root / ".scratch";
    fs::create_directories(scratch);
    Corpus corpus(root);
    deviceSeeds(corpus);
    documentSeeds(corpus);
    archiveSeeds(corpus, scratch);
    textSeeds(corpus);
    pingSeeds(corpus);
    netlinkSeeds(corpus);
    responseSeeds(corpus);
    imageSeeds(corpus);
    httpArchiveSeeds(corpus);
    fs::remove_all(scratch);
    return 0;
}
