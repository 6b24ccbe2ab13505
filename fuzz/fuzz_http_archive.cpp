// Feeds arbitrary bytes, read as a keyed archive, to every reader of the HTTP layer's archives: the
// response and request serializers, the operations and both managers. Each must refuse what it cannot
// take, never crash or allocate without bound.
#include <cstddef>
#include <cstdint>

#include "httpclient/operation/HTTPRequestOperationManager.h"
#include "httpclient/serialization/CompoundResponseSerializer.h"
#include "httpclient/serialization/ImageResponseSerializer.h"
#include "httpclient/serialization/JSONRequestSerializer.h"
#include "httpclient/serialization/JSONResponseSerializer.h"
#include "httpclient/serialization/PropertyListRequestSerializer.h"
#include "httpclient/serialization/PropertyListResponseSerializer.h"
#include "httpclient/serialization/XMLDocumentResponseSerializer.h"
#include "httpclient/serialization/XMLParserResponseSerializer.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/plist/KeyedUnarchiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Every class the archives may name is linked in and so registered.
    static const bool linked = JSONResponseSerializer::serializer() && XMLParserResponseSerializer::serializer() &&
                               XMLDocumentResponseSerializer::serializer() && PropertyListResponseSerializer::serializer() &&
                               ImageResponseSerializer::serializer() &&
                               CompoundResponseSerializer::compoundSerializerWithResponseSerializers({}) &&
                               JSONRequestSerializer::serializer() && PropertyListRequestSerializer::serializer();
    (void)linked;
    static platform::RunLoop loop;
    static platform::Dispatch dispatch(loop);
    auto value = platform::KeyedUnarchiver::unarchive(platform::Bytes(data, data + size));
    if (!value) return 0;
    (void)HTTPResponseSerializer::decodeObject(*value);
    (void)HTTPRequestSerializer::decodeObject(*value);
    (void)URLConnectionOperation::decodeObject(dispatch, *value);
    (void)HTTPRequestOperationManager::decodeObject(dispatch, *value);
    return 0;
}
