// A trace of everything that passes over a serial link.
//
// TracingLink wraps a SerialLink and TracingOpener wraps a PortOpener: every
// call is forwarded unchanged to the wrapped one, and what it did is recorded
// by a TraceWriter. The programs install the opener from the VELMORA_TRACE
// environment variable (InstallTraceFromEnvironment), so their command lines
// stay as they are.
//
// The trace is text, one record per line, fields separated by one space:
//
//   # velmora trace: MICROS WHAT BAUD ...
//   MICROS open BAUD NAME                   the port NAME opened at BAUD
//   MICROS open-failed BAUD NAME: WHY       it could not be opened
//   MICROS rate BAUD                        the line rate changed to BAUD
//   MICROS drain BAUD                       the output was drained
//   MICROS P>R BAUD COUNT HEX |TEXT|        one write: COUNT bytes sent
//   MICROS write-failed BAUD                the write before it did not land whole
//   MICROS R>P BAUD COUNT HEX |TEXT|        one read that brought COUNT bytes
//   MICROS gone BAUD                        the line went away
//   MICROS close BAUD                       the port closed
//
// MICROS is the trace clock in microseconds (the steady clock, on Linux
// CLOCK_MONOTONIC), taken when the call returned. BAUD is the line rate at
// that moment. P>R is programmer to receiver, R>P receiver to programmer.
// HEX is COUNT upper-case two-digit bytes separated by single spaces; TEXT
// is exactly COUNT characters, the byte itself for 0x20 to 0x7E and '.' for
// any other (TEXT may itself hold '|'). Reads that bring nothing (the 1 ms
// poll of a quiet line) are not recorded. Lines end with "\n" only.
//
// Threads: a writer, its links and its opener are used from one thread at a
// time (the thread that runs the programmer). Records are buffered in user
// space and handed to the system when the buffer fills and when a link
// closes; nothing waits for the disk in between.
//
// A trace that cannot be written whole (a full disk, a file size limit) is
// never passed over in silence: the writer keeps the first error, writes
// nothing more after it, and the programs say so on standard error when they
// end (FinishTraceFromEnvironment) and end with a failure status.
#ifndef VELMORA_SERIAL_TRACE_H_
#define VELMORA_SERIAL_TRACE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "serial/serial_port.h"

// Where trace times come from; tests fix them.
class TraceClock {
 public:
  virtual ~TraceClock() = default;
  // Microseconds from a fixed start, never going back.
  virtual int64_t nowUs() = 0;
};

// The steady clock. Lives for the whole process.
TraceClock& SteadyTraceClock();

// Writes trace records to an open file, which it takes over: it sets the
// file's buffer to a large one of its own, so records reach the system in big
// writes, and flushes and closes the file when destroyed.
class TraceWriter {
 public:
  TraceWriter(std::FILE* file, TraceClock& clock);
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  void opened(const char* portName, uint32_t baud);
  void openFailed(const char* portName, uint32_t baud, const std::string& why);
  void rate(uint32_t baud);
  void drained(uint32_t baud);
  void sent(const void* data, size_t count, uint32_t baud);
  void writeFailed(uint32_t baud);
  // `count` 0 writes nothing.
  void received(const void* data, size_t count, uint32_t baud);
  void gone(uint32_t baud);
  void closed(uint32_t baud);

  // Hands the buffered records to the system. False when the file has failed,
  // now or before.
  bool flush();

  // The system's error number of the first write that failed; 0 while none
  // has.
  int error() const { return error_; }

 private:
  // Keeps the first error the file reports.
  void noteError();

  void event(const char* what, uint32_t baud, const char* rest = nullptr);
  void chunk(const char* direction, const void* data, size_t count, uint32_t baud);

  std::FILE* file_;
  TraceClock& clock_;
  std::unique_ptr<char[]> buffer_;
  int error_ = 0;
};

// A link that records every call on `writer` and forwards it to `inner`.
// `baud` is the rate the link was opened at. The writer must outlive the
// link. Closing (destroying) the link records the close and flushes.
class TracingLink : public SerialLink {
 public:
  TracingLink(std::unique_ptr<SerialLink> inner, TraceWriter& writer, uint32_t baud);
  ~TracingLink() override;

  void setBaudRate(uint32_t baud) override;
  void drain() override;
  bool write(const void* data, size_t count) override;
  size_t read(void* buffer, size_t count) override;
  bool gone() const override;

 private:
  std::unique_ptr<SerialLink> inner_;
  TraceWriter& writer_;
  uint32_t baud_;
  mutable bool goneRecorded_ = false;
};

// Opens through `inner` and wraps every link it hands out in a TracingLink
// on `writer`; records failed opens too. Both must outlive the opener.
class TracingOpener : public PortOpener {
 public:
  TracingOpener(PortOpener& inner, TraceWriter& writer) : inner_(inner), writer_(writer) {}

  std::unique_ptr<SerialLink> open(const char* portName, uint32_t baud, std::string* why) override;

 private:
  PortOpener& inner_;
  TraceWriter& writer_;
};

// When the environment variable VELMORA_TRACE names a file, creates (or
// empties) it and makes every port that SerialPort::open opens from now on a
// traced one, until the process ends. The file is opened as
// serial/output_file.h says (OutputMode::kReplace): no symbolic link, only a
// regular file. Returns false, after printing "cannot write the trace FILE:
// REASON" on standard error, when the file cannot be created or is refused;
// true when it was, or when the variable is unset or empty. Call once, from
// main, before any port is opened.
bool InstallTraceFromEnvironment();

// Hands the rest of the VELMORA_TRACE trace to the system. Returns false,
// after printing "cannot write the trace FILE: REASON" on standard error (once
// per process), when any of it could not be written; true when all of it
// was, or when no trace is installed. Call from main after the last run.
bool FinishTraceFromEnvironment();

#endif  // VELMORA_SERIAL_TRACE_H_
