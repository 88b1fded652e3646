// The fixture of the port names' and port aliases' tests: a fresh alias
// directory for each test, named by VELMORA_PORTS.
#ifndef VELMORA_SERIAL_ALIAS_DIRECTORY_FIXTURE_H_
#define VELMORA_SERIAL_ALIAS_DIRECTORY_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "serial/port_names.h"

// Sets an environment variable for one scope, restoring the old value.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A fresh alias directory (mode 0700) named by VELMORA_PORTS.
class AliasDirectoryTest : public testing::Test {
 protected:
  AliasDirectoryTest() {
    char pattern[] = "/tmp/velmora-names-XXXXXX";
    root_ = mkdtemp(pattern);
    dir_ = root_ + "/ports";
    mkdir(dir_.c_str(), 0700);
    env_.emplace("VELMORA_PORTS", dir_.c_str());
  }
  ~AliasDirectoryTest() override { std::filesystem::remove_all(root_); }

  static std::string Path(const std::string& name) {
    std::string why;
    return DevicePathForPort(name, &why);
  }

  std::string root_;
  std::string dir_;
  std::optional<ScopedEnv> env_;
};

#endif  // VELMORA_SERIAL_ALIAS_DIRECTORY_FIXTURE_H_
