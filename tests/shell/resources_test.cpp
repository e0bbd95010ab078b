// The pictures in the library file: menu bitmaps and icon groups in their resource order.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "library_under_test.h"

namespace vexlor_test {
namespace {

#pragma pack(push, 2)
struct IconGroupEntry {  // one image of an icon group resource
  BYTE width;
  BYTE height;
  BYTE colourCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;
};
struct IconGroupHeader {
  WORD reserved;
  WORD type;
  WORD count;
  IconGroupEntry entries[1];
};
#pragma pack(pop)

const void* ResourceData(LPCSTR type, UINT id) {
  HRSRC found = FindResourceA(Library(), MAKEINTRESOURCEA(id), type);
  if (found == nullptr) return nullptr;
  return LockResource(LoadResource(Library(), found));
}

TEST(Resources, MenuBitmapsAre13By13InTheirColourDepth) {
  struct Case {
    UINT id;
    WORD bitCount;
  };
  for (const Case& c : {Case{103, 4}, Case{104, 4}, Case{121, 8}}) {
    const auto* header = static_cast<const BITMAPINFOHEADER*>(ResourceData(RT_BITMAP, c.id));
    ASSERT_NE(header, nullptr) << c.id;
    EXPECT_EQ(header->biWidth, 13) << c.id;
    EXPECT_EQ(header->biHeight, 13) << c.id;
    EXPECT_EQ(header->biBitCount, c.bitCount) << c.id;
  }
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) {
  if (IS_INTRESOURCE(name)) {
    reinterpret_cast<std::vector<UINT>*>(list)->push_back(static_cast<UINT>(
        reinterpret_cast<ULONG_PTR>(name)));
  }
  return TRUE;
}

std::vector<UINT> IconImagesOfGroup(UINT group) {
  std::vector<UINT> images;
  const auto* header = static_cast<const IconGroupHeader*>(ResourceData(RT_GROUP_ICON, group));
  if (header == nullptr) return images;
  for (WORD i = 0; i < header->count; ++i) images.push_back(header->entries[i].id);
  return images;
}

TEST(Resources, IconIndexOneIsTheEncryptedFileIcon) {
  std::vector<UINT> groups;
  EnumResourceNamesA(Library(), RT_GROUP_ICON, CollectName, reinterpret_cast<LONG_PTR>(&groups));
  EXPECT_EQ(groups, std::vector<UINT>({101, 106, 131, 132}));

  // What the shell does with "Vexlor.dll,1" from the file type's DefaultIcon: the image it
  // picks must belong to the group at that index.
  struct Case {
    int index;
    UINT group;
  };
  for (const Case& c : {Case{0, 101}, Case{1, 106}, Case{2, 131}, Case{3, 132}}) {
    HICON icon = nullptr;
    UINT image = 0;
    ASSERT_EQ(PrivateExtractIconsA(LibraryPath().c_str(), c.index, 32, 32, &icon, &image, 1, 0),
              1u)
        << c.index;
    DestroyIcon(icon);
    std::vector<UINT> images = IconImagesOfGroup(c.group);
    EXPECT_NE(std::find(images.begin(), images.end(), image), images.end())
        << "index " << c.index << " gave image " << image << ", not one of group " << c.group;
  }
}

TEST(Resources, ButtonIconsHaveA32By32ImageOf256Colours) {
  for (UINT id : {131u, 132u}) {
    const auto* group = static_cast<const IconGroupHeader*>(ResourceData(RT_GROUP_ICON, id));
    ASSERT_NE(group, nullptr) << id;
    bool found = false;
    for (WORD i = 0; i < group->count; ++i) {
      const IconGroupEntry& e = group->entries[i];
      if (e.width == 32 && e.height == 32 && e.bitCount == 8) found = true;
    }
    EXPECT_TRUE(found) << id;
    EXPECT_NE(LoadImageA(Library(), MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, 0), nullptr) << id;
  }
}

}  // namespace
}  // namespace vexlor_test
