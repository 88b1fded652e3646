#include "ui/split_token.h"

std::string SplitToken(std::string& source, char separator, bool consume) {
  if (source.empty()) return {};
  const size_t at = source.find(separator);
  if (at == std::string::npos) {
    std::string whole = source;
    if (consume) source.clear();
    return whole;
  }
  std::string head = source.substr(0, at);
  if (consume) source.erase(0, at + 1);
  return head;
}
