// Compressed payloads inside real containers: the payload figures, the keystream running on
// from the header into the code, round trips, truncation, a wrong password, and the size
// above which files are stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_test_support.h"
#include "container.h"
#include "settings_record.h"
#include "test_support.h"

namespace vexlor {
namespace {

constexpr size_t kTxtHeaderLength = 21 + 4;  // with the extension ".txt"
const char kPlainPath[] = "C:\\d\\a.txt";
const char kContainerPath[] = "C:\\d\\a_txt.vxl";

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The payload a container holds: the codec's output with the keystream advanced past the
// 19 enciphered bytes of a ".txt" header.
Bytes ExpectedPayload(const Bytes& plain, const char* password) {
  BufferStream source(plain);
  BufferStream target;
  g_keystream.Seed(static_cast<uint64_t>(DerivePasswordKey(password)));
  for (size_t i = 6; i < kTxtHeaderLength; ++i) g_keystream.NextByte();
  EXPECT_EQ(CompressFile(source, target), 0);
  return target.bytes;
}

// The compression flag as the password deciphers it.
char DecipheredFlag(const std::string& container, const char* password) {
  Keystream keystream;
  keystream.Seed(static_cast<uint64_t>(DerivePasswordKey(password)));
  for (size_t i = 6; i < 16; ++i) keystream.NextByte();
  return static_cast<char>(static_cast<uint8_t>(container.at(16)) - keystream.NextByte());
}

// Reports a chosen size for every file, whatever it holds.
class SizedFileSystem : public MemoryFileSystem {
 public:
  bool ReadSize(const char* path, uint64_t* size) override {
    if (!Has(path)) return false;
    *size = claimedSize;
    return true;
  }
  uint64_t claimedSize = 0;
};

class CompressedContainerTest : public ::testing::Test {
 protected:
  void SetUp() override { g_settings.needCompression = 1; }
  void TearDown() override { g_settings.needCompression = 0; }

  FileResult Process(const char* path, int direction, const char* password) {
    g_keystream.Seed(static_cast<uint64_t>(DerivePasswordKey(password)));
    return ProcessFile(path, direction, 0x20);
  }

