#include "probe_answer.h"

#include <cstdio>

namespace velmora::probe {
namespace {

AnswerCapture* openCapture = nullptr;
std::string* openLines = nullptr;

}  // namespace

void WriteAnswerLine(const std::string& json) {
  const std::string line = json + "\n";
  if (openLines != nullptr) {
    *openLines += line;
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

AnswerCapture::AnswerCapture() : previous_(openCapture) {
  openCapture = this;
  openLines = &lines_;
}

AnswerCapture::~AnswerCapture() {
  openCapture = previous_;
  openLines = previous_ != nullptr ? &previous_->lines_ : nullptr;
}

}  // namespace velmora::probe
