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
    const char* archivedClassName() const override { return "CompoundResponseSerializer"; }
    void encodeWithCoder(platform::ArchivedObject& coder) const override;
    bool initWithCoder(const platform::ArchivedObject& coder) override;

    std::vector<std::shared_ptr<HTTPResponseSerializer>> responseSerializers;

    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};
