#include "httpclient/operation/HTTPRequestOperationManager.h"

#include "httpclient/ArchiveDecodingBudget.h"
#include "httpclient/URLObjectCoding.h"

#include <cstdio>
#include <stdexcept>

#include "httpclient/serialization/JSONResponseSerializer.h"
#include "platform/url/RelativeURL.h"

using namespace platform;

std::unique_ptr<HTTPRequestOperationManager> HTTPRequestOperationManager::manager(Dispatch& dispatch)
{
    return std::make_unique<HTTPRequestOperationManager>(dispatch);
}

HTTPRequestOperationManager::HTTPRequestOperationManager(Dispatch& dispatch, std::optional<std::string> baseURL)
    : m_dispatch(dispatch),
      m_baseURL(baseURL ? std::optional<std::string>(RelativeURL::withDirectoryPath(*baseURL)) : std::nullopt),
      m_requestSerializer(HTTPRequestSerializer::serializer()),
      m_responseSerializer(JSONResponseSerializer::serializer()),
      m_queueLabel("org.pexo.rigmora.httpclient.operation-manager"),
      m_operationQueue(std::make_unique<OperationQueue>(dispatch.makeSerial(m_queueLabel)))
{
}

void HTTPRequestOperationManager::setRequestSerializer(std::shared_ptr<HTTPRequestSerializer> serializer)
{
    if (!serializer) throw std::invalid_argument("Invalid parameter not satisfying: requestSerializer");
    m_requestSerializer = std::move(serializer);
}

void HTTPRequestOperationManager::setResponseSerializer(std::shared_ptr<HTTPResponseSerializer> serializer)
{
    if (!serializer) throw std::invalid_argument("Invalid parameter not satisfying: responseSerializer");
    m_responseSerializer = std::move(serializer);
}

std::string HTTPRequestOperationManager::description() const
{
    char text[256];
    std::snprintf(text, sizeof text, "<HTTPRequestOperationManager: %p, baseURL: %s, operationQueue: %s>",
                  static_cast<const void*>(this), m_baseURL.value_or("(null)").c_str(), m_queueLabel.c_str());
    return text;
}

std::unique_ptr<HTTPRequestOperationManager> HTTPRequestOperationManager::copy() const
{
    auto copied = std::make_unique<HTTPRequestOperationManager>(m_dispatch, m_baseURL);
    copied->m_requestSerializer = m_requestSerializer->copy();
    copied->m_responseSerializer = m_responseSerializer->copy();
    return copied;
}

std::shared_ptr<platform::ArchivedObject> HTTPRequestOperationManager::archivedObject() const
{
    auto object = URLObjectCoding::makeObject("HTTPRequestOperationManager");
    if (m_baseURL) object->set("baseURL", platform::PlistValue(*m_baseURL));
    object->set("requestSerializer", m_requestSerializer->archivedObject());
    object->set("responseSerializer", m_responseSerializer->archivedObject());
    return object;
}

