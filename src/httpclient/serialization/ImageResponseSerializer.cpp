#include "httpclient/serialization/ImageResponseSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include "httpclient/serialization/ResponseSerializerSupport.h"
#include "platform/image/Image.h"

ImageResponseSerializer::ImageResponseSerializer()
{
    acceptableContentTypes = std::set<std::string>{"image/tiff", "image/jpeg", "image/gif", "image/png", "image/ico",
                                                   "image/x-icon", "image/bmp", "image/x-bmp", "image/x-xbitmap",
                                                   "image/x-win-bitmap"};
}

std::shared_ptr<ImageResponseSerializer> ImageResponseSerializer::serializer()
{
    return std::make_shared<ImageResponseSerializer>();
}

std::shared_ptr<HTTPResponseSerializer> ImageResponseSerializer::copy() const
{
    return serializer();
}

std::any ImageResponseSerializer::responseObjectForResponse(const platform::URLResponse* response,
                                                            const std::optional<Bytes>& data,
                                                            std::optional<platform::Error>* error)
{
    if (!PassesValidationGate(*this, response, data, error)) return {};
    const Bytes body = data.value_or(Bytes());
    platform::Error decodeError;
    std::optional<platform::BitmapImageRep> rep = platform::BitmapImageRep::imageRepWithData(body.data(), body.size(), &decodeError);
    if (!rep) {
        platform::Error undecodable = CannotDecodeError(HTTPClientTexts().text("The image could not be decoded"), decodeError.description);
        StoreParsingError(undecodable, error);
        return {};
    }
    platform::Image image;
    image.size = {static_cast<double>(rep->pixelsWide()), static_cast<double>(rep->pixelsHigh())};
    image.representations.push_back(std::move(*rep));
    return image;
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPResponseSerializer>::add("ImageResponseSerializer", [] { return std::make_shared<ImageResponseSerializer>(); });
}  // namespace
