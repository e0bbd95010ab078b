// The ".vxl" container: a 21 + E byte header (magic, compression flag, the plain file's
// extension) followed by the payload, everything from offset 6 on enciphered with the keystream.
#include "container.h"

#include <cstring>

#include "codec.h"
#include "file_system.h"
#include "job_reporter.h"
#include "keystream.h"
#include "settings_record.h"

namespace vexlor {

namespace {

constexpr char kMagic[] = "Vexlor of Norvak";
constexpr size_t kMagicLength = 16;
constexpr size_t kPlainMagicLength = 6;  // "Vexlor" is stored as it is
constexpr size_t kFixedHeaderLength = 19;  // magic, flag, CR LF
constexpr size_t kExtensionSearchLimit = 100;
constexpr char kContainerSuffix[] = ".vxl";
constexpr size_t kSuffixLength = 4;
constexpr size_t kTransferBufferSize = 100000;
constexpr size_t kTargetNameSize = 512;

// The engine's working storage: one file is converted at a time in a process.
uint8_t g_transferBuffer[kTransferBufferSize];
char g_targetName[kTargetNameSize];

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The index of the dot that starts the extension, or 0 when the name has none. The first
// character is never looked at, so a dot there does not start an extension.
size_t FindExtensionDot(const char* path, size_t length) {
  for (size_t i = length; i-- > 1;) {
    if (path[i] == '.') return i;
    if (IsSeparator(path[i])) return 0;
  }
  return 0;
}

// The index where the last component of the path starts.
size_t NameStart(const char* path, size_t length) {
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (IsSeparator(path[i])) start = i + 1;
  }
  return start;
}

// Both streams are open and the target exists: close them, remove the partial target and
// keep the source as it was.
FileResult AbandonTarget(std::unique_ptr<ByteStream>& source, std::unique_ptr<ByteStream>& target) {
  source.reset();
  target.reset();
  CurrentFileSystem().RemoveFile(g_targetName);
  return FileIoError;
}

// Streams the rest of the source through the transfer buffer, enciphered or deciphered.
bool CopyPayload(ByteStream& source, ByteStream& target, bool encipher) {
  JobReporter& reporter = CurrentReporter();
  for (;;) {
    size_t count = source.Read(g_transferBuffer, kTransferBufferSize);
    if (count == 0) break;
    if (encipher) {
      g_keystream.Encipher(g_transferBuffer, count);
    } else {
      g_keystream.Decipher(g_transferBuffer, count);
    }
    if (target.Write(g_transferBuffer, count) != count) return false;
    reporter.AddBytesDone(count);
  }
  return !source.ReadFailed();
}

// Both streams are closed: hand the attributes over to the target and delete the source.
// Failures here leave both files in place and are not reported.
FileResult Finish(const char* path, uint32_t attributes) {
  FileSystem& fileSystem = CurrentFileSystem();
  if ((attributes & kAttributeReadOnly) != 0) {
    fileSystem.WriteAttributes(path, attributes & ~kAttributeReadOnly);
  }
  fileSystem.WriteAttributes(g_targetName, attributes);
  fileSystem.RemoveFile(path);
  return FileDone;
}

FileResult EncryptFile(const char* path, size_t length, uint32_t attributes) {
  size_t dot = FindExtensionDot(path, length);
  size_t extensionLength = dot != 0 ? length - dot : 0;
  // Decrypting looks for the end of the extension among its first 100 bytes only, so a
  // longer extension would make a container that can never be opened again.
  if (extensionLength >= kExtensionSearchLimit) return FileNameTooLong;

  memcpy(g_targetName, path, length);
  if (dot != 0) g_targetName[dot] = '_';
  memcpy(g_targetName + length, kContainerSuffix, kSuffixLength + 1);

  FileSystem& fileSystem = CurrentFileSystem();
  std::unique_ptr<ByteStream> source = fileSystem.OpenRead(path);
  if (!source) return FileOpenFailed;
  std::unique_ptr<ByteStream> target = fileSystem.CreateWrite(g_targetName);
  if (!target) return FileOpenFailed;

  // The length in front of a compressed payload cannot describe 2 GiB or more: store those.
  uint64_t plainSize = 0;
  bool compress = g_settings.needCompression != 0 &&
                  fileSystem.ReadSize(path, &plainSize) && plainSize < kCompressedSizeLimit;
  uint8_t* header = g_transferBuffer;
  memcpy(header, kMagic, kMagicLength);
  header[16] = compress ? '1' : '0';
  header[17] = 0x0D;
  header[18] = 0x0A;
  memcpy(header + kFixedHeaderLength, path + dot, extensionLength);
  size_t headerLength = kFixedHeaderLength + extensionLength;
  header[headerLength++] = 0x0D;
  header[headerLength++] = 0x0A;
  g_keystream.Encipher(header + kPlainMagicLength, headerLength - kPlainMagicLength);
  if (target->Write(header, headerLength) != headerLength) return AbandonTarget(source, target);

  if (compress) {
    if (CompressFile(*source, *target) != 0 || source->ReadFailed()) {
      return AbandonTarget(source, target);
    }
  } else if (!CopyPayload(*source, *target, true)) {
    return AbandonTarget(source, target);
  }

  // The source goes only once the target is known to be complete.
  if (!target->Close()) return AbandonTarget(source, target);
  source.reset();
  target.reset();
  return Finish(path, attributes);
}

FileResult DecryptFile(const char* path, size_t length, uint32_t attributes) {
  FileSystem& fileSystem = CurrentFileSystem();
  std::unique_ptr<ByteStream> source = fileSystem.OpenRead(path);
  if (!source) return FileOpenFailed;

  uint8_t* header = g_transferBuffer;
  if (source->Read(header, kFixedHeaderLength) != kFixedHeaderLength) return FileIoError;
  // The earlier layout enciphered the whole header, "Vexlor" included.
  size_t firstEnciphered = memcmp(header, kMagic, kPlainMagicLength) == 0 ? kPlainMagicLength : 0;
  g_keystream.Decipher(header + firstEnciphered, kFixedHeaderLength - firstEnciphered);
  if (memcmp(header, kMagic, kMagicLength) != 0) return FileBadPassword;
  bool compressed = header[16] != '0';

  size_t count = source->Read(g_transferBuffer, kTransferBufferSize);
  if (count == 0 || source->ReadFailed()) return FileIoError;
  size_t searchLimit = count < kExtensionSearchLimit ? count : kExtensionSearchLimit;
  size_t extensionLength = 0;
  for (;;) {
    if (extensionLength == searchLimit) return FileBadPassword;
    g_keystream.Decipher(g_transferBuffer + extensionLength, 1);
    if (g_transferBuffer[extensionLength] == 0x0D) break;
    ++extensionLength;
  }
  // The LF after the extension; drawn even when the file ends before it so that the payload
  // starts at the right keystream byte.
  g_keystream.NextByte();

  // The name the container had when it was made ends in "_ext"; only E is stored, so the dot
  // goes back E characters before ".vxl". A container renamed to something shorter would put
  // that dot into a folder name or before the path, so it is refused rather than written to
  // some other folder.
  size_t plainLength = length - kSuffixLength;
  if (extensionLength > plainLength - NameStart(path, plainLength)) return FileNameTooLong;
  memcpy(g_targetName, path, plainLength);
  g_targetName[plainLength] = '\0';
  if (extensionLength > 0) g_targetName[plainLength - extensionLength] = '.';

  uint64_t payloadOffset = kFixedHeaderLength + extensionLength + 2;
  if (!source->Seek(payloadOffset)) return FileIoError;
  CurrentReporter().AddBytesDone(payloadOffset);

  std::unique_ptr<ByteStream> target = fileSystem.CreateWrite(g_targetName);
  if (!target) return FileOpenFailed;

  if (compressed) {
    if (ExpandFile(*source, *target) != 0 || source->ReadFailed()) {
      return AbandonTarget(source, target);
    }
  } else if (!CopyPayload(*source, *target, false)) {
    return AbandonTarget(source, target);
  }

  if (!target->Close()) return AbandonTarget(source, target);
  source.reset();
  target.reset();
  return Finish(path, attributes);
}

}  // namespace

FileResult ProcessFile(const char* path, int direction, uint32_t attributes) {
  CurrentReporter().ShowCurrentPath(path);
  size_t length = strlen(path);
  if (length > static_cast<size_t>(kMaxContainerPath)) return FileNameTooLong;
  bool isContainer =
      length > kSuffixLength && memcmp(path + length - kSuffixLength, kContainerSuffix, kSuffixLength) == 0;
  if (direction != Decrypt) return isContainer ? FileDone : EncryptFile(path, length, attributes);
  return isContainer ? DecryptFile(path, length, attributes) : FileDone;
}

}  // namespace vexlor
