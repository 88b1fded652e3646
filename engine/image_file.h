// Reading an image file whole.
//
// An image is a regular file, read whole into one buffer of exactly its
// length. Anything else that has a name (a directory, a device such as
// /dev/zero, a FIFO, a socket) is no image, and the file is opened so that
// none of them can block the programmer. A file whose read does not yield
// exactly its length (it shrank or grew meanwhile, or it is a /proc file
// whose length says nothing) is not used either: nothing half-read is sent.
//
// Threads: any; nothing is kept between calls.
#ifndef VELMORA_ENGINE_IMAGE_FILE_H_
#define VELMORA_ENGINE_IMAGE_FILE_H_

#include <cstdint>
#include <memory>

enum class ImageFileStatus {
  kRead,        // `data` holds the file's `length` bytes
  kNotFound,    // no such file, no access, or a directory
  kUnreadable,  // not a regular file, or the read did not yield its length
  kTooLarge,    // longer than 2^31 - 1 bytes, or no memory for it
};

// Reads the file at `path`. On kRead, `data` is a buffer of `length` bytes
// (one byte is allocated for an empty file, so that a present image always
// has a buffer); otherwise both are left as they were.
ImageFileStatus ReadImageFile(const char* path, std::unique_ptr<uint8_t[]>* data, int32_t* length);

#endif  // VELMORA_ENGINE_IMAGE_FILE_H_
