#include "natives/file_natives.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <memory>

#include "natives/accessible_file.h"
#include "natives/base64.h"
#include "natives/binary_stream.h"
#include "natives/buffered_stream.h"
#include "natives/file_sandbox.h"
#include "natives/script_services.h"
#include "runtime/errors.h"
#include "runtime/progress_note.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova::natives {
namespace {

// Streams of several classes share the kind Stream, so the class is checked as well.
template <class T>
T* StreamArg(TValue* result, int32_t i) {
  return dynamic_cast<T*>(NativeOf(Arg(result, i)));
}

std::string ScriptFileName(const TValue& v) {
  std::string name = ValueToText(v);
  return name.empty() ? "untitled" : name;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A name that stands for a file below the folder: the folder itself is no script's file.
std::optional<std::string> ConfinedFile(const TValue& name) {
  std::optional<std::string> path = ConfinedPath(ValueToText(name));
  if (path && SamePath(*path, FilesFolder())) return std::nullopt;
  return path;
}

[[noreturn]] void RaiseCannotOpen(const std::string& path) {
  throw EScriptError(Translate("Cannot open file ") + "\"" + path + "\"");
}

void WriteInt(TBufferedOutputStream& out, int32_t v) {
  auto u = static_cast<uint32_t>(v);
  uint8_t bytes[4] = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
  out.Write(bytes, 4);
}

// The file named by the URL of the reader or writer object the kernel class put in `global`.
std::optional<std::string> ResourceFileOf(const char* global) {
  TValue* url = EvaluateExpression(std::string(global) + ".getURL()");
  if (!url) return std::nullopt;
  return ResolveExistingPath(ToHostPath(ValueToText(*url)));
}

bool IsMapFile(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".map") == 0;
}

// Reads the first 96 bytes of an open file and tells whether they are a valid header.
bool ReadHeader(TBufferedInputStream& in) {
  char header[kAccessibleHeaderSize];
  size_t n = in.Read(header, sizeof header);
  if (IsAccessibleHeader(std::string_view(header, n))) return true;
  ProgressNote("warning: not a brova accessible");
  return false;
}

} // namespace

// ---- Object

void ObjectFileExists(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::optional<std::string> path = ConfinedFile(Arg(result, 1));
  SetInt(*result, path && IsRegularFile(*path) ? 1 : 0);
}

void ObjectMoveFile(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  std::optional<std::string> from = ConfinedFile(Arg(result, 1));
  std::optional<std::string> to = ConfinedFile(Arg(result, 2));
  // An existing file is never replaced: a move that would lose it fails instead.
  bool moved = from && to && Exists(*from) && !Exists(*to) &&
               std::rename(from->c_str(), to->c_str()) == 0;
  SetInt(*result, moved ? 1 : 0);
}

void ObjectDeleteFile(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::optional<std::string> path = ConfinedFile(Arg(result, 1));
  SetInt(*result, path && ::unlink(path->c_str()) == 0 ? 1 : 0);
}

// ---- FileReader, FileWriter

void FileReaderOpen(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  std::optional<std::string> path = ConfinedPath(ScriptFileName(Arg(result, 2)));
  std::unique_ptr<TFileReader> reader;
  if (path && IsRegularFile(*path)) reader = TFileReader::Open(*path);
  if (reader)
    SetNative(*result, reader.release()->Handle());
  else
    SetInt(*result, 0);
}

void FileWriterOpen(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  std::unique_ptr<TFileWriter> writer;
  if (MakeFolders(FilesFolder())) {
    std::optional<std::string> path = ConfinedPath(ScriptFileName(Arg(result, 2)));
    // An existing folder or device is not a file to truncate.
    if (path && (!Exists(*path) || IsRegularFile(*path)) && MakeFolders(ParentFolder(*path)))
      writer = TFileWriter::Create(*path);
  }
  if (writer)
    SetNative(*result, writer.release()->Handle());
  else
    SetInt(*result, 0);
}

void InputStreamClose(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  delete StreamArg<TBufferedInputStream>(result, 1);
}

void OutputStreamClose(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::unique_ptr<TBufferedOutputStream> out(StreamArg<TBufferedOutputStream>(result, 1));
  if (out) out->Close();
}

void InputStreamEof(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (auto* in = StreamArg<TBufferedInputStream>(result, 1)) SetInt(*result, in->Eof() ? 1 : 0);
}

void InputStreamRead(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  auto* in = StreamArg<TBufferedInputStream>(result, 1);
  if (!in) return;
  uint8_t byte;
  if (in->ReadByte(byte))
    SetInt(*result, byte);
  else
    SetNull(*result);
}

void InputStreamReadLn(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  auto* in = StreamArg<TBufferedInputStream>(result, 1);
  if (!in) return;
  std::string line;
  uint8_t byte;
  bool any = false;
  while (in->ReadByte(byte)) {
    any = true;
    if (byte == '\n') break;
    if (byte != '\r') line += static_cast<char>(byte);
  }
  if (any)
    SetStringResult(*result, std::move(line));
  else
    SetNull(*result);
}

void InputStreamReadInt(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  auto* in = StreamArg<TBufferedInputStream>(result, 1);
  if (!in) return;
  uint8_t b[4];
  if (in->Read(b, 4) == 4)
    SetInt(*result, static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 |
                                         uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24));
  else
    SetNull(*result);
}

void FileWriterWrite(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  auto* out = StreamArg<TBufferedOutputStream>(result, 1);
  if (!out) return;
  auto byte = static_cast<uint8_t>(ValueToInt(Arg(result, 2)));
  out->Write(&byte, 1);
}

