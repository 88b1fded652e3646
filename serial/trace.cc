#include "serial/trace.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "serial/output_file.h"

namespace {

constexpr size_t kBufferBytes = 256 * 1024;

class SteadyClock : public TraceClock {
 public:
  int64_t nowUs() override {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace

TraceClock& SteadyTraceClock() {
  static SteadyClock clock;
  return clock;
}

TraceWriter::TraceWriter(std::FILE* file, TraceClock& clock)
    : file_(file), clock_(clock), buffer_(new char[kBufferBytes]) {
  std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferBytes);
  std::fputs("# velmora trace: MICROS WHAT BAUD ... (see serial/trace.h)\n", file_);
}

TraceWriter::~TraceWriter() {
  std::fclose(file_);  // before the buffer goes
}

void TraceWriter::noteError() {
  if (error_ == 0 && std::ferror(file_)) error_ = errno != 0 ? errno : EIO;
}

void TraceWriter::event(const char* what, uint32_t baud, const char* rest) {
  if (error_ != 0) return;
  errno = 0;
  std::fprintf(file_, "%" PRId64 " %s %" PRIu32 "%s%s\n", clock_.nowUs(), what, baud,
               rest ? " " : "", rest ? rest : "");
  noteError();
}

void TraceWriter::chunk(const char* direction, const void* data, size_t count, uint32_t baud) {
  if (error_ != 0) return;
  static const char kHex[] = "0123456789ABCDEF";
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::string line;
  line.reserve(count * 4 + 4);
  for (size_t i = 0; i < count; ++i) {
    line += ' ';
    line += kHex[bytes[i] >> 4];
    line += kHex[bytes[i] & 0x0F];
  }
  line += " |";
  for (size_t i = 0; i < count; ++i)
    line += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
  line += "|\n";
  std::fprintf(file_, "%" PRId64 " %s %" PRIu32 " %zu", clock_.nowUs(), direction, baud, count);
  std::fwrite(line.data(), 1, line.size(), file_);
  noteError();
}

void TraceWriter::opened(const char* portName, uint32_t baud) {
  event("open", baud, portName);
}

void TraceWriter::openFailed(const char* portName, uint32_t baud, const std::string& why) {
  const std::string rest = std::string(portName) + ": " + why;
  event("open-failed", baud, rest.c_str());
}

void TraceWriter::rate(uint32_t baud) {
  event("rate", baud);
}

void TraceWriter::drained(uint32_t baud) {
  event("drain", baud);
}

void TraceWriter::sent(const void* data, size_t count, uint32_t baud) {
  chunk("P>R", data, count, baud);
}

void TraceWriter::writeFailed(uint32_t baud) {
  event("write-failed", baud);
}

void TraceWriter::received(const void* data, size_t count, uint32_t baud) {
  if (count > 0) chunk("R>P", data, count, baud);
}

void TraceWriter::gone(uint32_t baud) {
  event("gone", baud);
}

void TraceWriter::closed(uint32_t baud) {
  event("close", baud);
}

bool TraceWriter::flush() {
  if (error_ != 0) return false;
  errno = 0;
  if (std::fflush(file_) != 0 && error_ == 0) error_ = errno != 0 ? errno : EIO;
  noteError();
  return error_ == 0;
}

TracingLink::TracingLink(std::unique_ptr<SerialLink> inner, TraceWriter& writer, uint32_t baud)
    : inner_(std::move(inner)), writer_(writer), baud_(baud) {}

TracingLink::~TracingLink() {
  inner_.reset();
  writer_.closed(baud_);
  writer_.flush();
}

void TracingLink::setBaudRate(uint32_t baud) {
  inner_->setBaudRate(baud);
  baud_ = baud;
  writer_.rate(baud);
}

void TracingLink::drain() {
  inner_->drain();
  writer_.drained(baud_);
}

bool TracingLink::write(const void* data, size_t count) {
  const bool ok = inner_->write(data, count);
  writer_.sent(data, count, baud_);
  if (!ok) writer_.writeFailed(baud_);
  return ok;
}

size_t TracingLink::read(void* buffer, size_t count) {
  const size_t got = inner_->read(buffer, count);
  writer_.received(buffer, got, baud_);
  return got;
}

bool TracingLink::gone() const {
  const bool isGone = inner_->gone();
  if (isGone && !goneRecorded_) {
    goneRecorded_ = true;
    writer_.gone(baud_);
  }
  return isGone;
}

std::unique_ptr<SerialLink> TracingOpener::open(const char* portName, uint32_t baud,
                                                std::string* why) {
  std::string reason;
  std::unique_ptr<SerialLink> link = inner_.open(portName, baud, &reason);
  if (why) *why = reason;
  if (!link) {
    writer_.openFailed(portName, baud, reason);
    writer_.flush();
    return nullptr;
  }
  writer_.opened(portName, baud);
  return std::make_unique<TracingLink>(std::move(link), writer_, baud);
}

namespace {

// The trace that VELMORA_TRACE installed, and its file's name.
TraceWriter* g_environmentTrace = nullptr;
const char* g_environmentTracePath = nullptr;

}  // namespace

bool InstallTraceFromEnvironment() {
  const char* path = std::getenv("VELMORA_TRACE");
  if (path == nullptr || *path == '\0') return true;
  std::string why;
  const int fd = OpenOutputFile(path, OutputMode::kReplace, &why);
  std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "w");
  if (file == nullptr) {
    if (fd >= 0) {
      why = std::strerror(errno);
      ::close(fd);
    }
    std::fprintf(stderr, "cannot write the trace %s: %s\n", path, why.c_str());
    return false;
  }
  // Kept until the process ends; the writer closes the file before the
  // system's own clean-up of open files.
  static TraceWriter writer(file, SteadyTraceClock());
  static TracingOpener opener(PlatformPortOpener(), writer);
  SerialPort::setOpener(&opener);
  g_environmentTrace = &writer;
  g_environmentTracePath = path;
  return true;
}

bool FinishTraceFromEnvironment() {
  if (g_environmentTrace == nullptr || g_environmentTrace->flush()) return true;
  static bool said = false;
  if (!said) {
    said = true;
    std::fprintf(stderr, "cannot write the trace %s: %s\n", g_environmentTracePath,
                 std::strerror(g_environmentTrace->error()));
  }
  return false;
}
