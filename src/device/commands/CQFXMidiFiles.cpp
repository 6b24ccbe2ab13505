// The file-system chains of the command layer: free space, read, write, delete, length and flush.
// Every query follows the same exchange: request, the device's result, our acknowledgement, its code.
#include <algorithm>
#include <cctype>

#include "common/Log.h"
#include "device/commands/CQFXMidi.h"
#include "device/commands/QFXMidiMessages.h"

namespace {

std::int32_t asCode(std::int64_t code)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(code));
}

// The device's file system keeps 8.3 names and may answer in another case than it was asked.
bool sameFileName(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

// ---- disk free --------------------------------------------------------------------------------------

void CQFXMidi::checkMemory()
{
    subCommandDiskFreeWithCurrentRetryTime(beginOperation(), 0);
}

bool CQFXMidi::answerStands(const DoubtedAnswer& answer, std::optional<DoubtedAnswer>& earlier,
                            std::int32_t& asked) const
{
    if (!m_device.takenCodeMayBeLate() || (earlier && *earlier == answer) || asked >= kMostAsksInDoubt) {
        // Asked again, the unit's answers stand: a code counted owed that has not come is written off, so a
        // unit that never sends it costs this one ask.
        if (asked > 1) m_device.settleOwedCodes();
        return true;
    }
    // The late code, if this was it, is followed by this query's own, which no one awaits by then.
    earlier = answer;
    ++asked;
    return false;
}

void CQFXMidi::subCommandDiskFreeWithCurrentRetryTime(const Op& op, std::int32_t retry, std::int32_t asked,
                                                      std::optional<DoubtedAnswer> earlier)
{
    const auto report = [this, op](std::int32_t state, std::int64_t total, std::int64_t free) {
        endOperation(op);
        if (const Listener listener{*this}) listener->diskFreeCallbackWithState(state, total, free);
    };
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_F_DISKFREE, dev());
    const bool sent = m_device.registerDiskFreeMessage(
        step(op,
             [this, op, retry, report, asked, earlier](bool, auto total, auto free) {
                 const auto totalSize = static_cast<std::int64_t>(total);
                 const auto freeSize = static_cast<std::int64_t>(free);
                 const Bytes acknowledgement = ack();
                 const bool acked = m_device.registerFFSRespondenceMessage(
                     step(op,
                          [this, op, retry, report, totalSize, freeSize, asked, earlier](bool, auto code) {
                              // A cut chain's late code may stand in for this one's: asked again.
                              std::optional<DoubtedAnswer> last = earlier;
                              std::int32_t asks = asked;
                              if (!answerStands({totalSize, freeSize, asCode(code)}, last, asks))
                                  subCommandDiskFreeWithCurrentRetryTime(op, retry, asks, last);
                              else if (asCode(code) == 0) report(1, totalSize, freeSize);
                              else if (canRetry(retry)) subCommandDiskFreeWithCurrentRetryTime(op, retry + 1);
                              else report(-4, -1, -1);
                          }),
                     acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
                 if (!acked) report(-2, -1, -1);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) report(-1, -1, -1);
}

// ---- read -------------------------------------------------------------------------------------------

void CQFXMidi::finishRead(const Op& op, std::int32_t state, const Bytes& bytes, std::int64_t count)
{
    endOperation(op);
    {
        std::lock_guard lock(m_mutex);
        m_read.reset();
    }
    if (const Listener listener{*this}) listener->readFileQFXListAndQFXCallbackWithState(state, bytes, count);
}

void CQFXMidi::readFFSFileListWithFilePath(const std::string& fileName)
{
    subCommandFindFirstWithFilePath(beginOperation(), fileName, 0);
}

void CQFXMidi::subCommandFindFirstWithFilePath(const Op& op, const std::string& name, std::int32_t retry)
{
    const auto request = QFXMidiMessages::findFirst(dev(), name);
    if (!request) {
        finishRead(op, -1, {}, 0);
        return;
    }
    // A missing file is answered with a code instead of a result: await either. A search answers with a
    // code only when it fails, and with the name it found: a success code, or a result for another
    // name, is the late answer to an earlier request and must not end this one.
    const bool waiting = m_device.registerFFSRespondenceMessage(
        step(op, [this, op](bool, auto code) {
            finishRead(op, asCode(code) == kNoSuchFile ? CQFXMidiDelegate::kReadNoSuchFile : 0, {}, 0);
        }),
        [](std::int32_t code) { return code != 0; });
    if (!waiting) {
        finishRead(op, 0, {}, 0);
        return;
    }
    const bool sent = m_device.registerFFindFirstMessage(
        step(op,
             [this, op, name, retry](bool, const std::string& foundName, auto size) {
                 auto job = std::make_shared<ReadJob>();
                 job->name = foundName;
                 job->size = static_cast<std::int64_t>(size);
                 job->tooLarge = job->size > kMaxReadFileSize;
                 const Bytes acknowledgement = ack();
                 const bool acked = m_device.registerFFSRespondenceMessage(
                     step(op,
                          [this, op, name, retry, job](bool, auto code) {
                              if (asCode(code) == 0) subCommandFindCloseWithFileName(op, job, 0);
                              else if (canRetry(retry)) subCommandFindFirstWithFilePath(op, name, retry + 1);
                              else finishRead(op, -2, {}, 0);
                          }),
                     acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
                 if (!acked) finishRead(op, 0, {}, 0);
             }),
        request->data(), static_cast<std::int64_t>(request->size()),
        [name](const std::string& found) { return sameFileName(found, name); });
    if (!sent) finishRead(op, 0, {}, 0);
}

void CQFXMidi::subCommandFindCloseWithFileName(const Op& op, const std::shared_ptr<ReadJob>& job,
                                               std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_FIND_CLOSE, dev());
    const bool sent = m_device.registerFFSRespondenceMessage(
        step(op,
             [this, op, job, retry](bool, auto code) {
                 if (asCode(code) != 0) {
                     if (canRetry(retry)) subCommandFindCloseWithFileName(op, job, retry + 1);
                     else finishRead(op, -2, {}, 0);
                 } else if (job->tooLarge) {
                     // Beyond any file the device holds: refused before a buffer of that size is taken.
                     RIG_LOG("file %s announced as %lld bytes; not read", job->name.c_str(),
                             static_cast<long long>(job->size));
                     finishRead(op, 0, {}, 0);
                 } else {
                     subCommandOpenForReadWithFileName(op, job, 0);
                 }
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) RIG_LOG("find close refused; the watchdog ends the read");
}

void CQFXMidi::subCommandOpenForReadWithFileName(const Op& op, const std::shared_ptr<ReadJob>& job,
                                                 std::int32_t retry)
{
    const auto request = QFXMidiMessages::open(dev(), QFXMidiMessages::kOpenForRead, job->name);
    if (!request) {
        finishRead(op, -1, {}, 0);
        return;
    }
    job->straysAtOpen = m_device.strayFileSystemReplies();
    const bool sent = m_device.registerFOpenMessage(
        step(op,
             [this, op, job, retry](bool, const auto& handle) {
                 const Bytes handleBytes(handle.begin(), handle.end());
                 // The unit holds the file open from its answer on: a clear from here closes it.
                 job->handle = handleBytes;
                 {
                     std::lock_guard lock(m_mutex);
                     m_read = job;
                 }
                 const Bytes acknowledgement = ack();
                 const bool acked = m_device.registerFFSRespondenceMessage(
                     step(op,
                          [this, op, job, retry](bool, auto code) {
                              if (asCode(code) == 0) {
                                  job->buffer.assign(static_cast<std::size_t>(job->size), 0);
                                  job->done = 0;
                                  // The count carries on, so refused chunks cannot reopen forever.
                                  subReadFileQFXListAndQFxWithFileHandle(op, job, retry);
                              } else if (canRetry(retry)) {
                                  subCommandOpenForReadWithFileName(op, job, retry + 1);
                              } else {
                                  finishRead(op, -2, {}, 0);
                              }
                          }),
                     acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
                 if (!acked) finishRead(op, 0, {}, 0);
             }),
        request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) finishRead(op, 0, {}, 0);
}

void CQFXMidi::subReadFileQFXListAndQFxWithFileHandle(const Op& op, const std::shared_ptr<ReadJob>& job,
                                                      std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::read(dev(), job->handle);
    const bool sent = m_device.registerFRead1Message(
        step(op,
             [this, op, job, retry](bool, auto count) {
                 const auto counted = static_cast<std::int64_t>(count);
                 const Bytes acknowledgement = ack();
                 const bool acked = m_device.registerFRead2Message(
                     step(op,
                          [this, op, job, retry, counted](bool, const auto& data) {
                              const Bytes chunk(data.begin(), data.end());
                              const Bytes acknowledgement2 = ack();
                              const bool acked2 = m_device.registerFFSRespondenceMessage(
                                  step(op,
                                       [this, op, job, retry, counted, chunk](bool, auto code) {
                                           if (asCode(code) == 0) onChunkRead(op, job, counted, chunk, retry);
                                           else if (canRetry(retry)) closeRead(op, job, CloseReason::Again, retry + 1);
                                           else finishRead(op, -2, {}, 0);
                                       }),
                                  acknowledgement2.data(), static_cast<std::int64_t>(acknowledgement2.size()));
                              if (!acked2) closeRead(op, job, CloseReason::Failed, 0);
                          }),
                     acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
                 if (!acked) closeRead(op, job, CloseReason::Failed, 0);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) closeRead(op, job, CloseReason::Failed, 0);
}

void CQFXMidi::onChunkRead(const Op& op, const std::shared_ptr<ReadJob>& job, std::int64_t count, const Bytes& data,
                           std::int32_t retry)
{
    // A count the chunk cannot hold, or one that would run past the announced size (or stall before
    // it), fails the read rather than write beyond the buffer or loop.
    const bool valid = count >= 0 && count <= kReadChunk && count <= static_cast<std::int64_t>(data.size()) &&
                       job->done + count <= job->size && (count > 0 || job->done >= job->size);
    if (!valid) {
        RIG_LOG("read of %s: chunk count %lld refused at %lld of %lld", job->name.c_str(), static_cast<long long>(count),
                static_cast<long long>(job->done), static_cast<long long>(job->size));
        closeRead(op, job, CloseReason::Failed, 0);
        return;
    }
    std::copy_n(data.begin(), count, job->buffer.begin() + job->done);
    job->done += count;
    if (job->done < job->size) subReadFileQFXListAndQFxWithFileHandle(op, job, retry);
    else closeRead(op, job, CloseReason::Complete, 0);
}

void CQFXMidi::closeRead(const Op& op, const std::shared_ptr<ReadJob>& job, CloseReason reason, std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::close(dev(), job->handle);
    const bool sent = m_device.registerFFSRespondenceMessage(
        step(op,
             [this, op, job, reason, retry](bool, auto code) {
                 if (asCode(code) != 0) {
                     if (canRetry(retry)) closeRead(op, job, reason, retry + 1);
                     else finishRead(op, -2, {}, 0);
                     return;
                 }
                 job->handle.clear();
                 // The unit answers in order: by its answer to the close, every answer owed to this read
                 // has come. One that found no request waiting means a late answer of an ended chain was
                 // taken in its place, and what was read cannot be trusted: the file is read again.
                 if (reason != CloseReason::Again && m_device.strayFileSystemReplies() != job->straysAtOpen) {
                     if (job->reopensForStrays < m_timeOfRetry.load()) {
                         RIG_LOG("read of %s met a stray reply; read again", job->name.c_str());
                         ++job->reopensForStrays;
                         subCommandOpenForReadWithFileName(op, job, 0);
                     } else {
                         finishRead(op, -2, {}, 0);
                     }
                     return;
                 }
                 switch (reason) {
                 case CloseReason::Complete: finishRead(op, 1, job->buffer, job->done); break;
                 case CloseReason::Again: subCommandOpenForReadWithFileName(op, job, retry); break;
                 case CloseReason::Failed: finishRead(op, 0, {}, 0); break;
                 }
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) RIG_LOG("close refused; the watchdog ends the read");
}

// ---- write ------------------------------------------------------------------------------------------

void CQFXMidi::finishWrite(const Op& op, std::int32_t state)
{
    endOperation(op);
    {
        std::lock_guard lock(m_mutex);
        m_write.reset();
    }
    if (const Listener listener{*this}) listener->writeFileListCallbackWithState(state);
}

void CQFXMidi::abandonWrite(const Op& op, const std::shared_ptr<WriteJob>& job, std::int32_t state)
{
    if (!job->opened) {
        finishWrite(op, state);
        return;
    }
    if (job->handle.empty()) {
        unlinkAbandonedWrite(op, job, state);
        return;
    }
    // Whatever the close answers, the delete follows: a file the device keeps open cannot be left whole.
    const Bytes request = QFXMidiMessages::close(dev(), job->handle);
    const bool sent = m_device.registerFFSRespondenceMessage(step(op,
                                                                  [this, op, job, state](bool, auto) {
                                                                      job->handle.clear();
                                                                      unlinkAbandonedWrite(op, job, state);
                                                                  }),
                                                             request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) finishWrite(op, state);
}

void CQFXMidi::unlinkAbandonedWrite(const Op& op, const std::shared_ptr<WriteJob>& job, std::int32_t state)
{
    const auto request = QFXMidiMessages::unlink(dev(), job->name);
    const bool sent = request && m_device.registerFFSRespondenceMessage(
                                     step(op,
                                          [this, op, state](bool, auto code) {
                                              const auto value = asCode(code);
                                              if (value != 0 && value != kNoSuchFile)
                                                  RIG_LOG("a partial file could not be deleted: code %d", value);
                                              finishWrite(op, state);
                                          }),
                                     request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) finishWrite(op, state);
}

void CQFXMidi::sendAbandonedWriteCleanup(const WriteJob& job)
{
    if (!job.opened) return;
    if (!job.handle.empty()) {
        const Bytes close = QFXMidiMessages::close(dev(), job.handle);
        m_device.sendUnawaitedFileRequest(close.data(), static_cast<std::int64_t>(close.size()));
    }
    if (const auto unlink = QFXMidiMessages::unlink(dev(), job.name))
        m_device.sendUnawaitedFileRequest(unlink->data(), static_cast<std::int64_t>(unlink->size()));
}

void CQFXMidi::writeFileListWithFilePath(const std::string& fileName, const std::uint8_t* byteData,
                                         std::int64_t fileSize, std::int32_t state)
{
    const Op op = beginOperation();
    if (!QFXMidiMessages::fileNameField(fileName) || fileSize < 0 || (fileSize > 0 && !byteData) ||
        fileSize > 0xFFFFFFFFLL) {
        finishWrite(op, 0);
        return;
    }
    auto job = std::make_shared<WriteJob>();
    job->name = fileName;
    if (fileSize > 0) job->data.assign(byteData, byteData + fileSize);
    job->state = state;
    {
        std::lock_guard lock(m_mutex);
        m_write = job;
    }
    subCommandUnlinkForWrite(op, job, 0);
}

void CQFXMidi::subCommandUnlinkForWrite(const Op& op, const std::shared_ptr<WriteJob>& job, std::int32_t retry)
{
    const auto request = QFXMidiMessages::unlink(dev(), job->name);
    const bool sent = request && m_device.registerFFSRespondenceMessage(
                                     step(op,
                                          [this, op, job, retry](bool, auto code) {
                                              const auto value = asCode(code);
                                              // The count carries on into the rewrite, so a
                                              // restarted write is bounded by the retry rule.
                                              if (value == 0 || value == kNoSuchFile)
                                                  subCommandOpenForWriteWithFilePath(op, job, retry);
                                              else if (canRetry(retry))
                                                  subCommandUnlinkForWrite(op, job, retry + 1);
                                              else
                                                  abandonWrite(op, job, -1);
                                          }),
                                     request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) abandonWrite(op, job, 0);
}

void CQFXMidi::subCommandOpenForWriteWithFilePath(const Op& op, const std::shared_ptr<WriteJob>& job,
                                                  std::int32_t retry)
{
    const auto request = QFXMidiMessages::open(dev(), QFXMidiMessages::kOpenForWrite, job->name);
    // From here the device may empty or create the file under its final name.
    if (request) job->opened = true;
    const bool sent =
        request &&
        m_device.registerFOpenMessage(
            step(op,
                 [this, op, job, retry](bool, const auto& handle) {
                     const Bytes handleBytes(handle.begin(), handle.end());
                     const Bytes acknowledgement = ack();
                     const bool acked = m_device.registerFFSRespondenceMessage(
                         step(op,
                              [this, op, job, retry, handleBytes](bool, auto code) {
                                  if (asCode(code) == 0) {
                                      job->handle = handleBytes;
                                      subWriteQFXFileWithFileHandle(op, job, 0, retry);
                                  } else if (canRetry(retry)) {
                                      subCommandUnlinkForWrite(op, job, retry + 1);
                                  } else {
                                      abandonWrite(op, job, -1);
                                  }
                              }),
                         acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
                     if (!acked) {
                         job->handle = handleBytes;
                         abandonWrite(op, job, 0);
                     }
                 }),
            request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) abandonWrite(op, job, 0);
}

void CQFXMidi::subWriteQFXFileWithFileHandle(const Op& op, const std::shared_ptr<WriteJob>& job, std::int64_t offset,
                                             std::int32_t retry)
{
    const auto size = static_cast<std::int64_t>(job->data.size());
    // The chunk that reaches the end is followed by one of length 0: the device takes it as the end.
    const std::int64_t length = std::min<std::int64_t>(QFXMidiMessages::kFileChunkSize, size - offset);
    const std::uint8_t* chunk = length > 0 ? job->data.data() + offset : nullptr;
    const auto request = QFXMidiMessages::write(dev(), job->handle, chunk, length);
    const bool sent =
        request &&
        m_device.registerFWriteMessage(
            step(op,
                 [this, op, job, offset, length, size, retry](bool, auto written) {
                     const auto writtenCount = static_cast<std::int64_t>(written);
                     const Bytes acknowledgement = ack();
                     const bool acked = m_device.registerFFSRespondenceMessage(
                         step(op,
                              [this, op, job, offset, length, size, retry, writtenCount](bool, auto code) {
                                  // A short write is a refusal like any code: rewrite from the start.
                                  if (asCode(code) != 0 || writtenCount != length) {
                                      if (canRetry(retry)) closeWrite(op, job, CloseReason::Again, retry + 1);
                                      else abandonWrite(op, job, -1);
                                  } else if (offset >= size) {
                                      closeWrite(op, job, CloseReason::Complete, 0);
                                  } else {
                                      subWriteQFXFileWithFileHandle(op, job, offset + length, retry);
                                  }
                              }),
                         acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
                     if (!acked) closeWrite(op, job, CloseReason::Failed, 0);
                 }),
            request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) closeWrite(op, job, CloseReason::Failed, 0);
}

void CQFXMidi::closeWrite(const Op& op, const std::shared_ptr<WriteJob>& job, CloseReason reason, std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::close(dev(), job->handle);
    const bool sent = m_device.registerFFSRespondenceMessage(
        step(op,
             [this, op, job, reason, retry](bool, auto code) {
                 if (asCode(code) != 0) {
                     if (canRetry(retry)) closeWrite(op, job, reason, retry + 1);
                     else abandonWrite(op, job, -1);
                     return;
                 }
                 job->handle.clear();
                 switch (reason) {
                 case CloseReason::Complete: finishWrite(op, 1); break;
                 case CloseReason::Again: subCommandUnlinkForWrite(op, job, retry); break;
                 case CloseReason::Failed: abandonWrite(op, job, 0); break;
                 }
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) RIG_LOG("close refused; the watchdog ends the write");
}

// ---- delete, length, flush --------------------------------------------------------------------------

void CQFXMidi::deleteQFXWithFileName(const std::string& fileName)
{
    const Op op = beginOperation();
    if (!QFXMidiMessages::fileNameField(fileName)) {
        endOperation(op);
        if (const Listener listener{*this}) listener->deleteQFXCallbackWithState(-2, -1);
        return;
    }
    subCommandUnlinkForDelete(op, fileName, 0);
}

void CQFXMidi::subCommandUnlinkForDelete(const Op& op, const std::string& name, std::int32_t retry)
{
    const auto report = [this, op](std::int32_t state, std::int64_t code) {
        endOperation(op);
        if (const Listener listener{*this}) listener->deleteQFXCallbackWithState(state, code);
    };
    const auto request = QFXMidiMessages::unlink(dev(), name);
    const bool sent = request && m_device.registerFFSRespondenceMessage(
                                     step(op,
                                          [this, op, name, retry, report](bool, auto code) {
                                              const auto value = asCode(code);
                                              if (value == 0 || value == kNoSuchFile) report(1, value);
                                              else if (canRetry(retry)) subCommandUnlinkForDelete(op, name, retry + 1);
                                              else report(-4, value);
                                          }),
                                     request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) report(-3, -1);
}

void CQFXMidi::getFileSizeWithFileName(const std::string& fileName)
{
    const Op op = beginOperation();
    if (!QFXMidiMessages::fileNameField(fileName)) {
        endOperation(op);
        if (const Listener listener{*this}) listener->getFileSizeCallbackWithState(-2, -1);
        return;
    }
    subCommandFileLengthWithFileName(op, fileName, 0);
}

void CQFXMidi::subCommandFileLengthWithFileName(const Op& op, const std::string& name, std::int32_t retry,
                                                std::int32_t asked, std::optional<DoubtedAnswer> earlier)
{
    const auto report = [this, op](std::int32_t state, std::int64_t size) {
        endOperation(op);
        if (const Listener listener{*this}) listener->getFileSizeCallbackWithState(state, size);
    };
    const auto request = QFXMidiMessages::fileLength(dev(), name);
    const bool sent =
        request && m_device.registerFFileLengthMessage(
                       step(op,
                            [this, op, name, retry, report, asked, earlier](bool, auto length) {
                                const auto fileLength = static_cast<std::int64_t>(length);
                                const Bytes acknowledgement = ack();
                                const bool acked = m_device.registerFFSRespondenceMessage(
                                    step(op,
                                         [this, op, name, retry, report, fileLength, asked, earlier](bool, auto code) {
                                             // A cut chain's late code may stand in for this one's (a
                                             // deletion's success for "no such file"): asked again.
                                             std::optional<DoubtedAnswer> last = earlier;
                                             std::int32_t asks = asked;
                                             if (!answerStands({fileLength, 0, asCode(code)}, last, asks))
                                                 subCommandFileLengthWithFileName(op, name, retry, asks, last);
                                             else if (asCode(code) == 0) report(1, fileLength);
                                             // No file of the name: asking again changes nothing.
                                             else if (asCode(code) == kNoSuchFile) report(0, -1);
                                             else if (canRetry(retry))
                                                 subCommandFileLengthWithFileName(op, name, retry + 1);
                                             else report(-3, -1);
                                         }),
                                    acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
                                if (!acked) report(-1, -1);
                            }),
                       request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) report(-1, -1);
}

void CQFXMidi::fileListFlush()
{
    subCommandFFSFileListFlushWithCurrentRetryTime(beginOperation(), 0);
}

void CQFXMidi::subCommandFFSFileListFlushWithCurrentRetryTime(const Op& op, std::int32_t retry)
{
    const auto report = [this, op](std::int32_t state) {
        endOperation(op);
        if (const Listener listener{*this}) listener->ffsFileListFlushCallbackWithState(state);
    };
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_FFS_FILE_LIST_FLUSH, dev());
    const bool sent = m_device.registerFFSACKMessage(
        step(op,
             [this, op, retry, report](bool, auto code) {
                 if (code == 0) report(1);
                 else if (canRetry(retry)) subCommandFFSFileListFlushWithCurrentRetryTime(op, retry + 1);
                 else report(-1);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) report(0);
}
