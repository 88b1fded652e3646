// velmora-line against several velmora-sim at once: each port's result, the
// run log, each simulator's flash, the traces, and station mode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/integration/sim_harness.h"
#include "tests/spawn.h"

namespace {

const std::string kLineBin = std::string(VELMORA_BIN_DIR) + "/velmora-line";

// Times as "T", so that texts compare exactly.
std::string NoTimes(const std::string& text) {
  static const std::regex seconds("[0-9]+\\.[0-9] s\\b"), start("\"start\":\"[^\"]*\""),
      duration("\"duration_ms\":[0-9]+"), programming("Programming time : [0-9]+\\.[0-9][0-9]");
  std::string out = std::regex_replace(text, seconds, "T s");
  out = std::regex_replace(out, start, "\"start\":\"T\"");
  out = std::regex_replace(out, duration, "\"duration_ms\":T");
  return std::regex_replace(out, programming, "Programming time : T");
}

// The log's records by port.
std::map<std::string, std::vector<std::string>> RecordsByPort(const std::string& log) {
  std::map<std::string, std::vector<std::string>> records;
  std::istringstream in(log);
  static const std::regex port("\"port\":\"([^\"]*)\"");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(line, m, port)) << line;
    records[m[1]].push_back(NoTimes(line));
  }
  return records;
}

std::string ImagesJson(const std::string& almanac, const std::string& app,
                       const char* almanacOutcome, const char* appOutcome) {
  return "\"images\":[{\"slot\":\"almanac\",\"file\":\"" + almanac +
         "\",\"length\":1300,\"crc\":\"0x8579F943\",\"outcome\":\"" + almanacOutcome +
         "\"},{\"slot\":\"app\",\"file\":\"" + app +
         "\",\"length\":5000,\"crc\":\"0x5C0F346E\",\"outcome\":\"" + appOutcome + "\"}]";
}

