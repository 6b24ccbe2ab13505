// What an archive of the HTTP layer's classes may cost: the readers make a fresh value at each reference,
// so an archive of a few kilobytes that refers to one object thousands of times is refused with a clear
// error instead of taking gigabytes and hours.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "httpclient/ArchiveDecodingBudget.h"
#include "httpclient/URLConnectionOperation.h"
#include "httpclient/URLObjectCoding.h"
#include "httpclient/serialization/CompoundResponseSerializer.h"
#include "httpclient/session/URLSessionManager.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"

using namespace platform;

namespace {

// Through the archive's bytes, where an object put in many places is written once and referred to.
ArchivedValue throughBytes(std::shared_ptr<ArchivedObject> object)
{
    auto bytes = KeyedArchiver::archive(ArchivedValue(std::move(object)));
    EXPECT_TRUE(bytes);
    auto value = bytes ? KeyedUnarchiver::unarchive(*bytes) : std::nullopt;
    EXPECT_TRUE(value);
    return value ? *value : ArchivedValue();
}

std::shared_ptr<ArchivedObject> compoundOf(std::vector<ArchivedValue> members)
{
    auto compound = URLObjectCoding::makeObjectInFamily("CompoundResponseSerializer", "HTTPResponseSerializer");
    compound->set("responseSerializers", ArchivedValue::array(std::move(members), false));
    return compound;
}

void expectRefusedAsTooLarge(const std::optional<Error>& error)
{
    ASSERT_TRUE(error);
    EXPECT_NE(error->description.find("asks for more memory than a decoder may give it"), std::string::npos) << error->description;
}

}  // namespace

TEST(ArchiveBudget, ASerializerWhoseCodesAreReferredToThousandsOfTimesIsRefused)
{
    // One serializer whose status codes are one range of 2^20 codes, listed 4,096 times.
    auto codes = URLObjectCoding::makeObject("NSIndexSet");
    codes->set("NSRangeCount", PlistValue(1));
    codes->set("NSLocation", PlistValue(0));
    codes->set("NSLength", PlistValue(1 << 20));
    auto member = URLObjectCoding::makeObjectInFamily("HTTPResponseSerializer", "HTTPResponseSerializer");
    member->set("acceptableStatusCodes", ArchivedValue(codes));
    const auto archived = throughBytes(compoundOf(std::vector<ArchivedValue>(4096, ArchivedValue(member))));
    std::optional<Error> error;
    EXPECT_FALSE(HTTPResponseSerializer::decodeObject(archived, &error));
    expectRefusedAsTooLarge(error);

    // Once, the same serializer reads; the budget is the archive's, not the process's.
    auto once = std::dynamic_pointer_cast<CompoundResponseSerializer>(
        HTTPResponseSerializer::decodeObject(throughBytes(compoundOf({ArchivedValue(member)}))));
    ASSERT_TRUE(once);
    ASSERT_EQ(once->responseSerializers.size(), 1U);
    ASSERT_TRUE(once->responseSerializers.front()->acceptableStatusCodes);
    EXPECT_EQ(once->responseSerializers.front()->acceptableStatusCodes->size(), 1U << 20);
}

TEST(ArchiveBudget, NestedSerializersEachListingTheOneBelowTwiceAreRefused)
{
    auto level = URLObjectCoding::makeObjectInFamily("HTTPResponseSerializer", "HTTPResponseSerializer");
    for (int depth = 0; depth < 20; ++depth) level = compoundOf({ArchivedValue(level), ArchivedValue(level)});
    std::optional<Error> error;
    EXPECT_FALSE(HTTPResponseSerializer::decodeObject(throughBytes(level), &error));
    expectRefusedAsTooLarge(error);
}

