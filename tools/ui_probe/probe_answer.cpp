#include "probe_answer.h"

#include <cstdio>

namespace velmora::probe {
namespace {

AnswerCapture* openCapture = nullptr;

}  // namespace

void WriteAnswerLine(const std::string& json) {
  const std::string line = json + "\n";
  if (openCapture != nullptr) {
    openCapture->lines_ += line;
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

AnswerCapture::AnswerCapture() : previous_(openCapture) { openCapture = this; }

AnswerCapture::~AnswerCapture() { openCapture = previous_; }

}  // namespace velmora::probe
