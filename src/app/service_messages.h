// The messages on the update service's pipe (platform/service_pipe.h), both ways.
//
// Every message is a frame: one type byte, the payload's length (4 bytes, little-endian), the
// payload. Numbers in payloads are 4-byte little-endian signed integers; a text is its bytes
// (GBK, the grid's text) to the end of the payload.
//
//   client -> service   Request      the magic "velmora-update/1", one byte: 1 update, 2 rollback,
//                                    3 finish an interrupted commit; then, from a quiet run, one
//                                    byte of options (1 end the product's processes that hold
//                                    files, 2 the client starts the product after an update)
//   service -> client   CellText     row, column, text             a grid cell's new text
//                       ProgressCell row, column, value, minimum, maximum, 4 colours
//                       ProgressValue row, column, value
//                       Counters     succeeded, failed, deferred   after each row's outcome
//                       Finished     exit code, failed rows, timed out (0/1), rollback result;
//                                    after a request with options also: installed (0/1)
//
// A request without the options byte is the window's: the product's processes are ended, as a
// quiet run with --close-product does, and the end has four numbers, as before.
// The request carries nothing but what to run: the service takes no manifest, path, address or
// channel from a client. A reader accepts only the types of its own direction, each with exactly
// its payload's length (a text at most kLongestText bytes); anything else breaks the reader for
// good, and its owner closes the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "app/rollback_command.h"
#include "platform/update_window.h"

namespace velmora::app {

enum class MessageType : std::uint8_t {
  Request = 1,
  CellText = 2,
  ProgressCell = 3,
  ProgressValue = 4,
  Counters = 5,
  Finished = 6,
};

enum class ServiceRequest : std::uint8_t { Update = 1, Rollback = 2, FinishCommit = 3 };

// The options byte of a request.
inline constexpr std::uint8_t kCloseProductRequested = 1;
inline constexpr std::uint8_t kRunProductRequested = 2;


inline constexpr char kRequestMagic[] = "velmora-update/1";
// The service hands its messages to the pipe in blocks of about this many bytes
// (app/client_stream.h); a client reads up to a block at a time.
inline constexpr std::size_t kStreamBlockBytes = 64 * 1024;
// The longest cell text a reader takes.
inline constexpr std::size_t kLongestText = 32768;
// The grid's columns are 0..kColumnCount-1; rows start at 1.
inline constexpr std::int32_t kColumnCount = 8;

struct ServiceMessage {
  MessageType type = MessageType::Request;
  ServiceRequest request = ServiceRequest::Update;  // Request
  std::optional<std::uint8_t> options;              // Request: absent for the window
  std::int32_t row = 0;                             // cell messages
  std::int32_t column = 0;
  std::string text;                                 // CellText
  std::int32_t value = 0;                           // ProgressValue
  platform::ProgressCellSpec cell;                  // ProgressCell
  std::int32_t succeeded = 0;                       // Counters
  std::int32_t failed = 0;
  std::int32_t deferred = 0;
  std::int32_t exitCode = 0;                        // Finished
  std::int32_t failedRows = 0;
  bool timedOut = false;
  RollbackResult rollback = RollbackResult::Restored;
  std::optional<bool> installed;                    // Finished: this run put a release in place
};

// The frame of `message` (of any type).
std::string EncodeMessage(const ServiceMessage& message);

// Which messages a reader accepts: the service reads requests, a client everything else.
enum class ReaderSide { Service, Client };

// Takes bytes as they arrive and hands out whole messages. Not thread-safe. Holds at most one
// frame's bytes (its payload is bounded), whatever arrives.
class MessageReader {
 public:
  explicit MessageReader(ReaderSide side) : side_(side) {}

  // Adds `size` bytes. Ignored once the reader is broken.
  void Feed(const void* data, std::size_t size);
  // The next whole message, or nothing (more bytes needed, or broken).
  std::optional<ServiceMessage> Next();
  // Bytes arrived that are no message of this side: the connection must be closed.
  bool Broken() const { return broken_; }
  // No bytes are waiting for the rest of their frame.
  bool Empty() const { return pending_.empty(); }
  // Why it broke, for the log; empty while it is not.
  const std::string& Fault() const { return fault_; }

 private:
  bool Fail(const char* why);

  ReaderSide side_;
  std::string pending_;
  bool broken_ = false;
  std::string fault_;
};

}  // namespace velmora::app
