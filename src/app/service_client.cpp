#include "app/service_client.h"

#include <mutex>
#include <vector>

#include "app/pipe_server_check.h"
#include "app/rollback_command.h"
#include "app/start_recovery.h"
#include "download/completion.h"
#include "download/product_health.h"
#include "download/scheduler.h"
#include "download/progress.h"
#include "install/kept_release.h"
#include "notify/task_notice.h"
#include "platform/proxy_credentials.h"
#include "platform/thread.h"
#include "platform/update_window.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/program_end.h"
#include "update/run_directory.h"
#include "update/run_log.h"
#include "update/update_check.h"

namespace velmora::app {
namespace {

using update::RunOutcome;

// Tries to reach the pipe: each waits at most kConnectWaitMs, then asks the service manager to start the service.
constexpr int kConnectTries = 30;
constexpr std::uint32_t kConnectWaitMs = 1000;
constexpr std::uint32_t kReadWaitMs = 1000;
constexpr std::uint32_t kReaderStopWaitMs = 2000;
constexpr std::int32_t kTimerMs = 500;

std::string Gbk(const char* utf8) { return text::Utf8ToNarrow(utf8); }

void Log(const std::string& line) { update::AppendToRunLog(update::RunDirectory(), line); }

// A connection to the update service itself, never to another program that made its pipe: such a
// server is disconnected before a byte is sent.
std::unique_ptr<platform::PipeConnection> Connect(platform::MachineServices& services, std::string& fault) {
  bool started = false;
  for (int i = 0; i < kConnectTries; ++i) {
    if (std::unique_ptr<platform::PipeConnection> connection = services.ConnectToServicePipe(kConnectWaitMs)) {
      if (IsTheUpdateService(*connection, services, fault)) return connection;
      return nullptr;
    }
    // The service this client started has stopped because another program holds its pipe.
    const platform::UpdateServiceStatus status = services.QueryUpdateServiceStatus();
    if (started && status.stopped && status.stopCode == kPipeNameTakenStop) {
      fault = "the update service could not make its pipe: another program holds the name (its log names it)";
      return nullptr;
    }
    if (started && status.stopped && status.stopCode == kUnsafeLocationStop) {
      fault = "the update service refuses to serve: others can change its program (its log says who)";
      return nullptr;
    }
    std::string error;
    started = services.StartUpdateService(error);
    if (!started) fault = "the update service could not be started: " + error;
  }
  if (fault.empty()) fault = "the update service's pipe did not open";
  return nullptr;
}

void Apply(const ServiceMessage& m) {
  state::ProgramState& state = state::State();
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  const bool listed = m.row <= state.entryCount;
  switch (m.type) {
    case MessageType::CellText:
      if (listed) window.SetCellText(m.row, m.column, m.text);
      break;
    case MessageType::ProgressCell:
      if (listed) window.MakeProgressCell(m.row, m.column, m.cell);
      break;
    case MessageType::ProgressValue:
      if (listed) window.SetProgressValue(m.row, m.column, m.value);
      break;
    case MessageType::Counters:
      state.counters.succeeded.store(m.succeeded);
      state.counters.failed.store(m.failed);
      state.counters.deferred.store(m.deferred);
      break;
    case MessageType::Request:
    case MessageType::Finished:
      break;
  }
}

// The window's run through the service: its reader thread, and the end it saw.
struct WindowRun {
  std::atomic<bool> started{false};
  std::atomic<bool> ended{false};
  std::atomic<bool> stop{false};
  platform::ThreadHandle reader = 0;
  std::mutex mutex;
  ServiceAnswer answer;
};

WindowRun& TheWindowRun() {
  static WindowRun run;
  return run;
}

void StartServiceRun() {
  WindowRun& run = TheWindowRun();
  if (run.started.exchange(true)) return;
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  window.EnableButton(false);
  window.SetButtonCaption(Gbk("正在下载"));
  window.SetTimerInterval(kTimerMs);
  Log("the update goes through the update service");
  run.reader = platform::StartThread([&run] {
    ServiceAnswer answer = RunThroughService(ServiceRequest::Update, run.stop);
    {
      std::lock_guard<std::mutex> lock(run.mutex);
      run.answer = std::move(answer);
    }
    run.ended.store(true);
  });
}

[[noreturn]] void EndWithFailure(const std::string& content, RunOutcome outcome) {
  notify::ShowNotice(notify::kFailureNoticeKind, Gbk("更新失败"), content);
  update::EndProgram(outcome);
}

// After a failed health check: the folder needs the service, which puts the kept release back.
bool RollBackThroughService() {
  const std::atomic<bool> never{false};
  const ServiceAnswer answer = RunThroughService(ServiceRequest::Rollback, never);
  if (!answer.finished) {
    Log("the update service did not finish the rollback: " + answer.fault);
    return false;
  }
  // A request the service refused before it began (policy, a commit it could not finish) ends
  // with its code and says nothing of a rollback.
  Log("the update service's rollback ended with code " + std::to_string(answer.end.exitCode) + ", result " +
      std::to_string(static_cast<int>(answer.end.rollback)));
  return answer.end.exitCode == 0 && answer.end.rollback == RollbackResult::Restored;
}

// The timer's tick: once the service has ended, the usual notices, as the completion check shows them.
void CheckServiceEnd() {
  WindowRun& run = TheWindowRun();
  if (!run.ended.load()) return;
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  window.SetTimerInterval(0);
  window.SetButtonCaption(Gbk("更新完成"));
  ServiceAnswer answer;
  {
    std::lock_guard<std::mutex> lock(run.mutex);
    answer = run.answer;
  }
  if (!answer.finished) {
    Log("the update service did not finish: " + answer.fault);
    EndWithFailure(Gbk("无法连接更新服务"), RunOutcome::FilesFailed);
  }
  const ServiceMessage& end = answer.end;
  Log("the update service ended with code " + std::to_string(end.exitCode));
  if (end.timedOut) EndWithFailure(Gbk("更新失败，连接超时"), RunOutcome::FilesFailed);
  if (end.exitCode == 0) {
    const std::int32_t choice = notify::ShowNotice(notify::kQuestionNoticeKind, Gbk("更新完成"), Gbk("[确定]运行软件 [取消]退出更新"));
    if (choice == notify::kIdOk) download::LaunchProduct(RollBackThroughService);
    update::EndProgram(RunOutcome::Updated);
  }
  if (end.failedRows > 0) {
    notify::ShowNotice(notify::kPartialNoticeKind, Gbk("更新完成"),
                       Gbk("有") + std::to_string(end.failedRows) + Gbk("个文件下载失败"));
    update::EndProgram(RunOutcome::FilesFailed);
  }
  EndWithFailure(Gbk("更新服务未能完成更新，代码") + std::to_string(end.exitCode), RunOutcome::FilesFailed);
}

void StopServiceRun() {
  WindowRun& run = TheWindowRun();
  run.stop.store(true);
  if (run.reader != 0) platform::WaitForThread(run.reader, kReaderStopWaitMs);
  download::StopThreads();
}

RunOutcome OutcomeOfExitCode(std::int32_t code) {
  for (int i = static_cast<int>(RunOutcome::UpToDate); i <= static_cast<int>(RunOutcome::HealthCheckFailed); ++i) {
    const auto outcome = static_cast<RunOutcome>(i);
    if (update::ExitCodeOf(outcome) == code && outcome != RunOutcome::Updated) return outcome;
  }
  return RunOutcome::FilesFailed;
}

}  // namespace

ServiceAnswer RunThroughService(ServiceRequest request, const std::atomic<bool>& stop,
                                std::optional<std::uint8_t> options, platform::MachineServices& services) {
  ServiceAnswer answer;
  const std::unique_ptr<platform::PipeConnection> connection = Connect(services, answer.fault);
  if (!connection) return answer;
  ServiceMessage ask;
  ask.type = MessageType::Request;
  ask.request = request;
  ask.options = options;
  const std::string frame = EncodeMessage(ask);
  if (!connection->Write(frame.data(), frame.size())) {
    answer.fault = "the request could not be sent";
    return answer;
  }
  MessageReader reader(ReaderSide::Client);
  // The service sends its messages in blocks of up to 64 KiB (app/client_stream.h): one read each.
  std::vector<char> buffer(kStreamBlockBytes + 4096);
  // The service's run bounds itself (its stall limit); the loop ends when its process does.
  while (!stop.load()) {
    const std::int64_t read = connection->Read(buffer.data(), buffer.size(), kReadWaitMs);
    if (read < 0) {
      answer.fault = "the update service closed the pipe before its end";
      return answer;
    }
    reader.Feed(buffer.data(), static_cast<std::size_t>(read));
    while (std::optional<ServiceMessage> message = reader.Next()) {
      if (message->type == MessageType::Finished) {
        answer.finished = true;
        answer.end = *message;
        return answer;
      }
      Apply(*message);
    }
    if (reader.Broken()) {
      answer.fault = "the update service sent " + reader.Fault();
      return answer;
    }
  }
  answer.fault = "stopped";
  return answer;
}

platform::WindowEvents ServiceWindowEvents() {
  platform::WindowEvents events;
  events.created = [](platform::WindowHandle window) {
    platform::AllowProxyCredentialDialog(window);
    state::State().checkThread = platform::StartThread([] {
      update::UpdateCheck();
      // Files are listed (the check ends the program otherwise): the service starts while the
      // user reads the list, so that the click finds its pipe open instead of waiting about a
      // second for its start. It waits a minute for the click; a later click starts it again.
      std::string error;
      if (!platform::StartUpdateService(error)) Log("the update service could not be started yet: " + error);
    });
  };
  events.destroying = StopServiceRun;
  events.buttonClicked = StartServiceRun;
  events.timerTick = CheckServiceEnd;
  return events;
}

int RunQuietThroughService() {
  const std::atomic<bool> never{false};
  const state::RunMode& mode = state::State().mode;
  const std::uint8_t options = static_cast<std::uint8_t>((mode.closeProduct ? kCloseProductRequested : 0) |
                                                         (mode.runProduct ? kRunProductRequested : 0));
  const ServiceAnswer answer = RunThroughService(ServiceRequest::Update, never, options);
  if (!answer.finished) {
    Log("the update service did not finish: " + answer.fault);
    return update::FinishRun(RunOutcome::FilesFailed);
  }
  Log("the update service ended with code " + std::to_string(answer.end.exitCode));
  const bool installed = answer.end.exitCode == 0 && answer.end.installed.value_or(false);
  if (installed) {
    // As a quiet run here: --run starts the product of the release just installed, in this
    // user's session (the service never starts it).
    if (const std::optional<install::KeptRelease> release = install::ReadKeptRelease(update::RunDirectory());
        release && mode.runProduct) {
      state::State().launchTarget = release->launchTarget;
      download::LaunchProduct();
    }
    return update::FinishRun(RunOutcome::Updated);
  }
  return update::FinishRun(OutcomeOfExitCode(answer.end.exitCode));
}

std::optional<RunOutcome> FinishCommitThroughService() {
  const std::atomic<bool> never{false};
  const ServiceAnswer answer = RunThroughService(ServiceRequest::FinishCommit, never);
  if (!answer.finished) {
    Log("recovery: the update service could not finish the interrupted commit: " + answer.fault);
    notify::ShowNotice(notify::kFailureNoticeKind, Gbk("更新失败"), Gbk("无法连接更新服务"));
    return RunOutcome::FilesFailed;
  }
  if (answer.end.exitCode != 0) {
    Log("recovery: the update service left the interrupted commit waiting (code " +
        std::to_string(answer.end.exitCode) + ", " + std::to_string(answer.end.failedRows) + " files held)");
    TellCommitWaits(static_cast<std::size_t>(answer.end.failedRows));
    return RunOutcome::Deferred;
  }
  Log("recovery: the update service made the product's folder one release");
  return std::nullopt;
}

int RunRollbackThroughService() {
  std::string product;
  if (!ConfirmRollback(product)) return 0;
  const std::atomic<bool> never{false};
  const ServiceAnswer answer = RunThroughService(ServiceRequest::Rollback, never);
  if (!answer.finished) {
    Log("the update service did not finish the rollback: " + answer.fault);
    notify::ShowNotice(notify::kFailureNoticeKind, Gbk("恢复上一版本"), Gbk("无法连接更新服务"));
    return 0;
  }
  if (answer.end.exitCode != 0) {  // refused before it began: nothing was restored
    Log("the update service refused the rollback with code " + std::to_string(answer.end.exitCode));
    notify::ShowNotice(notify::kFailureNoticeKind, Gbk("恢复上一版本"),
                       Gbk("更新服务未能完成恢复，代码") + std::to_string(answer.end.exitCode));
    return 0;
  }
  ShowRollbackResult(answer.end.rollback, answer.end.failedRows, product);
  return 0;
}

}  // namespace velmora::app
