#include "settings_store.h"

#include <gtest/gtest.h>

#include <cstring>

#include "machine_key_redirect.h"
#include "settings_record.h"

namespace vexlor {
namespace {

using vexlor_test::MachineKeyRedirect;

// The first keystream byte after seeding with 40286620: the state becomes 926592260
// (0x373A9C04), whose nibbles add up to 50.
constexpr uint8_t kFirstScrambleByte = 50;

std::vector<uint8_t> Dword(uint32_t value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  return std::vector<uint8_t>(bytes, bytes + 4);
}

// Fills the record with bytes that no load produces, so a field the load forgets shows.
void Scribble() {
  g_settings.useDefaultPassword = 0xA5A5A5A5;
  g_settings.needCompression = 0xA5;
  g_settings.protectEncryptedFiles = 0xA5;
  std::memset(g_settings.encryptPassword, 0xA5, sizeof(g_settings.encryptPassword));
}

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_.active()) << "HKEY_LOCAL_MACHINE could not be redirected";
    Scribble();
  }
  MachineKeyRedirect registry_;
};

TEST_F(SettingsStore, DefaultsWithoutKey) {
  LoadSettings();
  EXPECT_EQ(g_settings.useDefaultPassword, 0u);
  EXPECT_EQ(g_settings.needCompression, 0);
  EXPECT_EQ(g_settings.protectEncryptedFiles, 1);
  EXPECT_STREQ(g_settings.encryptPassword, "Kestal");
}

struct StoredValue {
  const char* name;
  DWORD type;
  std::vector<uint8_t> data;
};

struct FlagCase {
  const char* what;
  std::vector<StoredValue> stored;
  uint32_t useDefaultPassword;
  uint8_t needCompression;
  uint8_t protectEncryptedFiles;
};

TEST_F(SettingsStore, FlagsTakeTheirOwnDefaultsAndLowBytes) {
  const std::vector<uint8_t> eightBytes = {1, 0, 0, 0, 0, 0, 0, 0};
  const FlagCase cases[] = {
      {"empty key", {}, 0, 0, 1},
      {"only useDefaultPassword = 0", {{"useDefaultPassword", REG_DWORD, Dword(0)}}, 0, 0, 1},
      {"needCompression 256", {{"needCompression", REG_DWORD, Dword(256)}}, 0, 0, 1},
      {"needCompression 0x101", {{"needCompression", REG_DWORD, Dword(0x101)}}, 0, 1, 1},
      {"protectEncryptedFiles 256", {{"protectEncryptedFiles", REG_DWORD, Dword(256)}}, 0, 0, 0},
      {"useDefaultPassword 256", {{"useDefaultPassword", REG_DWORD, Dword(256)}}, 256, 0, 1},
      {"oversized flags",
       {{"needCompression", REG_BINARY, eightBytes}, {"protectEncryptedFiles", REG_BINARY, eightBytes}},
       0, 0, 1},
      {"one raw byte of another type", {{"needCompression", REG_BINARY, {1}}}, 0, 1, 1},
      {"all three",
       {{"useDefaultPassword", REG_DWORD, Dword(1)},
        {"needCompression", REG_DWORD, Dword(1)},
        {"protectEncryptedFiles", REG_DWORD, Dword(0)}},
       1, 1, 0},
  };
  for (const FlagCase& c : cases) {
    MachineKeyRedirect registry;  // a fresh tree per case
    ASSERT_TRUE(registry.active());
    registry.CreateSettingsKey();
    for (const StoredValue& v : c.stored) registry.SetValue(v.name, v.type, v.data);
    Scribble();
    LoadSettings();
    EXPECT_EQ(g_settings.useDefaultPassword, c.useDefaultPassword) << c.what;
    EXPECT_EQ(g_settings.needCompression, c.needCompression) << c.what;
    EXPECT_EQ(g_settings.protectEncryptedFiles, c.protectEncryptedFiles) << c.what;
  }
}

