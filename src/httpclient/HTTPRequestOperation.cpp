#include "httpclient/HTTPRequestOperation.h"

#include "httpclient/ArchivedClasses.h"

#include <stdexcept>

namespace {

std::shared_ptr<platform::DispatchGroup> httpDefaultCompletionGroup()
{
    static auto group = std::make_shared<platform::DispatchGroup>();
    return group;
}

}  // namespace

HTTPRequestOperation::HTTPRequestOperation(platform::Dispatch& dispatch, platform::URLRequest request,
                                           platform::NetworkThread& networkThread)
    : URLConnectionOperation(dispatch, std::move(request), networkThread),
      m_responseSerializer(HTTPResponseSerializer::serializer())
{
}

std::shared_ptr<HTTPResponseSerializer> HTTPRequestOperation::responseSerializer() const
{
    std::lock_guard guard(lock());
    return m_responseSerializer;
}

void HTTPRequestOperation::setResponseSerializer(std::shared_ptr<HTTPResponseSerializer> serializer)
{
    // A release build drops assertions, and a missing serializer would crash the completion later.
    if (!serializer) throw std::invalid_argument("Invalid parameter not satisfying: responseSerializer");
    std::lock_guard guard(lock());
    m_responseSerializer = std::move(serializer);
    m_responseObject.reset();
    m_responseObjectMade = false;
    m_responseSerializationError.reset();
}

std::any HTTPRequestOperation::responseObject()
{
    std::lock_guard guard(lock());
    if (!m_responseObjectMade && isFinished() && !connectionError()) {
        const std::optional<platform::URLResponse> received = response();
        std::optional<platform::Error> serializationError;
        m_responseObject = m_responseSerializer->responseObjectForResponse(received ? &*received : nullptr, responseData(),
                                                                           &serializationError);
        m_responseObjectMade = true;
        if (serializationError) m_responseSerializationError = serializationError;
    }
    return m_responseObject;
}

std::optional<platform::Error> HTTPRequestOperation::responseSerializationError() const
{
    std::lock_guard guard(lock());
    return m_responseSerializationError;
}

std::optional<platform::Error> HTTPRequestOperation::error() const
{
    std::lock_guard guard(lock());
    if (m_responseSerializationError) return m_responseSerializationError;
    return connectionError();
}

void HTTPRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure)
{
    // Weak: while the transfer runs the network thread holds the operation, and one that thread will never
    // run (it has halted as the program ends) must go with the blocks and everything they hold.
    std::weak_ptr<HTTPRequestOperation> weak = std::static_pointer_cast<HTTPRequestOperation>(shared_from_this());
    setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
        auto self = weak.lock();
        if (!self) return;
        auto group = self->completionGroup();
        if (group) group->enter();
        self->dispatch().global(platform::Priority::Default).async([self, success, failure, group] {
            auto deliver = [&self, &group](std::function<void()> call) {
                platform::Queue* queue = self->completionQueue();
                if (!queue) queue = &self->dispatch().main();
                auto within = group ? group : httpDefaultCompletionGroup();
                within->enter();
                queue->async([call = std::move(call), within] {
                    call();
                    within->leave();
                });
            };
            auto fail = [&] {
                if (failure) deliver([self, failure] { failure(*self, *self->error()); });
            };
            if (self->connectionError()) {
                fail();
            } else {
                std::any object = self->responseObject();
                if (self->error())
                    fail();
                else if (success)
                    deliver([self, success, object] { success(*self, object); });
            }
            if (group) group->leave();
        });
    });
}

void HTTPRequestOperation::pause()
{
    std::lock_guard guard(lock());
    const bool wasPaused = isPaused();
    URLConnectionOperation::pause();
    if (wasPaused || !isPaused()) return;
    auto stream = outputStream();
    std::uint64_t offset = 0;
    if (auto fileOffset = stream->fileCurrentOffset())
        offset = *fileOffset;
    else if (auto memory = stream->dataWrittenToMemory())
        offset = memory->size();
    platform::URLRequest resumed = request();
    const auto received = response();
    if (received) {
        if (auto tag = received->valueForHTTPHeaderField("ETag"); tag && platform::URLRequest::isSendableField("If-Range", *tag))
            resumed.setValue(*tag, "If-Range");
    }
    resumed.setValue("bytes=" + std::to_string(offset) + "-", "Range");
    setRequest(std::move(resumed));
}

std::shared_ptr<URLConnectionOperation> HTTPRequestOperation::copy() const
{
    auto copied = std::make_shared<HTTPRequestOperation>(dispatch(), request(), networkThread());
    shareBlocksWith(*copied);
    copied->setResponseSerializer(responseSerializer()->copy());
    return copied;
}

namespace {
[[maybe_unused]] const bool kArchived = ArchivedClasses<URLConnectionOperation, platform::Dispatch&, platform::URLRequest>::add(
    "HTTPRequestOperation", [](platform::Dispatch& dispatch, platform::URLRequest request) {
        return std::make_shared<HTTPRequestOperation>(dispatch, std::move(request));
    });
}  // namespace

void HTTPRequestOperation::encodeWithCoder(platform::ArchivedObject& coder)
{
    URLConnectionOperation::encodeWithCoder(coder);
    coder.set("responseSerializer", responseSerializer()->archivedObject());
}

bool HTTPRequestOperation::initWithCoder(const platform::ArchivedObject& coder)
{
    if (!URLConnectionOperation::initWithCoder(coder)) return false;
    if (coder.field("responseSerializer").isNil()) return true;
    auto serializer = HTTPResponseSerializer::decodeObject(coder.field("responseSerializer"));
    if (!serializer) return false;
    setResponseSerializer(std::move(serializer));
    return true;
}
