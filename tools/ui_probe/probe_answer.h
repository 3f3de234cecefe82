// Where ui-probe's answers go: standard output, or, while the probe serves requests, the answer of
// the request at hand.
#pragma once

#include <string>

namespace velmora::probe {

// Writes one line of JSON (without its newline): to standard output, flushed, or to the capture
// that is open.
void WriteAnswerLine(const std::string& json);

// While one lives, answer lines are collected in `lines` instead of written out.
class AnswerCapture {
 public:
  AnswerCapture();
  ~AnswerCapture();
  AnswerCapture(const AnswerCapture&) = delete;
  AnswerCapture& operator=(const AnswerCapture&) = delete;

  const std::string& Lines() const { return lines_; }

 private:
  friend void WriteAnswerLine(const std::string& json);

  std::string lines_;
  AnswerCapture* previous_;
};

}  // namespace velmora::probe
