#pragma once
// A Prompter that records every message and answers questions from a script.

#include <string>
#include <vector>

#include "app/ports.h"

namespace pv::test {

struct RecordingPrompter : pv::app::Prompter {
  std::vector<std::string> shown;  // "caption|text"
  bool answer = false;
  void error(const std::string& caption, const std::string& text) override { shown.push_back(caption + "|" + text); }
  void information(const std::string& caption, const std::string& text) override {
    shown.push_back(caption + "|" + text);
  }
  bool askYesNo(const std::string& caption, const std::string& text) override {
    shown.push_back(caption + "|" + text);
    return answer;
  }
};

}  // namespace pv::test