void FileWriterWriteLn(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  auto* out = StreamArg<TBufferedOutputStream>(result, 1);
  if (!out) return;
  std::string text = ValueToText(Arg(result, 2));
  out->Write(text.data(), text.size());
}

// ---- ResourceReader, ResourceWriter

void ResourceReaderInit(TValue* result, int32_t, int32_t) {
  std::optional<std::string> path = ResourceFileOf("$_tmp_rrdr");
  if (!path) return;
  std::unique_ptr<TFileReader> reader = TFileReader::Open(*path);
  if (!reader) RaiseCannotOpen(*path);
  if (!ReadHeader(*reader)) {
    if (!IsMapFile(*path)) {
      ProgressNote("not a valid file. read aborted");
      return;
    }
    reader = TFileReader::Open(*path);
    if (!reader) RaiseCannotOpen(*path);
  }
  SetNative(*result, reader.release()->Handle());
}

void ResourceWriterInit(TValue* result, int32_t, int32_t) {
  std::optional<std::string> path = ResourceFileOf("$_tmp_rwrt");
  if (!path) return;
  {
    std::unique_ptr<TFileReader> check = TFileReader::Open(*path);
    if (!check) RaiseCannotOpen(*path);
    if (!ReadHeader(*check) && !IsMapFile(*path)) {
      ProgressNote("not a valid file. not wrote");
      return;
    }
  }
  std::unique_ptr<TFileWriter> writer = TFileWriter::Create(*path);
  if (!writer) RaiseCannotOpen(*path);
  writer->Write(kAccessibleHeader.data(), kAccessibleHeader.size());
  SetNative(*result, writer.release()->Handle());
}

void ResourceWriterWrite(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  auto* out = StreamArg<TBufferedOutputStream>(result, 1);
  if (!out) return;
  auto byte = static_cast<uint8_t>(ValueToInt(Arg(result, 2)));
  out->Write(&byte, 1);
  SetInt(*result, byte);
}

void ResourceWriterWriteInt(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  auto* out = StreamArg<TBufferedOutputStream>(result, 1);
  if (!out) return;
  WriteInt(*out, ValueToInt(Arg(result, 2)));
  AssignValue(*result, Arg(result, 2));
}

// ---- BinWriter, BinReader

void BinWriterInit(TValue* result, int32_t, int32_t) {
  SetNative(*result, (new TBinaryOutputStream)->Handle());
}

void BinWriterWriteInt(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  if (auto* w = StreamArg<TBinaryOutputStream>(result, 1)) w->WriteInt(ValueToInt(Arg(result, 2)));
}

void BinWriterToB64(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (auto* w = StreamArg<TBinaryOutputStream>(result, 1))
    SetStringResult(*result, EncodeBase64(w->Bytes().data(), w->Bytes().size()));
}

void BinWriterFree(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  delete StreamArg<TBinaryOutputStream>(result, 1);
}

void BinReaderInit(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetNative(*result, (new TBinaryInputStream(DecodeBase64(ValueToText(Arg(result, 1)))))->Handle());
}

void BinReaderReadInt(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (auto* r = StreamArg<TBinaryInputStream>(result, 1)) SetInt(*result, r->ReadInt());
}

void BinReaderFree(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  delete StreamArg<TBinaryInputStream>(result, 1);
}

// ---- tables

const TNativeBinding kFileObjectNatives[] = {
    {"fileExists", ObjectFileExists},
    {"moveFile", ObjectMoveFile},
    {"deleteFile", ObjectDeleteFile},
};
const size_t kFileObjectNativeCount = std::size(kFileObjectNatives);

const TNativeBinding kFileReaderNatives[] = {
    {"_n_FileReader", FileReaderOpen}, {"_n_close", InputStreamClose},
    {"_n_eof", InputStreamEof},        {"_n_read", InputStreamRead},
    {"_n_readLn", InputStreamReadLn},
};
const size_t kFileReaderNativeCount = std::size(kFileReaderNatives);

const TNativeBinding kFileWriterNatives[] = {
    {"_n_FileWriter", FileWriterOpen}, {"_n_close", OutputStreamClose},
    {"_n_write", FileWriterWrite},     {"_n_writeLn", FileWriterWriteLn},
};
const size_t kFileWriterNativeCount = std::size(kFileWriterNatives);

const TNativeBinding kResourceReaderNatives[] = {
    {"_n_close", InputStreamClose}, {"_n_init", ResourceReaderInit},
    {"_n_read", InputStreamRead},   {"_n_readInt", InputStreamReadInt},
};
const size_t kResourceReaderNativeCount = std::size(kResourceReaderNatives);

const TNativeBinding kResourceWriterNatives[] = {
    {"_n_close", OutputStreamClose},  {"_n_init", ResourceWriterInit},
    {"_n_write", ResourceWriterWrite}, {"_n_writeInt", ResourceWriterWriteInt},
};
const size_t kResourceWriterNativeCount = std::size(kResourceWriterNatives);

const TNativeBinding kBinWriterNatives[] = {
    {"_n_init", BinWriterInit},
    {"_n_writeInt", BinWriterWriteInt},
    {"_n_toB64", BinWriterToB64},
    {"_n_free", BinWriterFree},
};
const size_t kBinWriterNativeCount = std::size(kBinWriterNatives);

const TNativeBinding kBinReaderNatives[] = {
    {"_n_init", BinReaderInit},
    {"_n_readInt", BinReaderReadInt},
    {"_n_free", BinReaderFree},
};
const size_t kBinReaderNativeCount = std::size(kBinReaderNatives);

} // namespace brova::natives
