#pragma once

#include <any>
#include <functional>
#include <memory>

#include "httpclient/HTTPResponseSerializer.h"
#include "httpclient/URLConnectionOperation.h"

// A connection operation that checks the HTTP response through its serializer once the body is in, and
// then calls a success or a failure block (on the completion queue, main by default).
class HTTPRequestOperation : public URLConnectionOperation {
public:
    using SuccessBlock = std::function<void(HTTPRequestOperation& operation, const std::any& responseObject)>;
    using FailureBlock = std::function<void(HTTPRequestOperation& operation, const platform::Error& error)>;

    HTTPRequestOperation(platform::Dispatch& dispatch, platform::URLRequest request,
                         platform::NetworkThread& networkThread = networkRequestThread());

    std::shared_ptr<HTTPResponseSerializer> responseSerializer() const;
    // Never empty. Clears the object and error of an earlier serializer.
    void setResponseSerializer(std::shared_ptr<HTTPResponseSerializer> serializer);
    // Computed once after the operation finished without a connection error.
    std::any responseObject();
    std::optional<platform::Error> responseSerializationError() const;
    // The serializer's error, else the connection's.
    std::optional<platform::Error> error() const override;

    // The operation must be owned by a shared_ptr; it stays alive until the chosen block has run.
    void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure);
    // Also rewrites the request to continue from what the output stream already holds.
    void pause() override;
    // The base copy with a copy of the serializer.
    std::shared_ptr<URLConnectionOperation> copy() const override;

protected:
    const char* className() const override { return "HTTPRequestOperation"; }
    // The base fields, then the serializer (kept as made when the archive holds none).
    bool initWithCoder(const platform::ArchivedObject& coder) override;

public:
    void encodeWithCoder(platform::ArchivedObject& coder) override;

private:
    std::shared_ptr<HTTPResponseSerializer> m_responseSerializer;
    std::any m_responseObject;
    bool m_responseObjectMade = false;
    std::optional<platform::Error> m_responseSerializationError;
};