TEST(ArchiveBudget, HeaderFieldsReferredToManyTimesAreRefused)
{
    // 200 references to one pair of references to one megabyte: within what the unarchiver shares, but
    // 400 MB once every field is made. Written by hand, as this program's archiver writes a string at
    // each place it stands.
    auto classOf = [](PlistArray chain) {
        const PlistValue name = chain.front();
        return PlistValue(PlistDictionary{{"$classname", name}, {"$classes", std::move(chain)}});
    };
    const PlistValue archive = PlistDictionary{
        {"$archiver", "NSKeyedArchiver"},
        {"$version", 100000},
        {"$top", PlistDictionary{{"root", PlistUid{1}}}},
        {"$objects",
         PlistArray{"$null",
                    PlistDictionary{{"$class", PlistUid{2}}, {"request", PlistUid{3}}, {"state", 1}, {"totalBytesRead", 0}},
                    classOf({"URLConnectionOperation", "NSOperation", "NSObject"}),
                    PlistDictionary{{"$class", PlistUid{4}},
                                    {"URL", PlistUid{5}},
                                    {"HTTPMethod", PlistUid{6}},
                                    {"timeoutInterval", 10.0},
                                    {"cachePolicy", 0},
                                    {"headerFields", PlistUid{7}}},
                    classOf({"NSURLRequest", "NSObject"}), "http://127.0.0.1/", "GET",
                    PlistDictionary{{"$class", PlistUid{8}}, {"NS.objects", PlistArray(200, PlistUid{9})}},
                    classOf({"NSArray", "NSObject"}),
                    PlistDictionary{{"$class", PlistUid{8}}, {"NS.objects", PlistArray{PlistUid{10}, PlistUid{10}}}},
                    std::string(1 << 20, 'x')}}};
    const auto value = KeyedUnarchiver::unarchive(archive);
    ASSERT_TRUE(value);

    RunLoop loop;
    Dispatch dispatch(loop);
    std::optional<Error> error;
    EXPECT_FALSE(URLConnectionOperation::decodeObject(dispatch, *value, &error));
    expectRefusedAsTooLarge(error);
}

// A text the readers take when it is there and pass over when it is not (a response's text encoding, a
// session's background identifier) still refuses the archive once it spends the budget: dropped, the
// archive would read as something it is not.
TEST(ArchiveBudget, AnOptionalTextPastTheBudgetRefusesTheArchiveRatherThanGoingMissing)
{
    // One text, shared by every place it is put.
    const ArchivedValue huge(PlistValue(std::string(ArchiveDecodingBudget::kMaximumCost + 1, 'x')));

    auto configuration = URLObjectCoding::makeObject("NSURLSessionConfiguration");
    configuration->set("timeoutIntervalForRequest", PlistValue(60.0));
    configuration->set("requestCachePolicy", PlistValue(0));
    configuration->set("HTTPShouldSetCookies", PlistValue(true));
    configuration->set("identifier", huge);
    EXPECT_FALSE(URLObjectCoding::decodeSessionConfiguration(ArchivedValue(configuration)));

    auto response = URLObjectCoding::makeObject("NSHTTPURLResponse");
    response->set("URL", PlistValue("http://127.0.0.1/"));
    response->set("isHTTP", PlistValue(true));
    response->set("statusCode", PlistValue(200));
    response->set("MIMEType", PlistValue("text/plain"));
    response->set("expectedContentLength", PlistValue(0));
    response->set("textEncodingName", huge);
    EXPECT_FALSE(URLObjectCoding::decodeResponse(ArchivedValue(response)));

    RunLoop loop;
    Dispatch dispatch(loop);
    NotificationCenter center;
    auto manager = URLObjectCoding::makeObjectInFamily("HTTPSessionManager", "URLSessionManager");
    manager->set("identifier", huge);
    std::optional<Error> error;
    EXPECT_FALSE(URLSessionManager::decodeObject(dispatch, center, ArchivedValue(manager), &error));
    expectRefusedAsTooLarge(error);
}

// Each thread decodes against its own budget: a hostile archive spending its budget on one thread leaves
// a large but honest one on another untouched, and a refusal leaves nothing behind for the next decode.
TEST(ArchiveBudget, ABudgetIsTheDecodingThreadsOwn)
{
    auto level = URLObjectCoding::makeObjectInFamily("HTTPResponseSerializer", "HTTPResponseSerializer");
    for (int depth = 0; depth < 16; ++depth) level = compoundOf({ArchivedValue(level), ArchivedValue(level)});
    const ArchivedValue hostile = throughBytes(level);
    auto codes = URLObjectCoding::makeObject("NSIndexSet");
    codes->set("NSRangeCount", PlistValue(1));
    codes->set("NSLocation", PlistValue(0));
    codes->set("NSLength", PlistValue(1 << 19));
    auto member = URLObjectCoding::makeObjectInFamily("HTTPResponseSerializer", "HTTPResponseSerializer");
    member->set("acceptableStatusCodes", ArchivedValue(codes));
    const ArchivedValue honest = throughBytes(compoundOf({ArchivedValue(member)}));

    std::atomic<int> ready{0};
    auto together = [&ready] {
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
    };
    int refused = 0, read = 0;
    std::thread spender([&] {
        together();
        for (int round = 0; round < 3; ++round) refused += HTTPResponseSerializer::decodeObject(hostile) ? 0 : 1;
    });
    std::thread reader([&] {
        together();
        for (int round = 0; round < 3; ++round) read += HTTPResponseSerializer::decodeObject(honest) ? 1 : 0;
    });
    spender.join();
    reader.join();
    EXPECT_EQ(refused, 3);
    EXPECT_EQ(read, 3);
}
