#include "app/service_messages.h"

#include <cstring>

namespace velmora::app {
namespace {

constexpr std::size_t kHeaderBytes = 5;
constexpr std::size_t kMagicBytes = sizeof(kRequestMagic) - 1;

void PutNumber(std::string& out, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

std::int32_t NumberAt(const std::string& bytes, std::size_t offset) {
  std::uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
  return static_cast<std::int32_t>(bits);
}

std::string PayloadOf(const ServiceMessage& m) {
  std::string payload;
  switch (m.type) {
    case MessageType::Request:
      payload.assign(kRequestMagic, kMagicBytes);
      payload.push_back(static_cast<char>(m.request));
      if (m.options) payload.push_back(static_cast<char>(*m.options));
      break;
    case MessageType::CellText:
      PutNumber(payload, m.row);
      PutNumber(payload, m.column);
      payload += m.text;
      break;
    case MessageType::ProgressCell:
      PutNumber(payload, m.row);
      PutNumber(payload, m.column);
      for (const std::int32_t n : {m.cell.value, m.cell.minimum, m.cell.maximum}) PutNumber(payload, n);
      for (const std::uint32_t colour : {m.cell.backgroundColour, m.cell.frameColour, m.cell.barColour,
                                         m.cell.trackColour}) {
        PutNumber(payload, static_cast<std::int32_t>(colour));
      }
      break;
    case MessageType::ProgressValue:
      for (const std::int32_t n : {m.row, m.column, m.value}) PutNumber(payload, n);
      break;
    case MessageType::Counters:
      for (const std::int32_t n : {m.succeeded, m.failed, m.deferred}) PutNumber(payload, n);
      break;
    case MessageType::Finished:
      for (const std::int32_t n : {m.exitCode, m.failedRows, std::int32_t{m.timedOut}, static_cast<std::int32_t>(m.rollback)}) {
        PutNumber(payload, n);
      }
      if (m.installed) PutNumber(payload, *m.installed ? 1 : 0);
      break;
  }
  return payload;
}

// The payload's exact length for each type; a text's frame is at least its two numbers long. A
// request and an end may carry one more field (LongerLength).
std::size_t FixedLength(MessageType type) {
  switch (type) {
    case MessageType::Request: return kMagicBytes + 1;
    case MessageType::ProgressCell: return 9 * 4;
    case MessageType::ProgressValue: return 3 * 4;
    case MessageType::Counters: return 3 * 4;
    case MessageType::Finished: return 4 * 4;
    case MessageType::CellText: return 0;
  }
  return 0;
}

std::size_t LongerLength(MessageType type) {
  if (type == MessageType::Request) return kMagicBytes + 2;
  if (type == MessageType::Finished) return 5 * 4;
  return FixedLength(type);
}

bool IsCell(std::int32_t row, std::int32_t column) { return row >= 1 && column >= 0 && column < kColumnCount; }

}  // namespace

std::string EncodeMessage(const ServiceMessage& message) {
  const std::string payload = PayloadOf(message);
  std::string frame(1, static_cast<char>(message.type));
  PutNumber(frame, static_cast<std::int32_t>(payload.size()));
  return frame + payload;
}

bool MessageReader::Fail(const char* why) {
  broken_ = true;
  fault_ = why;
  pending_.clear();
  return false;
}

void MessageReader::Feed(const void* data, std::size_t size) {
  if (broken_ || size == 0) return;
  pending_.append(static_cast<const char*>(data), size);
  // A header that can never start a frame of this side is refused at once, before its payload
  // is waited for: a client that sends "GET / HTTP/1.1" is closed without more reading.
  const auto type = static_cast<MessageType>(static_cast<unsigned char>(pending_[0]));
  const bool known = side_ == ReaderSide::Service
                         ? type == MessageType::Request
                         : type >= MessageType::CellText && type <= MessageType::Finished;
  if (!known) {
    Fail("a message of a type this side does not take");
    return;
  }
  if (pending_.size() < kHeaderBytes) return;
  const auto length = static_cast<std::uint32_t>(NumberAt(pending_, 1));
  const std::size_t fixed = FixedLength(type);
  if (type == MessageType::CellText ? (length < 8 || length > 8 + kLongestText)
                                    : length != fixed && length != LongerLength(type)) {
    Fail("a message whose length does not fit its type");
  }
}

std::optional<ServiceMessage> MessageReader::Next() {
  if (broken_ || pending_.size() < kHeaderBytes) return std::nullopt;
  const auto length = static_cast<std::size_t>(static_cast<std::uint32_t>(NumberAt(pending_, 1)));
  if (pending_.size() < kHeaderBytes + length) return std::nullopt;
  const std::string payload = pending_.substr(kHeaderBytes, length);
  ServiceMessage m;
  m.type = static_cast<MessageType>(static_cast<unsigned char>(pending_[0]));
  pending_.erase(0, kHeaderBytes + length);
  switch (m.type) {
    case MessageType::Request: {
      const auto request = static_cast<unsigned char>(payload[kMagicBytes]);
      if (std::memcmp(payload.data(), kRequestMagic, kMagicBytes) != 0 || request < 1 || request > 3) {
        Fail("a request this service does not know");
        return std::nullopt;
      }
      m.request = static_cast<ServiceRequest>(request);
      if (payload.size() > kMagicBytes + 1) {
        const auto options = static_cast<std::uint8_t>(payload[kMagicBytes + 1]);
        if ((options & ~(kCloseProductRequested | kRunProductRequested)) != 0) {
          Fail("a request with options this service does not know");
          return std::nullopt;
        }
        m.options = options;
      }
      break;
    }
    case MessageType::CellText:
      m.row = NumberAt(payload, 0);
      m.column = NumberAt(payload, 4);
      m.text = payload.substr(8);
      break;
    case MessageType::ProgressCell:
      m.row = NumberAt(payload, 0);
      m.column = NumberAt(payload, 4);
      m.cell.value = NumberAt(payload, 8);
      m.cell.minimum = NumberAt(payload, 12);
      m.cell.maximum = NumberAt(payload, 16);
      m.cell.backgroundColour = static_cast<std::uint32_t>(NumberAt(payload, 20));
      m.cell.frameColour = static_cast<std::uint32_t>(NumberAt(payload, 24));
      m.cell.barColour = static_cast<std::uint32_t>(NumberAt(payload, 28));
      m.cell.trackColour = static_cast<std::uint32_t>(NumberAt(payload, 32));
      if (m.cell.minimum > m.cell.maximum) {
        Fail("a progress cell whose range is empty");
        return std::nullopt;
      }
      break;
    case MessageType::ProgressValue:
      m.row = NumberAt(payload, 0);
      m.column = NumberAt(payload, 4);
      m.value = NumberAt(payload, 8);
      break;
    case MessageType::Counters:
      m.succeeded = NumberAt(payload, 0);
      m.failed = NumberAt(payload, 4);
      m.deferred = NumberAt(payload, 8);
      if (m.succeeded < 0 || m.failed < 0 || m.deferred < 0) {
        Fail("a negative counter");
        return std::nullopt;
      }
      break;
    case MessageType::Finished: {
      m.exitCode = NumberAt(payload, 0);
      m.failedRows = NumberAt(payload, 4);
      const std::int32_t timedOut = NumberAt(payload, 8);
      const std::int32_t rollback = NumberAt(payload, 12);
      if (m.failedRows < 0 || (timedOut != 0 && timedOut != 1) || rollback < 0 || rollback > 3) {
        Fail("an end whose numbers are out of range");
        return std::nullopt;
      }
      m.timedOut = timedOut == 1;
      m.rollback = static_cast<RollbackResult>(rollback);
      if (payload.size() > 16) {
        const std::int32_t installed = NumberAt(payload, 16);
        if (installed != 0 && installed != 1) {
          Fail("an end whose numbers are out of range");
          return std::nullopt;
        }
        m.installed = installed == 1;
      }
      break;
    }
  }
  if ((m.type == MessageType::CellText || m.type == MessageType::ProgressCell || m.type == MessageType::ProgressValue) &&
      !IsCell(m.row, m.column)) {
    Fail("a cell outside the grid");
    return std::nullopt;
  }
  // The next frame's header is checked as soon as its first byte is here.
  if (!pending_.empty()) {
    std::string rest;
    rest.swap(pending_);
    Feed(rest.data(), rest.size());
  }
  return m;
}

}  // namespace velmora::app
