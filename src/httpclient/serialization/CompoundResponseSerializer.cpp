#include "httpclient/serialization/CompoundResponseSerializer.h"

std::shared_ptr<CompoundResponseSerializer> CompoundResponseSerializer::compoundSerializerWithResponseSerializers(
    std::vector<std::shared_ptr<HTTPResponseSerializer>> members)
{
    auto serializer = std::make_shared<CompoundResponseSerializer>();
    serializer->responseSerializers = std::move(members);
    return serializer;
}

std::shared_ptr<HTTPResponseSerializer> CompoundResponseSerializer::copy() const
{
    return compoundSerializerWithResponseSerializers(responseSerializers);
}

std::any CompoundResponseSerializer::responseObjectForResponse(const platform::URLResponse* response,
                                                               const std::optional<Bytes>& data,
                                                               std::optional<platform::Error>* error)
{
    for (const auto& member : responseSerializers) {
        if (!member) continue;
        std::optional<platform::Error> memberError;
        std::any object = member->responseObjectForResponse(response, data, &memberError);
        if (object.has_value()) {
            if (error) *error = ErrorWithUnderlyingError(memberError, *error);
            return object;
        }
    }
    return HTTPResponseSerializer::responseObjectForResponse(response, data, error);
}
