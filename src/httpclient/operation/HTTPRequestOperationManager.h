#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "httpclient/HTTPRequestOperation.h"
#include "httpclient/NetworkReachabilityManager.h"
#include "httpclient/serialization/HTTPRequestSerializer.h"
#include "httpclient/serialization/RelativeRequest.h"

// The operation-based front of the HTTP client: a base URL, the serializers and the security and
// credential settings handed to every operation, and one call per HTTP method that builds the request,
// wraps it in an HTTPRequestOperation, queues it and returns it. A call whose request cannot be built
// queues nothing and returns nothing; its failure block still runs, later, on the completion queue.
// Configure it before use; it holds no lock.
class HTTPRequestOperationManager {
public:
    using OperationPtr = std::shared_ptr<HTTPRequestOperation>;
    using SuccessBlock = std::function<void(const OperationPtr& operation, const std::any& responseObject)>;
    using HeadSuccessBlock = std::function<void(const OperationPtr& operation)>;
    // The operation is empty when the request could not be built.
    using FailureBlock = std::function<void(const OperationPtr& operation, const platform::Error& error)>;

    static std::unique_ptr<HTTPRequestOperationManager> manager(platform::Dispatch& dispatch);
    explicit HTTPRequestOperationManager(platform::Dispatch& dispatch, std::optional<std::string> baseURL = std::nullopt);
    HTTPRequestOperationManager(const HTTPRequestOperationManager&) = delete;
    HTTPRequestOperationManager& operator=(const HTTPRequestOperationManager&) = delete;

    bool shouldUseCredentialStorage = true;
    // Ends in "/" when it has a path.
    const std::optional<std::string>& baseURL() const { return m_baseURL; }
    const std::shared_ptr<HTTPRequestSerializer>& requestSerializer() const { return m_requestSerializer; }
    // Never empty (std::invalid_argument).
    void setRequestSerializer(std::shared_ptr<HTTPRequestSerializer> serializer);
    const std::shared_ptr<HTTPResponseSerializer>& responseSerializer() const { return m_responseSerializer; }
    // Never empty (std::invalid_argument).
    void setResponseSerializer(std::shared_ptr<HTTPResponseSerializer> serializer);
    platform::OperationQueue& operationQueue() { return *m_operationQueue; }
    std::optional<platform::URLCredential> credential;
    std::shared_ptr<SecurityPolicy> securityPolicy = SecurityPolicy::defaultPolicy();
    // The process-wide manager, held only; made on first asking so that a manager alone starts no monitor.
    NetworkReachabilityManager& reachabilityManager() const { return NetworkReachabilityManager::sharedManager(); }
    // nullptr: the main queue.
    platform::Queue* completionQueue = nullptr;
    // nullptr: the library's shared group.
    std::shared_ptr<platform::DispatchGroup> completionGroup;

    // Configured from this manager, neither started nor queued.
    OperationPtr HTTPRequestOperationWithRequest(platform::URLRequest request, SuccessBlock success, FailureBlock failure);
    OperationPtr HTTPRequestOperationWithHTTPMethod(const std::string& method, const std::string& URLString,
                                                    const std::optional<ParameterValue>& parameters, SuccessBlock success,
                                                    FailureBlock failure);

    // Queued.
    OperationPtr GET(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                     FailureBlock failure);
    OperationPtr HEAD(const std::string& URLString, const std::optional<ParameterValue>& parameters, HeadSuccessBlock success,
                      FailureBlock failure);
    OperationPtr POST(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                      FailureBlock failure);
    OperationPtr POST(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                      const RelativeRequest::FormBlock& block, SuccessBlock success, FailureBlock failure);
    OperationPtr PUT(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                     FailureBlock failure);
    OperationPtr PATCH(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                       FailureBlock failure);
    OperationPtr DELETE(const std::string& URLString, const std::optional<ParameterValue>& parameters, SuccessBlock success,
                        FailureBlock failure);

    std::string description() const;
    // The same base URL and copies of both serializers; a queue of its own and every other setting at its default.
    std::unique_ptr<HTTPRequestOperationManager> copy() const;

    // Keyed archiving of the base URL and both serializers; a decoded manager has them, a queue of its own
    // and every other setting at its default. An archive without a serializer keeps the default one; an
    // archive of another kind is refused.
    static bool supportsSecureCoding() { return true; }
    std::shared_ptr<platform::ArchivedObject> archivedObject() const;
    static std::unique_ptr<HTTPRequestOperationManager> decodeObject(platform::Dispatch& dispatch, const platform::ArchivedValue& value,
                                                                     std::optional<platform::Error>* error = nullptr);

private:
    OperationPtr queued(OperationPtr operation);
    OperationPtr queuedWithMethod(const std::string& method, const std::string& URLString,
                                  const std::optional<ParameterValue>& parameters, SuccessBlock success, FailureBlock failure);
    void failLater(FailureBlock failure, platform::Error error);

    platform::Dispatch& m_dispatch;
    std::optional<std::string> m_baseURL;
    std::shared_ptr<HTTPRequestSerializer> m_requestSerializer;
    std::shared_ptr<HTTPResponseSerializer> m_responseSerializer;
    std::string m_queueLabel;
    std::unique_ptr<platform::OperationQueue> m_operationQueue;
};
