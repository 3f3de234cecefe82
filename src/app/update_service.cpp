#include "app/update_service.h"

#include <atomic>

#include "app/client_stream.h"
#include "app/program_location.h"
#include "app/pipe_server_check.h"
#include "app/rollback_command.h"
#include "download/progress.h"
#include "download/unattended_run.h"
#include "platform/process_identity.h"
#include "platform/processes.h"
#include "platform/service_control.h"
#include "platform/update_window.h"
#include "state/process_control.h"
#include "state/program_state.h"
#include "update/program_end.h"
#include "update/run_directory.h"
#include "update/run_log.h"
#include "update/update_check.h"

namespace velmora::app {
namespace {

// How long the service waits for a client before it ends: kIdleWaits waits of kAcceptWaitMs.
constexpr std::uint32_t kAcceptWaitMs = 1000;
constexpr int kIdleWaits = 60;
// A client has kRequestReads reads of kRequestReadMs to send its request.
constexpr std::uint32_t kRequestReadMs = 100;
constexpr int kRequestReads = 50;

void Log(const std::string& line) { update::AppendToRunLog(update::RunDirectory(), "update service: " + line); }

// The grid of the service's run: every cell change goes to the client; rows, the button and the
// timer belong to the client's own window.
class StreamedWindow : public platform::UpdateWindow {
  static ServiceMessage CellMessage(MessageType type, int row, int column) {
    ServiceMessage m;
    m.type = type;
    m.row = row;
    m.column = column;
    return m;
  }

 public:
  explicit StreamedWindow(ClientStream& stream) : stream_(stream) {}

  void InsertRow(int, const std::string&) override {}
  void SetCellText(int row, int column, const std::string& text) override {
    ServiceMessage m = CellMessage(MessageType::CellText, row, column);
    m.text = text.substr(0, kLongestText);
    stream_.Send(m);
  }
  void MakeProgressCell(int row, int column, const platform::ProgressCellSpec& cellSpec) override {
    ServiceMessage m = CellMessage(MessageType::ProgressCell, row, column);
    m.cell = cellSpec;
    stream_.Send(m);
  }
  void SetProgressValue(int row, int column, std::int32_t value) override {
    ServiceMessage m = CellMessage(MessageType::ProgressValue, row, column);
    m.value = value;
    stream_.Send(m);
  }
  void EnableButton(bool) override {}
  void SetButtonCaption(const std::string&) override {}
  void SetTimerInterval(std::uint32_t) override {}

