// Bodies of the file natives: plain files confined to the `files` folder (FileReader,
// FileWriter and the Object natives fileExists, moveFile, deleteFile), resource data files
// with the accessible-file header (ResourceReader, ResourceWriter), and in-memory buffers
// carried as Base64 text (BinWriter, BinReader). A stream used after it was closed or freed
// makes a body do nothing.
#pragma once
#include "natives/native_binding.h"

namespace brova::natives {

void ObjectFileExists(TValue* result, int32_t argc, int32_t reserved);
void ObjectMoveFile(TValue* result, int32_t argc, int32_t reserved);
void ObjectDeleteFile(TValue* result, int32_t argc, int32_t reserved);

void FileReaderOpen(TValue* result, int32_t argc, int32_t reserved);
void FileWriterOpen(TValue* result, int32_t argc, int32_t reserved);
// Frees a reader; its file is closed.
void InputStreamClose(TValue* result, int32_t argc, int32_t reserved);
// Flushes and frees a writer.
void OutputStreamClose(TValue* result, int32_t argc, int32_t reserved);
void InputStreamEof(TValue* result, int32_t argc, int32_t reserved);
void InputStreamRead(TValue* result, int32_t argc, int32_t reserved);
void InputStreamReadLn(TValue* result, int32_t argc, int32_t reserved);
void InputStreamReadInt(TValue* result, int32_t argc, int32_t reserved);
void FileWriterWrite(TValue* result, int32_t argc, int32_t reserved);
void FileWriterWriteLn(TValue* result, int32_t argc, int32_t reserved);

// The file of ResourceReader and ResourceWriter is the text of `$_tmp_rrdr.getURL()` and
// `$_tmp_rwrt.getURL()` (needs the global and snippet services, script_services.h).
void ResourceReaderInit(TValue* result, int32_t argc, int32_t reserved);
void ResourceWriterInit(TValue* result, int32_t argc, int32_t reserved);
void ResourceWriterWrite(TValue* result, int32_t argc, int32_t reserved);
void ResourceWriterWriteInt(TValue* result, int32_t argc, int32_t reserved);

void BinWriterInit(TValue* result, int32_t argc, int32_t reserved);
void BinWriterWriteInt(TValue* result, int32_t argc, int32_t reserved);
void BinWriterToB64(TValue* result, int32_t argc, int32_t reserved);
void BinWriterFree(TValue* result, int32_t argc, int32_t reserved);
void BinReaderInit(TValue* result, int32_t argc, int32_t reserved);
void BinReaderReadInt(TValue* result, int32_t argc, int32_t reserved);
void BinReaderFree(TValue* result, int32_t argc, int32_t reserved);

// classes.lang.Object: fileExists, moveFile, deleteFile.
extern const TNativeBinding kFileObjectNatives[];
extern const size_t kFileObjectNativeCount;
// FileReader: _n_FileReader, _n_close, _n_eof, _n_read, _n_readLn.
extern const TNativeBinding kFileReaderNatives[];
extern const size_t kFileReaderNativeCount;
// FileWriter: _n_FileWriter, _n_close, _n_write, _n_writeLn.
extern const TNativeBinding kFileWriterNatives[];
extern const size_t kFileWriterNativeCount;
// ResourceReader: _n_close, _n_init, _n_read, _n_readInt.
extern const TNativeBinding kResourceReaderNatives[];
extern const size_t kResourceReaderNativeCount;
// ResourceWriter: _n_close, _n_init, _n_write, _n_writeInt.
extern const TNativeBinding kResourceWriterNatives[];
extern const size_t kResourceWriterNativeCount;
// BinWriter: _n_init, _n_writeInt, _n_toB64, _n_free.
extern const TNativeBinding kBinWriterNatives[];
extern const size_t kBinWriterNativeCount;
// BinReader: _n_init, _n_readInt, _n_free.
extern const TNativeBinding kBinReaderNatives[];
extern const size_t kBinReaderNativeCount;

} // namespace brova::natives