// Eight receivers at once: four firmware rates and a loader already running
// program completely; a silent one, one failing its App image and one whose
// line goes away during the Almanac fail, each alone.
TEST_F(SimTest, EightReceiversAtOnceEachWithItsOwnResult) {
  const std::string almanacImage = SeededImage(1300, 7), appImage = SeededImage(5000, 8);
  const std::string almanac = WriteFile("almanac.bin", almanacImage),
                    app = WriteFile("app.bin", appImage), log = dir + "/run.jsonl",
                    traces = dir + "/traces", simLog = dir + "/sim208.log";
  ASSERT_EQ(mkdir(traces.c_str(), 0700), 0);
  struct Receiver {
    std::vector<std::string> args;
    std::string result, almanacOutcome, appOutcome, outputEnd;
    bool almanacLands, appLands;
    std::string lines;  // the port's event lines between "looking" and the end
  };
  const std::string found = "firmware at 9600 bit/s\nswitched to 230400 bit/s\n",
                    both = "writing ALMANAC\nALMANAC written\nwriting APP CODE\nAPP CODE written\n";
  const Receiver receivers[8] = {
      {{"--firmware-baud", "9600"},
       "completed",
       "written",
       "written",
       "Press any key.\n",
       true,
       true,
       found + both},
      {{"--firmware-baud", "38400"},
       "completed",
       "written",
       "written",
       "Press any key.\n",
       true,
       true,
       "firmware at 38400 bit/s\nswitched to 230400 bit/s\n" + both},
      {{"--firmware-baud", "4800"},
       "completed",
       "written",
       "written",
       "Press any key.\n",
       true,
       true,
       "firmware at 4800 bit/s\nswitched to 230400 bit/s\n" + both},
      {{"--loader", "230400"},
       "completed",
       "written",
       "written",
       "Press any key.\n",
       true,
       true,
       "loader at 230400 bit/s\n" + both},
      {{"--no-sentences"},
       "no receiver",
       "not written",
       "not written",
       "\nDevice not found!\n",
       false,
       false,
       ""},
      {{"--fail-address", "0x10000"},
       "image failed",
       "written",
       "failed",
       "\nProgramming failed!\n",
       true,
       false,
       found + "writing ALMANAC\nALMANAC written\nwriting APP CODE\nAPP CODE failed\n"},
      {{"--line-gone", "1"},
       "no response",
       "no response",
       "not written",
       "\nDevice no response!\nDevice not found!\n",
       false,
       false,
       found + "writing ALMANAC\nALMANAC no response\n"},
      {{"--firmware-baud", "57600", "--log", simLog},
       "completed",
       "written",
       "written",
       "Press any key.\n",
       true,
       true,
       "firmware at 57600 bit/s\nswitched to 230400 bit/s\n" + both},
  };
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (int i = 0; i < 8; ++i) {
    std::vector<std::string> args = receivers[i].args;
    for (const std::string& a :
         {std::string("--com"), std::to_string(201 + i), std::string("--flash-out"),
          dir + "/flash" + std::to_string(201 + i) + ".bin"})
      args.push_back(a);
    sims.push_back(std::make_unique<SimProcess>(args));
  }

  const ProgramResult r =
      RunProgram("velmora-line", {"--ports", "COM201-COM208", "--log", log, "--trace", traces, "--",
                                  "-baud", "230400", "-almanac", almanac, "-app", app});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "");
  std::string summary = "PORT      RESULT            IMAGES   TIME\n";
  for (int i = 0; i < 8; ++i) {
    const std::string port = "COM" + std::to_string(201 + i);
    const Receiver& want = receivers[i];
    SCOPED_TRACE(port);
    // The port's own lines, in its order, whatever the others do.
    std::string lines;
    std::istringstream in(NoTimes(r.out));
    for (std::string l; std::getline(in, l);)
      if (l.rfind(port + ": ", 0) == 0) lines += l.substr(port.size() + 2) + "\n";
    EXPECT_EQ(lines,
              "receiver 1\nlooking for the receiver\n" + want.lines + want.result + " in T s\n");
    char row[80];
    std::snprintf(row, sizeof row, "%-10s%-18s%-9s%s\n", port.c_str(), want.result.c_str(),
                  (std::to_string(want.almanacLands + want.appLands) + " of 2").c_str(), "T s");
    summary += row;

    const auto records = RecordsByPort(ReadFile(log));
    ASSERT_EQ(records.count(port), 1u);
    ASSERT_EQ(records.at(port).size(), 1u);
    const std::string& record = records.at(port)[0];
    const int code = want.result == "completed" ? 2 : want.result == "image failed" ? 3 : 0;
    const std::string head =
        "{\"start\":\"T\",\"port\":\"" + port + "\",\"device\":\"" + sims[i]->devicePath() +
        "\",\"adapter_serial\":\"\",\"receiver\":1," +
        ImagesJson(almanac, app, want.almanacOutcome.c_str(), want.appOutcome.c_str()) +
        ",\"result\":\"" + want.result + "\",\"code\":" + std::to_string(code) +
        ",\"duration_ms\":T,\"output\":\"Flash Programmer V1.0.3.2\\n";
    EXPECT_EQ(record.substr(0, head.size()), head);
    std::string end;
    for (char c : want.outputEnd) end += c == '\n' ? std::string("\\n") : std::string(1, c);
    end += "\"}";
    EXPECT_EQ(record.substr(record.size() - end.size()), end);

    EXPECT_EQ(sims[i]->stop(), 0);
    std::vector<std::pair<uint32_t, std::string>> landed;
    if (want.almanacLands) landed.push_back({0x8000, almanacImage});
    if (want.appLands) landed.push_back({0x10000, appImage});
    EXPECT_TRUE(ReadFile(dir + "/flash" + std::to_string(201 + i) + ".bin") ==
                ExpectedFlash(landed));
    const std::string trace = ReadFile(traces + "/" + port + ".trace");
    EXPECT_NE(trace.find(" open 230400 " + port + "\n"), std::string::npos);
    // A port where no receiver was found is left at 115200.
    const std::string close =
        std::string(" close ") + (want.lines.empty() ? "115200" : "230400") + "\n";
    EXPECT_EQ(trace.substr(trace.size() - std::min(trace.size(), close.size())), close);
  }
  EXPECT_NE(NoTimes(r.out).find("\n" + summary + "8 ports: 5 completed, 3 not completed\n"),
            std::string::npos)
      << r.out;
  ExpectTraceHoldsTheSimulatorsBytes(traces + "/COM208.trace", simLog);
}

