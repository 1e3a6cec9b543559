// Verify's reading, stopped at the message looked for.
#include "app/inspector/message_locator.h"

#include "io/transaction_file.h"
#include "verify/message_reader.h"

namespace kalvrin {

namespace {

// Notes the messages around the target as they pass; the reading stops at
// its next progress step once the target is found or passed.
class Looking : public verify::MessageVisitor {
 public:
  Looking(bool byRecord, std::int64_t target, LocatedMessage& result)
      : byRecord_(byRecord), target_(target), result_(result) {}

  bool done() const { return done_; }

  void OnStart(const verify::FileStart&) override {}
  void OnStrayText(const verify::StrayText&) override {}
  void OnMessage(const verify::ReadMessage& message) override {
    if (done_) return;
    const std::int64_t at = message.decoded.span.offset;
    const bool here = byRecord_ ? message.record == target_ : at == target_;
    if (here) {
      result_.end = LocateEnd::Found;
      result_.record = message.record;
      result_.offset = at;
      done_ = true;
    } else if (!byRecord_ && at > target_) {
      result_.recordAfter = message.record;
      result_.offsetAfter = at;
      done_ = true;
    } else {
      result_.recordBefore = message.record;
      result_.offsetBefore = at;
    }
  }

 private:
  bool byRecord_;
  std::int64_t target_;
  LocatedMessage& result_;
  bool done_ = false;
};

LocatedMessage Locate(const std::string& path, bool byRecord, std::int64_t target,
                      const verify::ProgressCallback& progress) {
  LocatedMessage result;
  verify::MessageFileReader reader(path);
  result.identity = reader.Identity();
  if (!reader.IsOpen()) {
    result.end = LocateEnd::CannotRead;
    result.error = OpenFailureReason(path);
    return result;
  }
  result.fileSize = reader.Size();
  if (!byRecord && (target < 0 || target >= result.fileSize)) {
    result.end = LocateEnd::PastTheEnd;
    return result;
  }
  Looking looking(byRecord, target, result);
  bool askedToStop = false;
  const verify::ReadEnd end = reader.Read(looking, [&](std::int64_t done, std::int64_t total) {
    if (looking.done()) return false;
    askedToStop = progress && !progress(done, total);
    return !askedToStop;
  });
  if (looking.done()) return result;  // whatever came after the message does not matter
  switch (end) {
    case verify::ReadEnd::EndOfFile: result.end = LocateEnd::NoMessageThere; break;
    case verify::ReadEnd::Stopped: result.end = askedToStop ? LocateEnd::Stopped : LocateEnd::NoMessageThere; break;
    case verify::ReadEnd::CannotRead:
      result.end = LocateEnd::CannotRead;
      result.error = OpenFailureReason(path);
      break;
    case verify::ReadEnd::Changed: result.end = LocateEnd::Changed; break;
  }
  return result;
}

}  // namespace

LocatedMessage LocateRecord(const std::string& path, std::int64_t record, const verify::ProgressCallback& progress) {
  return Locate(path, true, record, progress);
}

LocatedMessage LocateOffset(const std::string& path, std::int64_t offset, const verify::ProgressCallback& progress) {
  return Locate(path, false, offset, progress);
}

}  // namespace kalvrin
