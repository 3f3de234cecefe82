#include "app/pipe_server_check.h"

#include "app/outside_writers.h"

namespace velmora::app {

std::string WhyNotTheService(const PipeServerFacts& facts) {
  if (facts.serverProcessId == 0) return "the system does not say which process serves the pipe";
  if (facts.serviceProcessId == 0) return "the update service is not running";
  if (facts.serverProcessId != facts.serviceProcessId) return "it is not the update service's process";
  // The account of the process the service manager started: a process of the service's own id
  // with another user is no process the service manager made for it (the id was reused).
  if (facts.serviceUser.empty() || facts.serverUser.empty()) return "its user cannot be told";
  if (facts.serverUser != facts.serviceUser) return "it does not run as the service's account " + facts.serviceUser;
  return {};
}

std::string DescribeForLog(std::uint32_t processId, const platform::ProcessIdentity& identity) {
  return "process " + std::to_string(processId) + " (" +
         (identity.imagePath.empty() ? std::string("image unknown") : identity.imagePath) + ", user " +
         (identity.user.empty() ? std::string("unknown") : identity.user) + ")";
}

bool IsTheUpdateService(platform::PipeConnection& connection, platform::MachineServices& services,
                        std::string& refusal) {
  PipeServerFacts facts;
  facts.serverProcessId = connection.PeerProcessId();
  facts.serviceProcessId = services.QueryUpdateServiceStatus().processId;
  const platform::ProcessIdentity server = services.DescribeProcess(facts.serverProcessId);
  facts.serverUser = server.user;
  facts.serviceUser = services.ServiceAccountUser();
  // A test program for Wine, where the service runs as the one user every program runs as, takes
  // that user for the service's account; the product's build trusts LocalSystem alone.
  for (const std::string& account : ExtraTrustedAccounts()) {
    if (server.user == account) facts.serviceUser = account;
  }
  const std::string why = WhyNotTheService(facts);
  if (why.empty()) return true;
  refusal = "the update service's pipe is served by " + DescribeForLog(facts.serverProcessId, server) +
            ", which was refused: " + why;
  return false;
}

}  // namespace velmora::app