// Reads a running program's standard output until it holds `text` for the
// `nth` time.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}
  bool waitFor(const std::string& text, int nth = 1, int timeoutMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Count(text) < nth) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return Count(text) >= nth;
      out.append(buf, n);
    }
    return true;
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
  }
  std::string out;

 private:
  int fd_;
};

// Station mode: the programmed receiver talks on and is not taken for a new
// one; once it has gone and another talks on the same port, that one is
// programmed; a stop while waiting ends with every receiver completed.
TEST_F(SimTest, StationModeProgramsEachReplacedReceiverOnce) {
  const std::string image = SeededImage(900, 3), app = WriteFile("app.bin", image),
                    log = dir + "/run.jsonl", traces = dir + "/traces";
  ASSERT_EQ(mkdir(traces.c_str(), 0700), 0);
  auto first = std::make_unique<SimProcess>(
      std::vector<std::string>{"--com", "210", "--flash-out", dir + "/first.bin"});
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  const pid_t pid = SpawnProgram(kLineBin,
                                 {"--ports", "COM210", "--repeat", "--log", log, "--trace", traces,
                                  "--", "-baud", "230400", "-app", app},
                                 out[1], STDERR_FILENO);
  close(out[1]);
  Reader line(out[0]);
  EXPECT_TRUE(line.waitFor("COM210: waiting for the receiver to leave\n")) << line.out;
  usleep(1500 * 1000);  // the first receiver, back in its firmware, talks on
  EXPECT_EQ(line.Count("receiver left"), 0) << line.out;
  EXPECT_EQ(first->stop(), 0);
  EXPECT_TRUE(
      line.waitFor("COM210: receiver left (adapter gone); waiting for the next receiver\n"));
  EXPECT_EQ(line.Count("COM210: receiver 2\n"), 0);
  SimProcess second(
      {"--com", "210", "--firmware-baud", "9600", "--flash-out", dir + "/second.bin"});
  EXPECT_TRUE(line.waitFor("COM210: waiting for the receiver to leave\n", 2)) << line.out;
  kill(pid, SIGINT);
  EXPECT_TRUE(line.waitFor("receivers: 2 completed, 0 not completed\n")) << line.out;
  close(out[0]);
  int raw = 0;
  waitpid(pid, &raw, 0);
  EXPECT_EQ(ExitStatusOf(raw), 0);
  EXPECT_EQ(NoTimes(line.out.substr(line.out.find("\nPORT"))),
            "\nPORT      RESULT            IMAGES   TIME     RECEIVERS\n"
            "COM210    completed         1 of 1   T s    2 of 2 completed\n"
            "2 receivers: 2 completed, 0 not completed\n");
  EXPECT_EQ(line.Count("COM210: completed in"), 2);
  EXPECT_EQ(second.stop(), 0);
  EXPECT_TRUE(ReadFile(dir + "/first.bin") == ExpectedFlash({{0x10000, image}}));
  EXPECT_TRUE(ReadFile(dir + "/second.bin") == ExpectedFlash({{0x10000, image}}));
  const auto records = RecordsByPort(ReadFile(log));
  ASSERT_EQ(records.at("COM210").size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(records.at("COM210")[i].find("\"receiver\":" + std::to_string(i + 1) + ","),
              std::string::npos);
    EXPECT_NE(records.at("COM210")[i].find("\"result\":\"completed\",\"code\":2"),
              std::string::npos);
    EXPECT_NE(
        ReadFile(traces + "/COM210-" + std::to_string(i + 1) + ".trace").find(" close 230400\n"),
        std::string::npos);
  }
}

}  // namespace
