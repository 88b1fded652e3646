#include "serial/serial_port.h"

#include <cstring>

namespace {
SerialPort::Handle g_port;
PortOpener* g_opener = nullptr;
}  // namespace

SerialPort::Handle SerialPort::open(const char* portName, uint32_t baud, std::string* why) {
  PortOpener& opener = g_opener ? *g_opener : PlatformPortOpener();
  return opener.open(portName, baud, why);
}

void SerialPort::install(Handle handle) {
  g_port = std::move(handle);
}

void SerialPort::setBaudRate(uint32_t baud) {
  if (g_port) g_port->setBaudRate(baud);
}

void SerialPort::drain() {
  if (g_port) g_port->drain();
}

bool SerialPort::writeText(const char* text) {
  return writeBytes(text, std::strlen(text));
}

bool SerialPort::writeBytes(const void* buffer, uint32_t count) {
  if (!g_port) return false;
  if (count == 0) return true;
  return g_port->write(buffer, count);
}

bool SerialPort::writeByte(int value) {
  const uint8_t byte = static_cast<uint8_t>(value & 0xFF);
  return writeBytes(&byte, 1);
}

bool SerialPort::writeU32BE(uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return writeBytes(bytes, 4);
}

size_t SerialPort::read(void* buffer, size_t count) {
  return g_port ? g_port->read(buffer, count) : 0;
}

bool SerialPort::lineGone() {
  return g_port && g_port->gone();
}

void SerialPort::close() {
  g_port.reset();
}

void SerialPort::setOpener(PortOpener* opener) {
  g_opener = opener;
}