  MemoryFileSystem files;
  RecordingReporter reporter;
};

TEST_F(CompressedContainerTest, PayloadFiguresAndKeystreamContinuity) {
  struct Case {
    const char* name;
    Bytes plain;
    size_t payload;
  };
  const Case cases[] = {
      {"200 bytes of 0x20", Bytes(200, 0x20), 13},
      {"5000 bytes of 0x61", Bytes(5000, 0x61), 138},
      {"empty", {}, 4},
      {"one byte 0x74", {0x74}, 5},
      {"one byte 0x41", {0x41}, 6},
      {"text", TextLikeBytes(50000, 11), 0},  // size not fixed; the bytes are
  };
  for (const char* password : {"secret", "\xff", "@@@@@@@@@@@"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", password " + password);
      files.AddFile(kPlainPath, AsString(c.plain));
      ASSERT_EQ(Process(kPlainPath, Encrypt, password), FileDone);
      ASSERT_EQ(files.Paths(), std::vector<std::string>{kContainerPath});
      const std::string container = files.At(kContainerPath).bytes;
      ASSERT_GE(container.size(), kTxtHeaderLength);
      EXPECT_EQ(DecipheredFlag(container, password), '1');
      const Bytes payload = AsBytes(container.substr(kTxtHeaderLength));
      if (c.payload != 0) {
        EXPECT_EQ(payload.size(), c.payload);
      }
      EXPECT_TRUE(payload == ExpectedPayload(c.plain, password));
      if (c.plain.empty()) {
        EXPECT_TRUE(payload == Bytes(4, 0));
      }

      ASSERT_EQ(Process(kContainerPath, Decrypt, password), FileDone);
      ASSERT_EQ(files.Paths(), std::vector<std::string>{kPlainPath});
      EXPECT_TRUE(AsBytes(files.At(kPlainPath).bytes) == c.plain);
      files.RemoveFile(kPlainPath);
    }
  }
}

TEST_F(CompressedContainerTest, RoundTripsOverSizesAndPasswords) {
  for (size_t size : {0, 1, 59, 60, 61, 4095, 4096, 4097, 250000}) {
    for (const char* password : {"secret", "\xff", "@@@@@@@@@@@"}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, password " + password);
      const std::string plain = AsString(TextLikeBytes(size, size));
      files.AddFile(kPlainPath, plain);
      reporter.bytesDone = 0;
      ASSERT_EQ(Process(kPlainPath, Encrypt, password), FileDone);
      EXPECT_EQ(reporter.bytesDone, size == 0 ? 0 : std::max<uint64_t>(size, 60));
      const uint64_t containerSize = files.At(kContainerPath).bytes.size();
      reporter.bytesDone = 0;
      ASSERT_EQ(Process(kContainerPath, Decrypt, password), FileDone);
      // The header, 2 for the length and one reader fetch per code byte and one more.
      EXPECT_EQ(reporter.bytesDone, size == 0 ? kTxtHeaderLength + 2 : containerSize - 1);
      ASSERT_EQ(files.Paths(), std::vector<std::string>{kPlainPath});
      EXPECT_TRUE(files.At(kPlainPath).bytes == plain);
      files.RemoveFile(kPlainPath);
    }
  }
}

TEST_F(CompressedContainerTest, TruncatedContainerFailsAndKeepsIt) {
  files.AddFile(kPlainPath, AsString(TextLikeBytes(20000, 12)));
  ASSERT_EQ(Process(kPlainPath, Encrypt, "secret"), FileDone);
  const std::string whole = files.At(kContainerPath).bytes;
  for (size_t missing : {size_t{1}, size_t{100}, whole.size() - kTxtHeaderLength - 4}) {
    SCOPED_TRACE(std::to_string(missing) + " bytes missing");
    const std::string truncated = whole.substr(0, whole.size() - missing);
    files.AddFile(kContainerPath, truncated);
    EXPECT_EQ(Process(kContainerPath, Decrypt, "secret"), FileIoError);
    EXPECT_EQ(files.Paths(), std::vector<std::string>{kContainerPath});
    EXPECT_EQ(files.At(kContainerPath).bytes, truncated);
  }
}

TEST_F(CompressedContainerTest, WrongPasswordNeverReachesTheCodec) {
  files.AddFile(kPlainPath, AsString(TextLikeBytes(5000, 13)));
  ASSERT_EQ(Process(kPlainPath, Encrypt, "secret"), FileDone);
  const std::string container = files.At(kContainerPath).bytes;
  reporter.bytesDone = 0;
  EXPECT_EQ(Process(kContainerPath, Decrypt, "Secret"), FileBadPassword);
  // Reaching the payload would have counted the header and the codec the length.
  EXPECT_EQ(reporter.bytesDone, 0u);
  EXPECT_EQ(files.Paths(), std::vector<std::string>{kContainerPath});
  EXPECT_EQ(files.At(kContainerPath).bytes, container);
}

TEST(CompressedContainerSizeTest, FilesOf2GiBOrMoreAreStored) {
  struct Case {
    uint64_t size;
    char flag;
  };
  const Case cases[] = {{0x7FFFFFFF, '1'}, {0x80000000, '0'}, {0x100000005, '0'}};
  const std::string plain = "what the file holds";
  for (const Case& c : cases) {
    SCOPED_TRACE("reported size " + std::to_string(c.size));
    SizedFileSystem files;
    files.claimedSize = c.size;
    g_settings.needCompression = 1;
    files.AddFile(kPlainPath, plain);
    g_keystream.Seed(static_cast<uint64_t>(DerivePasswordKey("pw")));
    EXPECT_EQ(ProcessFile(kPlainPath, Encrypt, 0x20), FileDone);
    const std::string container = files.At(kContainerPath).bytes;
    EXPECT_EQ(DecipheredFlag(container, "pw"), c.flag);
    if (c.flag == '0') {
      // Stored: the header and the enciphered bytes, readable by every reader.
      EXPECT_EQ(container, ExpectedContainer("pw", ".txt", plain));
    }
    g_keystream.Seed(static_cast<uint64_t>(DerivePasswordKey("pw")));
    EXPECT_EQ(ProcessFile(kContainerPath, Decrypt, 0x20), FileDone);
    EXPECT_EQ(files.At(kPlainPath).bytes, plain);
    g_settings.needCompression = 0;
  }
}

}  // namespace
}  // namespace vexlor