 private:
  ClientStream& stream_;
};

// The stream of the request being served: a run that ends the program on its way (nothing to
// update, a refused manifest) still tells the client how it ended.
std::atomic<ClientStream*> servedStream{nullptr};

bool EndServedRun(std::uint32_t processId, std::uint32_t exitCode) {
  if (processId != 0) return platform::TerminateProcessWithCode(processId, exitCode);
  if (ClientStream* stream = servedStream.load()) {
    stream->Finish(static_cast<std::int32_t>(exitCode), state::State().counters.failed.load(), false,
                   RollbackResult::Restored);
  }
  platform::EndUpdateServiceProcess(exitCode);
}

void ServeUpdate(ClientStream& stream) {
  update::UpdateCheck();
  const download::RunEnd end = download::RunUnattendedDownloads();
  const std::int32_t code = update::FinishRun(end.outcome);
  stream.Finish(code, end.failedRows, end.timedOut, RollbackResult::Restored, end.outcome == update::RunOutcome::Updated);
}

void ServeRollback(ClientStream& stream) {
  std::int32_t held = 0;
  const RollbackResult result = RestoreKeptRelease(held);
  Log("rollback: " + std::to_string(static_cast<int>(result)) + ", " + std::to_string(held) + " files held");
  stream.Finish(0, held, false, result);
}

const char* RequestWords(ServiceRequest request) {
  switch (request) {
    case ServiceRequest::Update: return "an update";
    case ServiceRequest::Rollback: return "a rollback";
    case ServiceRequest::FinishCommit: return "the interrupted commit's end";
  }
  return "something unknown";
}

void Serve(const ServiceMessage& asked, platform::PipeConnection& connection, const RunPreparation& prepare) {
  const ServiceRequest request = asked.request;
  const std::uint32_t client = connection.PeerProcessId();
  Log(std::string("a client asks for ") + RequestWords(request) + ": " +
      DescribeForLog(client, platform::DescribeProcess(client)));
  ClientStream stream(connection, Log);
  stream.withOptions = asked.options.has_value();
  // The service's run is a quiet one; the manifest comes from the build's own address, never from
  // a hand-off file. The window's request ends the product's processes that hold files; a quiet
  // run's does so only with --close-product. The product is never started here (this is the
  // service's session): a client that asked for it starts it once the end says "installed".
  state::ProgramState& state = state::State();
  state.mode.quiet = true;
  state.mode.checkOnly = false;
  state.mode.closeProduct = !asked.options || (*asked.options & kCloseProductRequested) != 0;
  state.mode.runProduct = false;
  state.fetchFromServer = true;
  servedStream.store(&stream);
  state::ReplaceProcessTermination(EndServedRun);
  std::int32_t held = 0;
  const std::optional<update::RunOutcome> refused = prepare(request, held);
  if (refused) {
    // The held files are the answer to a recovery; an update or a rollback reports no failed rows.
    stream.Finish(update::FinishRun(*refused), request == ServiceRequest::FinishCommit ? held : 0, false,
                  RollbackResult::Restored);
  } else if (request == ServiceRequest::FinishCommit) {
    Log("the product's folder holds one release");
    stream.Finish(0, 0, false, RollbackResult::Restored);
  } else {
    StreamedWindow window(stream);
    platform::ReplaceUpdateWindow(&window);
    if (request == ServiceRequest::Update) {
      ServeUpdate(stream);
    } else {
      ServeRollback(stream);
    }
    platform::ReplaceUpdateWindow(nullptr);
  }
  state::ReplaceProcessTermination(nullptr);
  servedStream.store(nullptr);
}

std::uint32_t ServeClients(const std::atomic<bool>& stopRequested, const RunPreparation& prepare) {
  int idle = 0;
  while (idle < kIdleWaits && !stopRequested.load()) {
    const platform::PipeListening listening = platform::AcceptPipeClient(kAcceptWaitMs);
    if (listening.nameTaken) {
      // Another program made the pipe first: it would take the clients meant for the service.
      // Nothing is done; the clients read this stop code instead of waiting for a pipe.
      const std::uint32_t holder = listening.holderProcessId;
      Log("the pipe's name is held by " + DescribeForLog(holder, platform::DescribeProcess(holder)) +
          "; the service ends without serving");
      return kPipeNameTakenStop;
    }
    if (!listening.client) {
      ++idle;
      continue;
    }
    idle = 0;
    std::string why;
    const std::optional<ServiceMessage> request = ReadServiceRequest(*listening.client, why);
    if (!request) {
      Log("a client was disconnected: " + why);
      continue;
    }
    Serve(*request, *listening.client, prepare);
    return 0;
  }
  Log("no client came; the service ends");
  return 0;
}

}  // namespace

std::optional<ServiceMessage> ReadServiceRequest(platform::PipeConnection& connection, std::string& why) {
  MessageReader reader(ReaderSide::Service);
  char buffer[64];
  for (int i = 0; i < kRequestReads; ++i) {
    const std::int64_t read = connection.Read(buffer, sizeof buffer, kRequestReadMs);
    if (read < 0) {
      why = "the client closed the pipe";
      return std::nullopt;
    }
    reader.Feed(buffer, static_cast<std::size_t>(read));
    if (const std::optional<ServiceMessage> message = reader.Next()) {
      // A request is the whole of what a client says: anything after it is refused with it.
      if (reader.Empty() && !reader.Broken()) return message;
      why = "bytes after the request";
      return std::nullopt;
    }
    if (reader.Broken()) {
      why = reader.Fault();
      return std::nullopt;
    }
  }
  why = "no request came in time";
  return std::nullopt;
}

int RunUpdateService(const RunPreparation& prepare) {
  const bool ran = platform::RunAsUpdateService([&prepare](const std::atomic<bool>& stopRequested) {
    const std::uint32_t self = platform::CurrentProcessId();
    Log("started as " + DescribeForLog(self, platform::DescribeProcess(self)));
    // SYSTEM runs this file: from a folder others can change, it would run their code.
    if (const std::string why = WhyNotSystemWorthy(platform::ExecutablePath()); !why.empty()) {
      Log("refuses to serve: " + why);
      return kUnsafeLocationStop;
    }
    return ServeClients(stopRequested, prepare);
  });
  if (ran) return 0;
  update::AppendToRunLog(update::RunDirectory(), "--service: not started by the service manager");
  return update::ExitCodeOf(update::RunOutcome::UsageError);
}

}  // namespace velmora::app
