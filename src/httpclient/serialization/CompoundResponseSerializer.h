#pragma once

#include <vector>

#include "httpclient/HTTPResponseSerializer.h"

// Asks its members in order and answers with the first object one of them makes; when none does, it
// validates with its own settings and answers with the body itself.
class CompoundResponseSerializer : public HTTPResponseSerializer {
public:
    static std::shared_ptr<CompoundResponseSerializer> compoundSerializerWithResponseSerializers(
        std::vector<std::shared_ptr<HTTPResponseSerializer>> responseSerializers);
    std::shared_ptr<HTTPResponseSerializer> copy() const override;

    std::vector<std::shared_ptr<HTTPResponseSerializer>> responseSerializers;

    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};
