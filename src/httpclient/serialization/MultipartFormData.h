#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error/Error.h"
#include "platform/url/InputStream.h"

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// What a multipart form offers the code that fills it: parts from files, streams, bytes and form fields,
// each appended after the ones before. Missing names, file names or MIME types throw std::invalid_argument, and
// so do names, file names and header fields holding a line break or NUL, which would add lines to the part's
// headers; a file's own name on disk that holds one fails the file's part with the error set.
class MultipartFormData {
public:
    virtual ~MultipartFormData() = default;

    // The file's name and the MIME type of its extension; false, with the error set, when the URL is no
    // file URL or the file cannot be found or measured.
    virtual bool appendPartWithFileURL(const std::string& fileURL, const std::string& name,
                                       std::optional<platform::Error>* error) = 0;
    virtual bool appendPartWithFileURL(const std::string& fileURL, const std::string& name, const std::string& fileName,
                                       const std::string& mimeType, std::optional<platform::Error>* error) = 0;
    // The stream must yield exactly `length` bytes; sending fails when it ends early and stops at `length`.
    virtual void appendPartWithInputStream(std::shared_ptr<platform::InputStream> inputStream, const std::string& name,
                                           const std::string& fileName, std::int64_t length, const std::string& mimeType) = 0;
    virtual void appendPartWithFileData(std::vector<std::uint8_t> data, const std::string& name,
                                        const std::string& fileName, const std::string& mimeType) = 0;
    virtual void appendPartWithFormData(std::vector<std::uint8_t> data, const std::string& name) = 0;
    virtual void appendPartWithHeaders(HeaderFields headers, std::vector<std::uint8_t> body) = 0;
    virtual void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) = 0;
};

inline constexpr const char* kMultipartFormCRLF = "\r\n";
// Throttling that suits slow mobile links.
inline constexpr std::uint64_t kUploadStream3GSuggestedPacketSize = 16384;
inline constexpr double kUploadStream3GSuggestedDelay = 0.2;

// "Boundary+" and two random 32-bit numbers as eight upper-case hexadecimal digits each.
std::string CreateMultipartFormBoundary(const std::function<std::uint32_t()>& random);
std::string MultipartFormInitialBoundary(const std::string& boundary);
std::string MultipartFormEncapsulationBoundary(const std::string& boundary);
std::string MultipartFormFinalBoundary(const std::string& boundary);
// The MIME type the desktop gives the extension, "application/octet-stream" when it knows none.
std::string ContentTypeForPathExtension(const std::string& extension);
// Whether a part's name or file name can be written into its headers: no CR, LF or NUL.
bool IsSendablePartName(const std::string& name);
// A name as a quoted Content-Disposition parameter takes it: a quote as "%22", as browsers send it.
std::string QuotedPartName(const std::string& name);
// The local path of a "file:" URL, percent escapes decoded; nothing for any other URL.
std::optional<std::string> FilePathFromFileURL(const std::string& fileURL);
