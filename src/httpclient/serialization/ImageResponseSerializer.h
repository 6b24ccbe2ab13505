#pragma once

#include "httpclient/HTTPResponseSerializer.h"

// Decodes image bodies into a platform::Image whose size in points is the bitmap's size in pixels.
// A body that does not decode gives nothing and a -1016 error.
class ImageResponseSerializer : public HTTPResponseSerializer {
public:
    ImageResponseSerializer();
    static std::shared_ptr<ImageResponseSerializer> serializer();
    std::shared_ptr<HTTPResponseSerializer> copy() const override;
    const char* archivedClassName() const override { return "ImageResponseSerializer"; }

    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};
