#include "httpclient/session/HTTPSessionManager.h"

#include "httpclient/ArchiveDecodingBudget.h"
#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include <cstdio>
#include <stdexcept>

#include "platform/url/RelativeURL.h"
#include "platform/url/URLError.h"

using namespace platform;

std::shared_ptr<HTTPSessionManager> HTTPSessionManager::manager(Dispatch& dispatch, NotificationCenter& center)
{
    return create(dispatch, center);
}

std::shared_ptr<HTTPSessionManager> HTTPSessionManager::create(Dispatch& dispatch, NotificationCenter& center,
                                                               std::optional<std::string> baseURL,
                                                               std::optional<URLSessionConfiguration> configuration)
{
    return makeSessionManager(std::shared_ptr<HTTPSessionManager>(
        new HTTPSessionManager(dispatch, center, std::move(baseURL), std::move(configuration))));
}

HTTPSessionManager::HTTPSessionManager(Dispatch& dispatch, NotificationCenter& center, std::optional<std::string> baseURL,
                                       std::optional<URLSessionConfiguration> configuration)
    : URLSessionManager(dispatch, center, std::move(configuration)),
      m_baseURL(baseURL ? std::optional<std::string>(RelativeURL::withDirectoryPath(*baseURL)) : std::nullopt),
      m_requestSerializer(HTTPRequestSerializer::serializer())
{
}

std::shared_ptr<HTTPRequestSerializer> HTTPSessionManager::requestSerializer() const
{
    std::lock_guard guard(m_requestSerializerLock);
    return m_requestSerializer;
}

void HTTPSessionManager::setRequestSerializer(std::shared_ptr<HTTPRequestSerializer> serializer)
{
    if (!serializer) throw std::invalid_argument("Invalid parameter not satisfying: requestSerializer");
    std::lock_guard guard(m_requestSerializerLock);
    m_requestSerializer = std::move(serializer);
}

std::shared_ptr<HTTPResponseSerializer> HTTPSessionManager::responseSerializer() const
{
    return std::dynamic_pointer_cast<HTTPResponseSerializer>(URLSessionManager::responseSerializer());
}

void HTTPSessionManager::setResponseSerializer(std::shared_ptr<HTTPResponseSerializer> serializer)
{
    URLSessionManager::setResponseSerializer(std::move(serializer));
}

std::string HTTPSessionManager::description() const
{
    char text[320];
    std::snprintf(text, sizeof text, "<%s: %p, baseURL: %s, session: %s, operationQueue: %s>", className(),
                  static_cast<const void*>(this), m_baseURL.value_or("(null)").c_str(), session()->description().c_str(),
                  operationQueue()->label().c_str());
    return text;
}

std::shared_ptr<URLSessionManager> HTTPSessionManager::copyManager() const
{
    auto copied = create(dispatch(), notificationCenter(), m_baseURL, sessionConfiguration());
    copied->setRequestSerializer(requestSerializer()->copy());
    if (auto serializer = responseSerializer()) copied->setResponseSerializer(serializer->copy());
    return copied;
}

// ---------------------------------------------------------------------------------------------------
// Requests

void HTTPSessionManager::failLater(FailureBlock failure, Error error)
{
    if (!failure) return;
    Queue& queue = completionQueue ? *completionQueue : dispatch().main();
    queue.async([failure = std::move(failure), error = std::move(error)] { failure(nullptr, error); });
}

URLSessionManager::CompletionHandler HTTPSessionManager::dispatchTo(std::shared_ptr<std::weak_ptr<URLSessionTask>> task,
                                                                    SuccessBlock success, FailureBlock failure)
{
    return [task, success = std::move(success), failure = std::move(failure)](
               const std::optional<URLResponse>&, const std::any& responseObject, const std::optional<Error>& error) {
        const TaskPtr strong = task->lock();
        if (error) {
            if (failure) failure(strong, *error);
        } else if (success) {
            success(strong, responseObject);
        }
    };
}

URLSessionManager::TaskPtr HTTPSessionManager::dataTaskWithHTTPMethod(const std::string& method, const std::string& URLString,
                                                                      const std::optional<ParameterValue>& parameters,
                                                                      SuccessBlock success, FailureBlock failure)
{
    Error error;
    std::optional<URLRequest> request =
        RelativeRequest::make(*requestSerializer(), m_baseURL, method, URLString, parameters, nullptr, error);
    if (!request) {
        failLater(std::move(failure), std::move(error));
        return nullptr;
    }
    auto holder = std::make_shared<std::weak_ptr<URLSessionTask>>();
    FailureBlock noTask = failure;
    TaskPtr task = dataTaskWithRequest(std::move(*request), dispatchTo(holder, std::move(success), std::move(failure)));
    return held(std::move(task), *holder, std::move(noTask), URLString);
}

URLSessionManager::TaskPtr HTTPSessionManager::held(TaskPtr task, std::weak_ptr<URLSessionTask>& holder, FailureBlock failure,
                                                     const std::string& URLString)
{
    // An invalidated session makes no task; the caller still hears of it.
    if (!task) failLater(std::move(failure), makeURLError(URLErrorCancelled, URLString, "The session makes no more tasks."));
    holder = task;
    return task;
}

URLSessionManager::TaskPtr HTTPSessionManager::resumed(TaskPtr task)
{
    if (task) task->resume();
    return task;
}

