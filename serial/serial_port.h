// The programmer's one serial link.
//
// SerialPort is a thin layer over the platform's serial device: it opens a
// port by its COM name, sets 8 data bits, no parity, one stop bit and a read
// time-out of about 1 ms, and offers the handful of writes that the protocol
// builds its frames from. It keeps no buffers and no protocol state.
//
// Threads: one run at a time, from the thread that runs the programmer. There
// is no lock. Open, then any mix of the other calls, then close.
#ifndef VELMORA_SERIAL_SERIAL_PORT_H_
#define VELMORA_SERIAL_SERIAL_PORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One open serial device. Abstract so it can be mocked out for tests (a
// scripted receiver on a virtual clock stands behind it there).
class SerialLink {
 public:
  virtual ~SerialLink() = default;

  // Changes the line speed only (8N1 stays), then waits for the output to
  // drain. Bits per second.
  virtual void setBaudRate(uint32_t baud) = 0;

  // Returns once every byte written so far has left the device.
  virtual void drain() = 0;

  // One synchronous write of exactly `count` bytes. Returns false when the
  // device did not take them all; callers do not look at it.
  virtual bool write(const void* data, size_t count) = 0;

  // The read contract: returns as soon as `count` bytes have arrived, and at
  // the latest after about 1 ms with whatever has arrived, possibly nothing.
  // A failed read (the device went away) also returns 0, and also takes about
  // 1 ms, so that polling loops never spin.
  virtual size_t read(void* buffer, size_t count) = 0;

  // Whether the line has gone away and nothing more will arrive: the device
  // reported that it was removed or hung up, or a write made no progress for
  // two seconds, and a read since found nothing left to take. Once a write
  // has failed so, later writes fail at once. A line that has gone stays gone.
  virtual bool gone() const { return false; }
};

// Hands out open links by port name. Abstract so tests can replace the
// platform's devices with scripted ones.
class PortOpener {
 public:
  virtual ~PortOpener() = default;

  // Opens `portName` at `baud`, 8N1, exclusively. On failure returns null and,
  // when `why` is given, a one-line reason for the user (no line end).
  virtual std::unique_ptr<SerialLink> open(const char* portName, uint32_t baud,
                                           std::string* why) = 0;
};

// The platform's opener: COM names (and, on POSIX, absolute device paths)
// resolved to devices. Lives for the whole process.
PortOpener& PlatformPortOpener();

// The shared port of the programming run, in the operations the protocol uses.
// Every call but open acts on the port installed with install(); those calls
// do nothing (read returns 0) while no port is installed.
class SerialPort {
 public:
  using Handle = std::unique_ptr<SerialLink>;

  // Opens a port through the current opener. Null when it cannot be opened.
  static Handle open(const char* portName, uint32_t baud, std::string* why = nullptr);

  // Makes `handle` the shared port. A port still installed is closed first.
  static void install(Handle handle);

  static void setBaudRate(uint32_t baud);
  static void drain();
  // The text's bytes without the terminator; an empty text sends nothing.
  static bool writeText(const char* text);
  static bool writeBytes(const void* buffer, uint32_t count);
  // One byte: the low 8 bits of `value` (256 sends 0x00).
  static bool writeByte(int value);
  // Four bytes, most significant first: 258 sends 00 00 01 02.
  static bool writeU32BE(uint32_t value);
  static size_t read(void* buffer, size_t count);
  // Whether the installed port's line has gone away (false with none).
  static bool lineGone();

  // Closes and releases the shared port.
  static void close();

  // Replaces the opener (tests); null restores PlatformPortOpener(). The
  // opener must outlive its use.
  static void setOpener(PortOpener* opener);
};

#endif  // VELMORA_SERIAL_SERIAL_PORT_H_
