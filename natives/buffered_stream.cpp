#include "natives/buffered_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/translate.h"

namespace brova {

TBufferedStream::TBufferedStream(int fd, std::string path)
    : TNativeObject(kKind), fd_(fd), path_(std::move(path)) {}

TBufferedStream::~TBufferedStream() {
  if (fd_ >= 0) ::close(fd_);
}

void TBufferedStream::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TBufferedOutputStream::~TBufferedOutputStream() {
  try {
    Flush();
  } catch (const EScriptError&) {
    // Nobody is left to tell; the bytes that fitted are in the file.
  }
}

void TBufferedOutputStream::Write(const void* bytes, size_t n) {
  const auto* src = static_cast<const uint8_t*>(bytes);
  while (n > 0) {
    if (position_ == kBufferSize) Flush();
    size_t chunk = std::min(n, kBufferSize - position_);
    std::memcpy(buffer_.data() + position_, src, chunk);
    position_ += chunk;
    src += chunk;
    n -= chunk;
  }
}

void TBufferedOutputStream::Flush() {
  size_t done = 0;
  while (done < position_ && fd_ >= 0) {
    ssize_t w = ::write(fd_, buffer_.data() + done, position_ - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      position_ = 0;
      throw EScriptError(Translate("Cannot write file ") + "\"" + path_ + "\"");
    }
    done += static_cast<size_t>(w);
  }
  position_ = 0;
}

void TBufferedOutputStream::Close() {
  try {
    Flush();
  } catch (...) {
    TBufferedStream::Close();
    throw;
  }
  TBufferedStream::Close();
}

TBufferedInputStream::TBufferedInputStream(int fd, std::string path)
    : TBufferedStream(fd, std::move(path)) {
  Fill();
}

void TBufferedInputStream::Fill() {
  position_ = 0;
  filled_ = 0;
  while (fd_ >= 0 && filled_ < kBufferSize) {
    ssize_t r = ::read(fd_, buffer_.data() + filled_, kBufferSize - filled_);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break; // the end, or a read error that ends the stream the same way
    filled_ += static_cast<size_t>(r);
  }
}

size_t TBufferedInputStream::Read(void* dst, size_t n) {
  auto* out = static_cast<uint8_t*>(dst);
  size_t copied = 0;
  while (copied < n && position_ < filled_) {
    size_t chunk = std::min(n - copied, filled_ - position_);
    std::memcpy(out + copied, buffer_.data() + position_, chunk);
    position_ += chunk;
    copied += chunk;
    // Only a full buffer can have more behind it; refilling right away keeps Eof exact.
    if (position_ == kBufferSize) Fill();
  }
  return copied;
}

std::unique_ptr<TFileReader> TFileReader::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TFileReader>(new TFileReader(fd, path));
}

std::unique_ptr<TFileWriter> TFileWriter::Create(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TFileWriter>(new TFileWriter(fd, path));
}

} // namespace brova