std::unique_ptr<HTTPRequestOperationManager> HTTPRequestOperationManager::decodeObject(Dispatch& dispatch,
                                                                                       const platform::ArchivedValue& value,
                                                                                       std::optional<platform::Error>* error)
{
    ArchiveDecodingBudget budget;
    auto refuse = [error, &budget] {
        if (error) *error = URLObjectCoding::refusedArchive("operation manager", budget);
        return nullptr;
    };
    const platform::ArchivedObject* object = URLObjectCoding::objectOfClass(value, "HTTPRequestOperationManager");
    if (!object) return refuse();
    const auto baseURL = URLObjectCoding::string(*object, "baseURL");
    if (!object->field("baseURL").isNil() && !baseURL) return refuse();
    auto manager = std::make_unique<HTTPRequestOperationManager>(dispatch, baseURL);
    if (!object->field("requestSerializer").isNil()) {
        auto serializer = HTTPRequestSerializer::decodeObject(object->field("requestSerializer"));
        if (!serializer) return refuse();
        manager->m_requestSerializer = std::move(serializer);
    }
    if (!object->field("responseSerializer").isNil()) {
        auto serializer = HTTPResponseSerializer::decodeObject(object->field("responseSerializer"));
        if (!serializer) return refuse();
        manager->m_responseSerializer = std::move(serializer);
    }
    return manager;
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::HTTPRequestOperationWithRequest(URLRequest request,
                                                                                                        SuccessBlock success,
                                                                                                        FailureBlock failure)
{
    auto operation = std::make_shared<HTTPRequestOperation>(m_dispatch, std::move(request));
    operation->setResponseSerializer(m_responseSerializer);
    operation->setShouldUseCredentialStorage(shouldUseCredentialStorage);
    operation->setCredential(credential);
    operation->setSecurityPolicy(securityPolicy);
    // The blocks hand the caller the operation it was given, not a bare reference.
    auto shared = [](HTTPRequestOperation& finished) {
        return std::static_pointer_cast<HTTPRequestOperation>(finished.shared_from_this());
    };
    HTTPRequestOperation::SuccessBlock onSuccess;
    if (success)
        onSuccess = [success = std::move(success), shared](HTTPRequestOperation& finished, const std::any& object) {
            success(shared(finished), object);
        };
    HTTPRequestOperation::FailureBlock onFailure;
    if (failure)
        onFailure = [failure = std::move(failure), shared](HTTPRequestOperation& finished, const Error& error) {
            failure(shared(finished), error);
        };
    operation->setCompletionBlockWithSuccess(std::move(onSuccess), std::move(onFailure));
    operation->setCompletionQueue(completionQueue);
    operation->setCompletionGroup(completionGroup);
    return operation;
}

void HTTPRequestOperationManager::failLater(FailureBlock failure, Error error)
{
    if (!failure) return;
    Queue& queue = completionQueue ? *completionQueue : m_dispatch.main();
    queue.async([failure = std::move(failure), error = std::move(error)] { failure(nullptr, error); });
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::HTTPRequestOperationWithHTTPMethod(
    const std::string& method, const std::string& URLString, const std::optional<ParameterValue>& parameters,
    SuccessBlock success, FailureBlock failure)
{
    Error error;
    std::optional<URLRequest> request = RelativeRequest::make(*m_requestSerializer, m_baseURL, method, URLString, parameters, nullptr, error);
    if (!request) {
        failLater(std::move(failure), std::move(error));
        return nullptr;
    }
    return HTTPRequestOperationWithRequest(std::move(*request), std::move(success), std::move(failure));
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::queued(OperationPtr operation)
{
    if (operation) m_operationQueue->addOperation([operation] { operation->start(); });
    return operation;
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::queuedWithMethod(const std::string& method,
                                                                                         const std::string& URLString,
                                                                                         const std::optional<ParameterValue>& parameters,
                                                                                         SuccessBlock success, FailureBlock failure)
{
    return queued(HTTPRequestOperationWithHTTPMethod(method, URLString, parameters, std::move(success), std::move(failure)));
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::GET(const std::string& URLString,
                                                                            const std::optional<ParameterValue>& parameters,
                                                                            SuccessBlock success, FailureBlock failure)
{
    return queuedWithMethod("GET", URLString, parameters, std::move(success), std::move(failure));
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::HEAD(const std::string& URLString,
                                                                             const std::optional<ParameterValue>& parameters,
                                                                             HeadSuccessBlock success, FailureBlock failure)
{
    SuccessBlock withoutObject;
    if (success) withoutObject = [success = std::move(success)](const OperationPtr& operation, const std::any&) { success(operation); };
    return queuedWithMethod("HEAD", URLString, parameters, std::move(withoutObject), std::move(failure));
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::POST(const std::string& URLString,
                                                                             const std::optional<ParameterValue>& parameters,
                                                                             SuccessBlock success, FailureBlock failure)
{
    return queuedWithMethod("POST", URLString, parameters, std::move(success), std::move(failure));
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::POST(const std::string& URLString,
                                                                             const std::optional<ParameterValue>& parameters,
                                                                             const RelativeRequest::FormBlock& block,
                                                                             SuccessBlock success, FailureBlock failure)
{
    Error error;
    std::optional<URLRequest> request = RelativeRequest::make(*m_requestSerializer, m_baseURL, "POST", URLString, parameters, &block, error);
    if (!request) {
        failLater(std::move(failure), std::move(error));
        return nullptr;
    }
    return queued(HTTPRequestOperationWithRequest(std::move(*request), std::move(success), std::move(failure)));
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::PUT(const std::string& URLString,
                                                                            const std::optional<ParameterValue>& parameters,
                                                                            SuccessBlock success, FailureBlock failure)
{
    return queuedWithMethod("PUT", URLString, parameters, std::move(success), std::move(failure));
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::PATCH(const std::string& URLString,
                                                                              const std::optional<ParameterValue>& parameters,
                                                                              SuccessBlock success, FailureBlock failure)
{
    return queuedWithMethod("PATCH", URLString, parameters, std::move(success), std::move(failure));
}

HTTPRequestOperationManager::OperationPtr HTTPRequestOperationManager::DELETE(const std::string& URLString,
                                                                               const std::optional<ParameterValue>& parameters,
                                                                               SuccessBlock success, FailureBlock failure)
{
    return queuedWithMethod("DELETE", URLString, parameters, std::move(success), std::move(failure));
}