URLSessionManager::TaskPtr HTTPSessionManager::GET(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                                                   SuccessBlock success, FailureBlock failure)
{
    return resumed(dataTaskWithHTTPMethod("GET", URLString, parameters, std::move(success), std::move(failure)));
}

URLSessionManager::TaskPtr HTTPSessionManager::HEAD(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                                                    HeadSuccessBlock success, FailureBlock failure)
{
    SuccessBlock withoutObject;
    if (success) withoutObject = [success = std::move(success)](const TaskPtr& task, const std::any&) { success(task); };
    return resumed(dataTaskWithHTTPMethod("HEAD", URLString, parameters, std::move(withoutObject), std::move(failure)));
}

URLSessionManager::TaskPtr HTTPSessionManager::POST(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                                                    SuccessBlock success, FailureBlock failure)
{
    return resumed(dataTaskWithHTTPMethod("POST", URLString, parameters, std::move(success), std::move(failure)));
}

URLSessionManager::TaskPtr HTTPSessionManager::POST(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                                                    const RelativeRequest::FormBlock& block, SuccessBlock success,
                                                    FailureBlock failure)
{
    Error error;
    std::optional<URLRequest> request =
        RelativeRequest::make(*requestSerializer(), m_baseURL, "POST", URLString, parameters, &block, error);
    if (!request) {
        failLater(std::move(failure), std::move(error));
        return nullptr;
    }
    auto holder = std::make_shared<std::weak_ptr<URLSessionTask>>();
    // A form that got no part leaves the request as it was, without a stream to upload: it goes out as
    // a plain request with an empty body.
    const bool streamed = request->httpBodyStream != nullptr;
    FailureBlock noTask = failure;
    CompletionHandler completion = dispatchTo(holder, std::move(success), std::move(failure));
    TaskPtr task = streamed ? uploadTaskWithStreamedRequest(std::move(*request), nullptr, std::move(completion))
                            : dataTaskWithRequest(std::move(*request), std::move(completion));
    return resumed(held(std::move(task), *holder, std::move(noTask), URLString));
}

URLSessionManager::TaskPtr HTTPSessionManager::PUT(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                                                   SuccessBlock success, FailureBlock failure)
{
    return resumed(dataTaskWithHTTPMethod("PUT", URLString, parameters, std::move(success), std::move(failure)));
}

URLSessionManager::TaskPtr HTTPSessionManager::PATCH(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                                                     SuccessBlock success, FailureBlock failure)
{
    return resumed(dataTaskWithHTTPMethod("PATCH", URLString, parameters, std::move(success), std::move(failure)));
}

URLSessionManager::TaskPtr HTTPSessionManager::DELETE(const std::string& URLString, const std::optional<ParameterValue>& parameters,
                                                      SuccessBlock success, FailureBlock failure)
{
    return resumed(dataTaskWithHTTPMethod("DELETE", URLString, parameters, std::move(success), std::move(failure)));
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<URLSessionManager, platform::Dispatch&, platform::NotificationCenter&, const platform::ArchivedObject&>::add(
        "HTTPSessionManager",
        [](platform::Dispatch& dispatch, platform::NotificationCenter& center,
           const platform::ArchivedObject& coder) -> std::shared_ptr<URLSessionManager> {
            const auto baseURL = URLObjectCoding::string(coder, "baseURL");
            if (!coder.field("baseURL").isNil() && !baseURL) return nullptr;
            std::optional<URLSessionConfiguration> configuration;
            if (!coder.field("sessionConfiguration").isNil()) {
                configuration = URLObjectCoding::decodeSessionConfiguration(coder.field("sessionConfiguration"));
                if (!configuration) return nullptr;
            } else if (auto identifier = URLObjectCoding::string(coder, "identifier")) {
                configuration = URLSessionConfiguration::backgroundSessionConfiguration(*identifier);
            } else if (ArchiveDecodingBudget().state() == ArchiveDecodingBudget::State::Spent) {
                // An identifier the budget could not give is no missing one.
                return nullptr;
            }
            std::shared_ptr<HTTPRequestSerializer> requestSerializer;
            std::shared_ptr<HTTPResponseSerializer> responseSerializer;
            if (!coder.field("requestSerializer").isNil() &&
                !(requestSerializer = HTTPRequestSerializer::decodeObject(coder.field("requestSerializer"))))
                return nullptr;
            if (!coder.field("responseSerializer").isNil() &&
                !(responseSerializer = HTTPResponseSerializer::decodeObject(coder.field("responseSerializer"))))
                return nullptr;
            auto manager = HTTPSessionManager::create(dispatch, center, baseURL, std::move(configuration));
            if (requestSerializer) manager->setRequestSerializer(std::move(requestSerializer));
            if (responseSerializer) manager->setResponseSerializer(std::move(responseSerializer));
            return manager;
        });
}  // namespace

void HTTPSessionManager::encodeWithCoder(platform::ArchivedObject& coder) const
{
    URLSessionManager::encodeWithCoder(coder);
    if (m_baseURL) coder.set("baseURL", platform::PlistValue(*m_baseURL));
    coder.set("requestSerializer", requestSerializer()->archivedObject());
    if (auto serializer = responseSerializer()) coder.set("responseSerializer", serializer->archivedObject());
}
