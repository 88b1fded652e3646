// SplitToken: the text before the first separator, optionally taken off the
// source. The port dialog uses it to cut a port's name out of its friendly
// name.
#ifndef VELMORA_UI_SPLIT_TOKEN_H_
#define VELMORA_UI_SPLIT_TOKEN_H_

#include <string>

// Returns the text of `source` before the first `separator` (all of it when
// there is none). With `consume`, `source` becomes the text after that
// separator (empty when there is none). The separator belongs to neither.
std::string SplitToken(std::string& source, char separator, bool consume);

#endif  // VELMORA_UI_SPLIT_TOKEN_H_
