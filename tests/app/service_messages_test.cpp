// The update service's pipe: every message survives the trip byte by byte, each side refuses what
// is not its own, and the service takes a request and nothing else from a connection.
#include "app/service_messages.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

#include "app/client_stream.h"
#include "app/update_service.h"

namespace velmora::app {
namespace {

std::vector<ServiceMessage> ReadAll(ReaderSide side, const std::string& bytes, bool& broken) {
  MessageReader reader(side);
  std::vector<ServiceMessage> messages;
  for (const char c : bytes) {  // one byte at a time: frames split anywhere still arrive whole
    reader.Feed(&c, 1);
    while (std::optional<ServiceMessage> m = reader.Next()) messages.push_back(*m);
  }
  broken = reader.Broken();
  return messages;
}

ServiceMessage Of(MessageType type, std::int32_t row = 0, std::int32_t value = 0) {
  ServiceMessage m;
  m.type = type;
  m.row = row;
  m.value = value;
  return m;
}

TEST(ServiceMessages, EveryMessageArrivesAsItWasSent) {
  ServiceMessage text = Of(MessageType::CellText);
  text.row = 3;
  text.column = 7;
  text.text = "\xcf\xc2\xd4\xd8\xb3\xc9\xb9\xa6";  // 下载成功 in GBK
  ServiceMessage cell = Of(MessageType::ProgressCell);
  cell.row = 20000;
  cell.column = 2;
  cell.cell.barColour = platform::Rgb(1, 2, 3);
  ServiceMessage value = Of(MessageType::ProgressValue);
  value.row = 1;
  value.column = 2;
  value.value = -5;
  ServiceMessage counters = Of(MessageType::Counters);
  counters.succeeded = 4;
  counters.failed = 1;
  ServiceMessage end = Of(MessageType::Finished);
  end.exitCode = 22;
  end.failedRows = 2;
  end.timedOut = true;
  end.rollback = RollbackResult::FilesHeld;
  ServiceMessage installed = end;
  installed.installed = false;

  const std::string stream = EncodeMessage(text) + EncodeMessage(cell) + EncodeMessage(value) +
                             EncodeMessage(counters) + EncodeMessage(end) + EncodeMessage(installed);
  bool broken = true;
  const std::vector<ServiceMessage> got = ReadAll(ReaderSide::Client, stream, broken);
  ASSERT_FALSE(broken);
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0].text, text.text);
  EXPECT_EQ(got[0].column, 7);
  EXPECT_EQ(got[1].row, 20000);
  EXPECT_EQ(got[1].cell.barColour, platform::Rgb(1, 2, 3));
  EXPECT_EQ(got[1].cell.trackColour, platform::kDefaultColour);
  EXPECT_EQ(got[2].value, -5);
  EXPECT_EQ(got[3].succeeded + got[3].failed, 5);
  EXPECT_TRUE(got[4].timedOut && got[4].exitCode == 22 && got[4].failedRows == 2);
  EXPECT_EQ(got[4].rollback, RollbackResult::FilesHeld);
  EXPECT_FALSE(got[4].installed.has_value());  // the window's end, four numbers as before
  EXPECT_EQ(got[5].installed, false);

  ServiceMessage rollback = Of(MessageType::Request);
  rollback.request = ServiceRequest::Rollback;
  const std::vector<ServiceMessage> asked = ReadAll(ReaderSide::Service, EncodeMessage(rollback), broken);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].request, ServiceRequest::Rollback);
  EXPECT_FALSE(asked[0].options.has_value());
}

TEST(ServiceMessages, AnythingThatIsNotAMessageOfTheSideBreaksTheReader) {
  ServiceMessage update = Of(MessageType::Request);
  std::string unknownRequest = EncodeMessage(update);
  unknownRequest.back() = 4;
  ServiceMessage withOptions = update;
  withOptions.options = 4;  // no such option
  std::string badMagic = EncodeMessage(update);
  badMagic[5] = 'V';
  ServiceMessage outside = Of(MessageType::CellText);
  outside.column = kColumnCount;
  outside.row = 1;
  ServiceMessage rowZero = Of(MessageType::ProgressValue);
  std::string longText = EncodeMessage(Of(MessageType::CellText));
  longText[1] = 0x10;  // 8 + 0x10 bytes ... of length 16 + 8 * 65536 claimed
  longText[3] = 0x08;
  const struct {
    ReaderSide side;
    std::string bytes;
  } cases[] = {
      {ReaderSide::Service, "GET / HTTP/1.1\r\n\r\n"},
      {ReaderSide::Service, EncodeMessage(Of(MessageType::Finished))},  // the service takes requests only
      {ReaderSide::Service, unknownRequest},
      {ReaderSide::Service, badMagic},
      {ReaderSide::Service, EncodeMessage(withOptions)},
      {ReaderSide::Service, std::string("\x01\xff\xff\xff\x7f", 5)},  // a 2 GiB request is never waited for
      {ReaderSide::Client, EncodeMessage(update)},                    // a client takes no requests
      {ReaderSide::Client, EncodeMessage(outside)},
      {ReaderSide::Client, EncodeMessage(rowZero)},
      {ReaderSide::Client, longText},
      {ReaderSide::Client, std::string("\x05\x0b\x00\x00\x00", 5) + std::string(11, '\0')},  // counters of 11 bytes
  };
  for (const auto& c : cases) {
    bool broken = false;
    EXPECT_TRUE(ReadAll(c.side, c.bytes, broken).empty()) << testing::PrintToString(c.bytes);
    EXPECT_TRUE(broken) << testing::PrintToString(c.bytes);
  }
}

