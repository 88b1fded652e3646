#include "sim/stage_fault.h"

#include <algorithm>

namespace {

constexpr Stage kStages[] = {Stage::kDetect, Stage::kSwitch,  Stage::kSync,
                             Stage::kHeader, Stage::kRequest, Stage::kBetween};
constexpr Action kActions[] = {Action::kSilent, Action::kGone,  Action::kOk,
                               Action::kRx,     Action::kNoise, Action::kPf};

}  // namespace

const char* StageName(Stage stage) {
  switch (stage) {
    case Stage::kDetect:
      return "detect";
    case Stage::kSwitch:
      return "switch";
    case Stage::kSync:
      return "sync";
    case Stage::kHeader:
      return "header";
    case Stage::kRequest:
      return "request";
    case Stage::kBetween:
      return "between";
  }
  return "?";
}

const char* ActionName(Action action) {
  switch (action) {
    case Action::kSilent:
      return "silent";
    case Action::kGone:
      return "gone";
    case Action::kOk:
      return "ok";
    case Action::kRx:
      return "rx";
    case Action::kNoise:
      return "noise";
    case Action::kPf:
      return "pf";
  }
  return "?";
}

bool IsMeaningful(Stage stage, Action action) {
  const bool lineFault = action == Action::kSilent || action == Action::kGone;
  switch (stage) {
    case Stage::kDetect:
      return lineFault || action == Action::kNoise;
    case Stage::kSwitch:
      return lineFault;
    case Stage::kSync:
      return lineFault || action == Action::kOk || action == Action::kNoise;
    case Stage::kHeader:
    case Stage::kRequest:
    case Stage::kBetween:
      return true;
  }
  return false;
}

bool ParseStageFault(const std::string& text, StageFault* fault, std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return fail("\"" + text + "\" is not STAGE:ACTION[:N]");
  const size_t second = text.find(':', colon + 1);
  const std::string stageText = text.substr(0, colon);
  const std::string actionText =
      text.substr(colon + 1, second == std::string::npos ? std::string::npos : second - colon - 1);
  StageFault f;
  bool found = false;
  for (Stage s : kStages)
    if (stageText == StageName(s)) {
      f.stage = s;
      found = true;
    }
  if (!found) return fail("unknown stage \"" + stageText + "\"");
  found = false;
  for (Action a : kActions)
    if (actionText == ActionName(a)) {
      f.action = a;
      found = true;
    }
  if (!found) return fail("unknown action \"" + actionText + "\"");
  if (second != std::string::npos) {
    const std::string n = text.substr(second + 1);
    if (n.empty() || n.size() > 9 ||
        !std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoi(n) < 1)
      return fail("\"" + n + "\" is no count from 1 up");
    f.nth = std::stoi(n);
  }
  if (!IsMeaningful(f.stage, f.action))
    return fail(std::string(ActionName(f.action)) + " means nothing at " + StageName(f.stage));
  *fault = f;
  return true;
}
