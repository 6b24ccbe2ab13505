#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "httpclient/HTTPResponseSerializer.h"
#include "httpclient/serialization/HTTPRequestSerializer.h"
#include "httpclient/serialization/RelativeRequest.h"
#include "httpclient/session/URLSessionManager.h"

// A session manager with a base URL and a request serializer: one call per HTTP method builds the
// request, makes a data task (a streamed upload for a multipart body), resumes it and reports through a
// success or a failure block on the completion queue (main by default). A call whose request cannot be
// built, or that an invalidated session gives no task for, returns no task; its failure block still runs,
// later, on the completion queue.
class HTTPSessionManager : public URLSessionManager {
public:
    using SuccessBlock = std::function<void(const TaskPtr& task, const std::any& responseObject)>;
    using HeadSuccessBlock = std::function<void(const TaskPtr& task)>;
    // The task is empty when the request could not be built.
    using FailureBlock = std::function<void(const TaskPtr& task, const platform::Error& error)>;

    static std::shared_ptr<HTTPSessionManager> manager(platform::Dispatch& dispatch, platform::NotificationCenter& center);
    static std::shared_ptr<HTTPSessionManager> create(platform::Dispatch& dispatch, platform::NotificationCenter& center,
                                                      std::optional<std::string> baseURL = std::nullopt,
                                                      std::optional<platform::URLSessionConfiguration> configuration = std::nullopt);

    // Ends in "/" when it has a path.
    const std::optional<std::string>& baseURL() const { return m_baseURL; }
    std::shared_ptr<HTTPRequestSerializer> requestSerializer() const;
    // Never empty (std::invalid_argument).
    void setRequestSerializer(std::shared_ptr<HTTPRequestSerializer> serializer);
    // Empty when a serializer of another kind was set through the base class.
    std::shared_ptr<HTTPResponseSerializer> responseSerializer() const;
    // Never empty (std::invalid_argument).
    void setResponseSerializer(std::shared_ptr<HTTPResponseSerializer> serializer);

    // Built but not resumed.
    TaskPtr dataTaskWithHTTPMethod(const std::string& method, const std::string& URLString,
                                   const std::optional<ParameterValue>& parameters, SuccessBlock success, FailureBlock failure);
    TaskPtr GET(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                FailureBlock failure);
    TaskPtr HEAD(const std::string& URLString, const std::optional<ParameterValue>& parameters, HeadSuccessBlock success,
                 FailureBlock failure);
    TaskPtr POST(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                 FailureBlock failure);
    TaskPtr POST(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                 const RelativeRequest::FormBlock& block, SuccessBlock success, FailureBlock failure);
    TaskPtr PUT(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                FailureBlock failure);
    TaskPtr PATCH(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                  FailureBlock failure);
    TaskPtr DELETE(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                   FailureBlock failure);

    std::string description() const override;
    // The same base URL and configuration and copies of both serializers; every other setting at its default.
    std::shared_ptr<HTTPSessionManager> copy() const { return std::static_pointer_cast<HTTPSessionManager>(copyManager()); }
    // After the session's configuration: the base URL and both serializers. A decoded manager keeps the
    // default serializer for one the archive lacks.
    void encodeWithCoder(platform::ArchivedObject& coder) const override;

protected:
    HTTPSessionManager(platform::Dispatch& dispatch, platform::NotificationCenter& center, std::optional<std::string> baseURL,
                       std::optional<platform::URLSessionConfiguration> configuration);
    const char* className() const override { return "HTTPSessionManager"; }
    std::shared_ptr<URLSessionManager> copyManager() const override;

private:
    TaskPtr resumed(TaskPtr task);
    // The task, now known to its completion; without one the failure block runs later.
    TaskPtr held(TaskPtr task, std::weak_ptr<platform::URLSessionTask>& holder, FailureBlock failure, const std::string& URLString);
    CompletionHandler dispatchTo(std::shared_ptr<std::weak_ptr<platform::URLSessionTask>> task, SuccessBlock success,
                                 FailureBlock failure);
    void failLater(FailureBlock failure, platform::Error error);

    std::optional<std::string> m_baseURL;
    mutable std::mutex m_requestSerializerLock;
    std::shared_ptr<HTTPRequestSerializer> m_requestSerializer;
};