TEST_F(SettingsStore, SaveThenLoadGivesBackAllHundredPasswordBytes) {
  registry_.CreateSettingsKey();
  char saved[kPasswordBufferSize];
  std::memset(saved, 0, sizeof(saved));
  std::strcpy(saved, "s3cret pass");
  for (int i = 20; i < kPasswordBufferSize; ++i) saved[i] = static_cast<char>(i * 7);  // behind the NUL
  std::memcpy(g_settings.encryptPassword, saved, sizeof(saved));
  g_settings.useDefaultPassword = 1;
  g_settings.needCompression = 1;
  g_settings.protectEncryptedFiles = 0;
  SaveSettings();

  Scribble();
  LoadSettings();
  EXPECT_EQ(std::memcmp(g_settings.encryptPassword, saved, sizeof(saved)), 0);
  EXPECT_EQ(g_settings.useDefaultPassword, 1u);
  EXPECT_EQ(g_settings.needCompression, 1);
  EXPECT_EQ(g_settings.protectEncryptedFiles, 0);
}

TEST_F(SettingsStore, SavedValuesHaveTheirTypesAndTheScrambledImage) {
  registry_.CreateSettingsKey();
  std::memset(g_settings.encryptPassword, 0, kPasswordBufferSize);
  std::strcpy(g_settings.encryptPassword, "Kestal");
  g_settings.useDefaultPassword = 0;  // the image is written all the same
  g_settings.needCompression = 1;
  g_settings.protectEncryptedFiles = 1;
  SaveSettings();

  DWORD type = REG_NONE;
  EXPECT_EQ(registry_.Value("useDefaultPassword", &type), Dword(0));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(registry_.Value("needCompression", &type), Dword(1));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(registry_.Value("protectEncryptedFiles", &type), Dword(1));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

  std::vector<uint8_t> image = registry_.Value("passwd", &type);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(image.size(), 100u);
  EXPECT_EQ(image[0], static_cast<uint8_t>('K' + kFirstScrambleByte));
}

TEST_F(SettingsStore, EmptyPasswordImageStartsWithTheKeystreamByte) {
  registry_.CreateSettingsKey();
  std::memset(g_settings.encryptPassword, 0, kPasswordBufferSize);
  SaveSettings();
  DWORD type = REG_NONE;
  std::vector<uint8_t> image = registry_.Value("passwd", &type);
  ASSERT_EQ(image.size(), 100u);
  EXPECT_EQ(image[0], kFirstScrambleByte);
}

TEST_F(SettingsStore, DefaultPasswordOffIgnoresStoredImage) {
  registry_.CreateSettingsKey();
  std::memset(g_settings.encryptPassword, 0, kPasswordBufferSize);
  std::strcpy(g_settings.encryptPassword, "another one");
  g_settings.useDefaultPassword = 0;
  SaveSettings();

  Scribble();
  LoadSettings();
  EXPECT_STREQ(g_settings.encryptPassword, "Kestal");
  // Only the built-in text and its NUL are copied; the rest of the buffer is left alone.
  EXPECT_EQ(static_cast<uint8_t>(g_settings.encryptPassword[7]), 0xA5);
}

TEST_F(SettingsStore, MissingOrShortImageGivesTheBuiltInPasswordForTheWholeBuffer) {
  const std::vector<uint8_t> shortImage(10, 0x61);
  for (bool stored : {false, true}) {
    MachineKeyRedirect registry;
    ASSERT_TRUE(registry.active());
    registry.CreateSettingsKey();
    registry.SetDword("useDefaultPassword", 1);
    if (stored) registry.SetValue("passwd", REG_BINARY, shortImage);
    Scribble();
    LoadSettings();
    char expected[kPasswordBufferSize] = "Kestal";
    EXPECT_EQ(std::memcmp(g_settings.encryptPassword, expected, kPasswordBufferSize), 0)
        << (stored ? "10-byte image" : "no image");
    EXPECT_EQ(g_settings.useDefaultPassword, 1u);
  }
}

TEST_F(SettingsStore, ImageWithoutTerminatorLoadsTerminated) {
  registry_.CreateSettingsKey();
  std::memset(g_settings.encryptPassword, 'A', kPasswordBufferSize);  // no NUL anywhere
  g_settings.useDefaultPassword = 1;
  SaveSettings();

  Scribble();
  LoadSettings();
  EXPECT_EQ(g_settings.encryptPassword[kPasswordBufferSize - 1], '\0');
  EXPECT_EQ(std::string(g_settings.encryptPassword), std::string(kPasswordBufferSize - 1, 'A'));
}

TEST_F(SettingsStore, SaveWithoutKeyCreatesNothing) {
  g_settings.useDefaultPassword = 1;
  SaveSettings();
  EXPECT_FALSE(registry_.SettingsKeyExists());
}

}  // namespace
}  // namespace vexlor
