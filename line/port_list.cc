#include "line/port_list.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int kLastComNumber = 256;

// The number of "COMn", or 0 when `word` is no COM name.
int ComNumber(std::string_view word) {
  if (word.size() < 4 || word.size() > 6) return 0;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(word[i])) != "COM"[i]) return 0;
  if (word[3] == '0') return 0;
  int number = 0;
  for (char c : word.substr(3)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number <= kLastComNumber ? number : 0;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

bool AddItem(std::string_view item, std::vector<std::string>* ports, std::string* error) {
  const std::string quoted = "\"" + std::string(item) + "\"";
  if (item.empty()) {
    *error = "an empty item in the port list";
    return false;
  }
  std::vector<std::string> names;
  if (item[0] == '/') {
    names.emplace_back(item);
  } else if (const size_t dash = item.find('-'); dash != std::string_view::npos) {
    const int first = ComNumber(item.substr(0, dash)), last = ComNumber(item.substr(dash + 1));
    if (first == 0 || last == 0) {
      *error = quoted + " is no range of COM names (such as COM40-COM47)";
      return false;
    }
    if (first > last) {
      *error = quoted + " runs backwards";
      return false;
    }
    for (int n = first; n <= last; ++n)
      names.push_back(std::string(item.substr(0, 3)) + std::to_string(n));
  } else if (ComNumber(item) != 0) {
    names.emplace_back(item);
  } else {
    *error =
        quoted + " is no port: give COM1 to COM256, a range such as COM40-COM47, or a device path";
    return false;
  }
  for (const std::string& name : names) {
    const std::string key = name[0] == '/' ? name : Upper(name);
    for (const std::string& known : *ports) {
      if ((known[0] == '/' ? known : Upper(known)) == key) {
        *error = "\"" + name + "\" is named twice";
        return false;
      }
    }
    ports->push_back(name);
  }
  return true;
}

}  // namespace

bool ParsePortList(std::string_view text, std::vector<std::string>* ports, std::string* error) {
  ports->clear();
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string_view item = text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    if (!AddItem(item, ports, error)) {
      ports->clear();
      return false;
    }
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}
