#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/error/Error.h"
#include "platform/plist/ArchivedValue.h"
#include "platform/url/URLRequest.h"
#include "platform/url/URLResponse.h"
#include "platform/url/URLSessionConfiguration.h"

class ArchiveDecodingBudget;

// How the loading layer's values go into the HTTP layer's keyed archives: requests (a body stream is not
// archived), responses, errors, session configurations, index sets and sets of strings. Each reader
// takes only the archive's own class with fields of the right kinds and sizes, and gives nothing else;
// what they make is drawn from the archive's `ArchiveDecodingBudget`.
class URLObjectCoding {
public:
    static platform::ArchivedValue encode(const platform::URLRequest& request);
    static platform::ArchivedValue encode(const platform::URLResponse& response);
    static platform::ArchivedValue encode(const platform::Error& error);
    static platform::ArchivedValue encode(const platform::URLSessionConfiguration& configuration);
    static platform::ArchivedValue encodeIndexSet(const std::set<std::int64_t>& indexes);
    static platform::ArchivedValue encodeStringSet(const std::set<std::string>& strings);
    static platform::ArchivedValue encodeStringMap(const std::map<std::string, std::string>& strings);

    static std::optional<platform::URLRequest> decodeRequest(const platform::ArchivedValue& value);
    static std::optional<platform::URLResponse> decodeResponse(const platform::ArchivedValue& value);
    static std::optional<platform::Error> decodeError(const platform::ArchivedValue& value);
    static std::optional<platform::URLSessionConfiguration> decodeSessionConfiguration(const platform::ArchivedValue& value);
    static std::optional<std::set<std::int64_t>> decodeIndexSet(const platform::ArchivedValue& value);
    static std::optional<std::set<std::string>> decodeStringSet(const platform::ArchivedValue& value);
    static std::optional<std::map<std::string, std::string>> decodeStringMap(const platform::ArchivedValue& value);

    // Plain fields of an archived object: nothing when missing or of another kind.
    static std::optional<std::int64_t> integer(const platform::ArchivedObject& object, const std::string& key);
    static std::optional<std::string> string(const platform::ArchivedObject& object, const std::string& key);
    static std::optional<bool> boolean(const platform::ArchivedObject& object, const std::string& key);
    // The archived object a value holds when it is of that class.
    static const platform::ArchivedObject* objectOfClass(const platform::ArchivedValue& value, const std::string& className);
    static std::shared_ptr<platform::ArchivedObject> makeObject(std::string className,
                                                                std::vector<std::string> superclasses = {"NSObject"});
    // An object of a class of a family: the family's base class is its superclass unless it is the base.
    static std::shared_ptr<platform::ArchivedObject> makeObjectInFamily(const std::string& className, const std::string& baseClassName,
                                                                        std::vector<std::string> baseSuperclasses = {"NSObject"});
    // The error a refused archive is told with.
    static platform::Error damagedArchive(const std::string& what);
    // The same, or, when the archive spent the budget its decoding opened, that it asked too much.
    static platform::Error refusedArchive(const std::string& what, const ArchiveDecodingBudget& budget);
};
