#include "update/code_signing.h"

#include <array>
#include <atomic>

#include "platform/code_signature.h"
#include "platform/file.h"
#include "text/encoding.h"

namespace velmora::update {
namespace {

std::atomic<const std::string*> replacedSubject{nullptr};

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
    if (c != suffix[i]) return false;
  }
  return true;
}

bool EndsWithAnyNoCase(std::string_view text, std::initializer_list<std::string_view> suffixes) {
  for (const std::string_view suffix : suffixes) {
    if (EndsWithNoCase(text, suffix)) return true;
  }
  return false;
}

// Names Windows starts as a program image when asked to open them (CreateProcess, or the shell's
// "open" of the type); every other name is handed to whatever its type is associated with.
bool IsStartableProgramName(std::string_view run) { return EndsWithAnyNoCase(run, {".exe", ".com", ".scr"}); }

}  // namespace

void ReplaceCodeSigningSubject(const std::string* subject) { replacedSubject.store(subject); }

std::string CodeSigningSubject() {
  const std::string* replaced = replacedSubject.load();
  return replaced != nullptr ? *replaced : std::string(ConfiguredCodeSigningSubject());
}

bool IsProgramFile(std::string_view target) {
  return EndsWithAnyNoCase(target, {".exe", ".dll", ".com", ".scr", ".cpl", ".ocx", ".sys", ".drv", ".efi"});
}

bool IsExecutableImage(const std::string& file) {
  platform::InputFile input;
  std::array<char, 2> start{};
  if (!input.Open(file) || input.Read(start.data(), start.size()) != static_cast<std::int64_t>(start.size())) {
    return false;
  }
  return (start[0] == 'M' && start[1] == 'Z') || (start[0] == 'Z' && start[1] == 'M');
}

std::string CodeSigningProblem(const std::string& file, const std::string& target) {
  const std::string subject = CodeSigningSubject();
  if (subject.empty() || (!IsProgramFile(target) && !IsExecutableImage(file))) return {};
  const platform::CodeSignature signature = platform::ReadCodeSignature(file);
  const std::string detail = " (" + signature.detail + ")";
  switch (signature.status) {
    case platform::CodeSignatureStatus::Valid:
      if (signature.signer == subject) return {};
      return "signed by \"" + signature.signer + "\", not by \"" + subject + "\"" + detail;
    case platform::CodeSignatureStatus::Unsigned: return "not signed" + detail;
    case platform::CodeSignatureStatus::BadDigest: return "changed after it was signed" + detail;
    case platform::CodeSignatureStatus::Refused: return "its signature was refused" + detail;
    case platform::CodeSignatureStatus::Unchecked: break;
  }
  return "its signature could not be checked" + detail;
}

std::string LaunchProblem(const std::string& file) {
  if (CodeSigningSubject().empty()) return {};
  if (!IsExecutableImage(file)) return "not a program image";
  return CodeSigningProblem(file, file);
}

std::string LaunchTargetProblem(const std::string& run, bool listed, const std::string& runDirectory) {
  if (CodeSigningSubject().empty() || run.empty()) return {};
  const std::string name = text::NarrowToUtf8(run);
  if (!IsStartableProgramName(run)) return "the program to start, " + name + ", is not named as a program";
  if (listed) return {};
  const std::string file = runDirectory + "\\" + run;
  platform::InputFile input;
  if (!input.Open(file) && input.NotFound()) {
    return "the program to start, " + name + ", is neither listed nor in the folder";
  }
  input.Close();
  if (const std::string problem = LaunchProblem(file); !problem.empty()) {
    return "the program to start, " + name + ", is " + (problem == "not a program image" ? problem : "refused: " + problem);
  }
  return {};
}

}  // namespace velmora::update
