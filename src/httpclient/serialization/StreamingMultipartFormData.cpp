#include "httpclient/serialization/StreamingMultipartFormData.h"

#include <filesystem>
#include <stdexcept>

#include "httpclient/HTTPResponseSerializer.h"
#include "httpclient/serialization/HTTPRequestSerializer.h"
#include "platform/url/URLError.h"

using platform::Error;

namespace {

void requireSendable(const std::string& text, const char* what)
{
    if (!IsSendablePartName(text))
        throw std::invalid_argument(std::string("The part's ") + what + " holds a line break or NUL and cannot be sent.");
}

HeaderFields fileHeaders(const std::string& name, const std::string& fileName, const std::string& mimeType)
{
    if (name.empty()) throwInvalidParameter("name");
    if (fileName.empty()) throwInvalidParameter("fileName");
    if (mimeType.empty()) throwInvalidParameter("mimeType");
    requireSendable(name, "name");
    requireSendable(fileName, "file name");
    requireSendable(mimeType, "MIME type");
    return {{"Content-Disposition", "form-data; name=" + QuotedPartName(name) + "; filename=" + QuotedPartName(fileName)},
            {"Content-Type", mimeType}};
}

bool fail(std::optional<Error>* error, const char* reason)
{
    if (error) {
        const std::string text = HTTPClientTexts().text(reason);
        *error = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorBadURL, text,
                             {{kLocalizedFailureReasonErrorKey, text}});
    }
    return false;
}

}  // namespace

StreamingMultipartFormData::StreamingMultipartFormData(const platform::URLRequest& request, std::string stringEncoding,
                                                       const std::function<std::uint32_t()>& random)
    : m_request(request),
      m_stringEncoding(std::move(stringEncoding)),
      m_boundary(CreateMultipartFormBoundary(random)),
      m_bodyStream(std::make_shared<MultipartBodyStream>(m_stringEncoding))
{
}

void StreamingMultipartFormData::append(HeaderFields headers, HTTPBodyPart::Body body, std::uint64_t length)
{
    m_bodyStream->appendHTTPBodyPart(
        std::make_unique<HTTPBodyPart>(m_stringEncoding, std::move(headers), m_boundary, std::move(body), length));
}

bool StreamingMultipartFormData::appendPartWithFileURL(const std::string& fileURL, const std::string& name,
                                                       std::optional<Error>* error)
{
    if (fileURL.empty()) throwInvalidParameter("fileURL");
    const std::optional<std::string> path = FilePathFromFileURL(fileURL);
    std::string text = path.value_or(fileURL);
    // The last path component of a folder's URL is the folder's name, with or without its slash.
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    const std::filesystem::path file(text);
    const std::string extension = file.extension().string();
    // The file's name on disk may hold any byte but "/": one that would break the part's headers fails it.
    if (!IsSendablePartName(file.filename().string())) {
        if (error)
            *error = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnencodable,
                                 "The file's name holds a line break or NUL and cannot be sent in a form.");
        return false;
    }
    return appendPartWithFileURL(fileURL, name, file.filename().string(),
                                 ContentTypeForPathExtension(extension.empty() ? "" : extension.substr(1)), error);
}

bool StreamingMultipartFormData::appendPartWithFileURL(const std::string& fileURL, const std::string& name,
                                                       const std::string& fileName, const std::string& mimeType,
                                                       std::optional<Error>* error)
{
    if (fileURL.empty()) throwInvalidParameter("fileURL");
    HeaderFields headers = fileHeaders(name, fileName, mimeType);
    const std::optional<std::string> path = FilePathFromFileURL(fileURL);
    if (!path) return fail(error, "Expected URL to be a file URL");
    std::error_code code;
    if (!std::filesystem::exists(*path, code)) return fail(error, "File URL not reachable.");
    const std::uintmax_t size = std::filesystem::file_size(*path, code);
    if (code) {
        if (error) *error = platform::makePOSIXError(code.value(), "cannot measure " + *path);
        return false;
    }
    append(std::move(headers), HTTPBodyPart::FileBody{*path}, size);
    return true;
}

void StreamingMultipartFormData::appendPartWithInputStream(std::shared_ptr<platform::InputStream> inputStream,
                                                           const std::string& name, const std::string& fileName,
                                                           std::int64_t length, const std::string& mimeType)
{
    HeaderFields headers = fileHeaders(name, fileName, mimeType);
    if (length < 0) throwInvalidParameter("length >= 0");
    append(std::move(headers), std::move(inputStream), static_cast<std::uint64_t>(length));
}

void StreamingMultipartFormData::appendPartWithFileData(std::vector<std::uint8_t> data, const std::string& name,
                                                        const std::string& fileName, const std::string& mimeType)
{
    appendPartWithHeaders(fileHeaders(name, fileName, mimeType), std::move(data));
}

void StreamingMultipartFormData::appendPartWithFormData(std::vector<std::uint8_t> data, const std::string& name)
{
    if (name.empty()) throwInvalidParameter("name");
    requireSendable(name, "name");
    appendPartWithHeaders({{"Content-Disposition", "form-data; name=" + QuotedPartName(name)}}, std::move(data));
}

void StreamingMultipartFormData::appendPartWithHeaders(HeaderFields headers, std::vector<std::uint8_t> body)
{
    for (const auto& [field, value] : headers)
        if (!platform::URLRequest::isSendableField(field, value))
            throw std::invalid_argument("A part's header holds a line break or NUL and cannot be sent.");
    const std::uint64_t length = body.size();
    append(std::move(headers), std::move(body), length);
}

void StreamingMultipartFormData::throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay)
{
    m_bodyStream->numberOfBytesInPacket = numberOfBytes;
    m_bodyStream->delay = delay;
}

platform::URLRequest StreamingMultipartFormData::requestByFinalizingMultipartFormData()
{
    if (m_bodyStream->isEmpty()) return m_request;
    m_bodyStream->setInitialAndFinalBoundaries();
    m_request.httpBodyStream = m_bodyStream;
    m_request.setValue("multipart/form-data; boundary=" + m_boundary, "Content-Type");
    m_request.setValue(std::to_string(m_bodyStream->contentLength()), "Content-Length");
    return m_request;
}
