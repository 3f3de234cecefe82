#include "app/command_line.h"

#include <utility>

#include "text/encoding.h"
#include "update/channel.h"
#include "update/channel_name.h"

namespace velmora::app {
namespace {

// The first rule the options break, or empty. Options only make sense together in these ways:
// --close-product and --run shape a quiet run, --check is a run of its own (with or without
// --quiet: both run without a window), and --rollback neither checks nor runs quietly.
std::string UsageErrorOf(const CommandLine& line, bool otherArgument) {
  const int alone = int{line.installService} + int{line.removeService} + int{line.schedule} + int{line.unschedule} +
                    int{line.service};
  if (alone > 0 && (alone > 1 || otherArgument || line.elevated || line.rollback || line.handOff || line.quiet ||
                    line.check || line.closeProduct || line.run || line.channel)) {
    return "--install-service, --remove-service, --schedule, --unschedule and --service stand alone";
  }
  if (line.check && (line.closeProduct || line.run || line.rollback)) {
    return "--check does not combine with --close-product, --run or --rollback";
  }
  if ((line.closeProduct || line.run) && !line.quiet) return "--close-product and --run need --quiet";
  if (line.rollback && (line.quiet || line.handOff || line.channel)) {
    return "--rollback does not combine with --quiet, --handoff or --channel";
  }
  if (line.channel && *line.channel != update::kDefaultChannelName && !update::IsChannelName(*line.channel)) {
    return "--channel needs a channel name: lower-case letters and digits, 1 to 16, a letter first";
  }
  return {};
}

}  // namespace

CommandLine ReadCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  const std::pair<const char*, bool CommandLine::*> options[] = {
      {kRollbackOption, &CommandLine::rollback}, {kHandOffOption, &CommandLine::handOff},
      {kQuietOption, &CommandLine::quiet},       {kCheckOption, &CommandLine::check},
      {kCloseProductOption, &CommandLine::closeProduct}, {kRunOption, &CommandLine::run},
      {kInstallServiceOption, &CommandLine::installService}, {kRemoveServiceOption, &CommandLine::removeService},
      {kScheduleOption, &CommandLine::schedule}, {kUnscheduleOption, &CommandLine::unschedule},
      {kServiceOption, &CommandLine::service}, {kElevatedOption, &CommandLine::elevated},
  };
  bool repeated = false;
  bool otherArgument = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == kChannelOption) {
      // The option's value is the next argument, whatever it is: "--channel --quiet" names no
      // channel and is refused below rather than read as two options.
      repeated = repeated || line.channel.has_value();
      if (i + 1 == arguments.size()) {
        line.usageError = "--channel needs a channel name";
        line.channel = std::string();
      } else {
        line.channel = arguments[++i];
      }
      continue;
    }
    bool reserved = false;
    for (const auto& [name, flag] : options) {
      if (argument != name) continue;
      repeated = repeated || line.*flag;
      line.*flag = true;
      reserved = true;
    }
    otherArgument = otherArgument || !reserved;
  }
  if (repeated && line.usageError.empty()) line.usageError = "an option is given twice";
  if (line.usageError.empty()) line.usageError = UsageErrorOf(line, otherArgument);
  // "--check --quiet" is a check: scripts write both, and neither shows a window.
  if (line.check) line.quiet = false;
  // Any other argument is the product's request to read its hand-off file, as it always was.
  line.handOff = line.handOff || otherArgument;
  return line;
}

std::string ArgumentsForLog(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    if (!text.empty()) text += ' ';
    text += '"' + text::NarrowToUtf8(argument) + '"';
  }
  return text.empty() ? "none" : text;
}

}  // namespace velmora::app
