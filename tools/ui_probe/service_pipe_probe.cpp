#include "service_pipe_probe.h"

#include <cstdio>

#include "app/service_messages.h"
#include "automation/json_output.h"
#include "platform/service_pipe.h"

namespace velmora::probe {

int PipeSend(const std::string& bytes, std::uint32_t waitMs) {
  const std::unique_ptr<platform::PipeConnection> pipe = platform::ConnectToServicePipe(waitMs);
  if (!pipe) {
    std::printf("%s\n", JsonObject().Add("connected", false).Text().c_str());
    return 1;
  }
  // One client at a time: a second one finds the pipe busy while this one holds it.
  const bool second = platform::ConnectToServicePipe(500) != nullptr;
  const bool sent = pipe->Write(bytes.data(), bytes.size());
  app::MessageReader reader(app::ReaderSide::Client);
  long long received = 0;
  long long messages = 0;
  long long cells = 0;
  bool closed = false;
  std::optional<app::ServiceMessage> end;
  char buffer[4096];
  while (!end) {
    const std::int64_t read = pipe->Read(buffer, sizeof buffer, waitMs);
    if (read <= 0) {
      closed = read < 0;
      break;
    }
    received += read;
    reader.Feed(buffer, static_cast<std::size_t>(read));
    while (const std::optional<app::ServiceMessage> m = reader.Next()) {
      ++messages;
      if (m->type == app::MessageType::CellText) ++cells;
      if (m->type == app::MessageType::Finished) end = m;
    }
    if (reader.Broken()) break;
  }
  JsonObject answer;
  answer.Add("connected", true).Add("second", second).Add("sent", sent).Add("closed", closed);
  answer.Add("bytes", received).Add("messages", messages).Add("cells", cells).Add("finished", end.has_value());
  answer.Add("exitCode", static_cast<long long>(end ? end->exitCode : -1));
  answer.Add("failedRows", static_cast<long long>(end ? end->failedRows : -1)).Add("broken", reader.Broken());
  answer.Add("installed", end && end->installed.value_or(false));
  std::printf("%s\n", answer.Text().c_str());
  return 0;
}

}  // namespace velmora::probe