// A connection that hands out its bytes in one piece, then stays silent or closes.
class ScriptedConnection : public platform::PipeConnection {
 public:
  std::string incoming;
  bool closesAfter = false;
  int reads = 0;
  std::int64_t Read(void* buffer, std::size_t size, std::uint32_t) override {
    ++reads;
    if (incoming.empty()) return closesAfter ? -1 : 0;
    const std::size_t n = std::min(size, incoming.size());
    incoming.copy(static_cast<char*>(buffer), n);
    incoming.erase(0, n);
    return static_cast<std::int64_t>(n);
  }
  bool Write(const void*, std::size_t) override { return true; }
  std::uint32_t PeerProcessId() override { return 0; }
};

TEST(ServiceMessages, TheServiceTakesOneRequestAndClosesOnAnythingElseOrSilence) {
  ScriptedConnection good;
  good.incoming = EncodeMessage(Of(MessageType::Request));
  std::string why;
  EXPECT_EQ(ReadServiceRequest(good, why)->request, ServiceRequest::Update);

  ScriptedConnection trailing;
  trailing.incoming = EncodeMessage(Of(MessageType::Request)) + "x";
  EXPECT_FALSE(ReadServiceRequest(trailing, why));

  ScriptedConnection garbage;
  garbage.incoming = std::string(200, 'x');
  EXPECT_FALSE(ReadServiceRequest(garbage, why));
  EXPECT_EQ(garbage.reads, 1);  // refused at the first byte, nothing more is read

  ScriptedConnection silent;
  silent.incoming = EncodeMessage(Of(MessageType::Request)).substr(0, 7);
  EXPECT_FALSE(ReadServiceRequest(silent, why));
  EXPECT_EQ(why, "no request came in time");

  ScriptedConnection closed;
  closed.closesAfter = true;
  EXPECT_FALSE(ReadServiceRequest(closed, why));
  EXPECT_EQ(why, "the client closed the pipe");
}

// A client's end that keeps every block written to it, or refuses them all.
class RecordingConnection : public platform::PipeConnection {
 public:
  std::mutex mutex;
  std::vector<std::string> blocks;
  bool gone = false;
  std::int64_t Read(void*, std::size_t, std::uint32_t) override { return 0; }
  std::uint32_t PeerProcessId() override { return 0; }
  bool Write(const void* data, std::size_t size) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (!gone) blocks.emplace_back(static_cast<const char*>(data), size);
    return !gone;
  }
};

int logged = 0;
void CountLine(const std::string&) { ++logged; }

TEST(ClientStream, RowsFromTwoThreadsArriveInTheirOrderInFewBlocksAndTheEndLast) {
  RecordingConnection connection;
  {
    ClientStream stream(connection, CountLine);
    auto sendRow = [&stream](int row) {
      for (int value = 0; value <= 100; ++value) stream.Send(Of(MessageType::ProgressValue, row, value));
    };
    std::thread other(sendRow, 2);
    sendRow(1);
    other.join();
    stream.Finish(0, 0, false, RollbackResult::Restored);
  }
  bool broken = false;
  std::string bytes;
  for (const std::string& block : connection.blocks) bytes += block;
  std::vector<ServiceMessage> read = ReadAll(ReaderSide::Client, bytes, broken);
  ASSERT_FALSE(broken);
  std::erase_if(read, [](const ServiceMessage& m) { return m.type == MessageType::Counters; });
  ASSERT_EQ(read.size(), 203u);
  std::map<int, int> next;
  for (std::size_t i = 0; i + 1 < read.size(); ++i) EXPECT_EQ(read[i].value, next[read[i].row]++) << i;
  EXPECT_EQ(read.back().type, MessageType::Finished);
  EXPECT_LT(connection.blocks.size(), 50u) << "the messages were written one by one";

  RecordingConnection gone;
  gone.gone = true;
  ClientStream stream(gone, CountLine);
  for (int i = 0; i < 1000; ++i) stream.Send(Of(MessageType::ProgressValue, 1, i));  // never waits for the pipe
  stream.Finish(4, 1, false, RollbackResult::Restored);
  EXPECT_EQ(logged, 1);
}

}  // namespace
}  // namespace velmora::app
