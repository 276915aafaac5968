// Buffered byte streams over the host's files: what FileReader, FileWriter, ResourceReader and
// ResourceWriter hold as their built-in object. Each owns its file and closes it when freed.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/native_object.h"

namespace brova {

class TBufferedStream : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::Stream;
  static constexpr size_t kBufferSize = 4096;

  ~TBufferedStream() override;
  const char* NativeClassName() const override { return "TBufferedStream"; }

  // Frees the file.
  virtual void Close();
  const std::string& Path() const { return path_; }

protected:
  TBufferedStream(int fd, std::string path);

  int fd_;
  std::string path_;
  std::array<uint8_t, kBufferSize> buffer_;
  size_t position_ = 0; // the fill position
};

class TBufferedOutputStream : public TBufferedStream {
public:
  // Writes what is still buffered; a write failure is not raised here.
  ~TBufferedOutputStream() override;
  void Write(const void* bytes, size_t n);
  // Raises EScriptError when the file does not take every byte.
  void Flush();
  // Flushes, then frees the file even when the flush raised.
  void Close() override;

protected:
  using TBufferedStream::TBufferedStream;
};

class TBufferedInputStream : public TBufferedStream {
public:
  // Copies up to n bytes; fewer only at the end of the file.
  size_t Read(void* dst, size_t n);
  bool ReadByte(uint8_t& byte) { return Read(&byte, 1) == 1; }
  bool Eof() const { return position_ >= filled_; }

protected:
  // The first buffer is read at creation.
  TBufferedInputStream(int fd, std::string path);
  void Fill();

  size_t filled_ = 0;
};

class TFileReader final : public TBufferedInputStream {
public:
  // Opened read-only; null when the file cannot be opened.
  static std::unique_ptr<TFileReader> Open(const std::string& path);
  const char* NativeClassName() const override { return "TFileReader"; }

private:
  using TBufferedInputStream::TBufferedInputStream;
};

class TFileWriter final : public TBufferedOutputStream {
public:
  // Created, or truncated when it exists; null when that fails.
  static std::unique_ptr<TFileWriter> Create(const std::string& path);
  const char* NativeClassName() const override { return "TFileWriter"; }

private:
  using TBufferedOutputStream::TBufferedOutputStream;
};

} // namespace brova
