#include "selection_list.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_busy.h"
#include "context_menu.h"
#include "drop_data_object.h"
#include "shell_items.h"

namespace vexlor {
namespace {

using vexlor_test::DropDataObject;

std::vector<std::string> NumberedNames(unsigned count) {
  std::vector<std::string> names;
  for (unsigned i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof(name), "C:\\picked\\item-%03u.txt", i);
    names.push_back(name);
  }
  return names;
}

HRESULT InitializeWith(IDataObject* data) {
  CContextMenu* menu = new CContextMenu();
  HRESULT hr = menu->Initialize(nullptr, data, nullptr);
  menu->Release();
  return hr;
}

HRESULT InitializeWith(const std::vector<std::string>& names, bool wide = true) {
  DropDataObject data(names, wide);
  return InitializeWith(&data);
}

std::vector<std::string> ListedNames() {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < g_selectionList.count; ++i) names.push_back(SelectionEntry(i));
  return names;
}

class SelectionListTest : public ::testing::Test {
 protected:
  void TearDown() override { g_fCommandBusy = 0; }
};

TEST_F(SelectionListTest, HoldsEveryNameInDropOrder) {
  struct Case {
    unsigned count;
    bool wide;
  };
  const Case cases[] = {{1, true}, {3, false}, {200, true}, {201, true}, {250, false}, {250, true}};
  for (const Case& c : cases) {
    std::vector<std::string> names = NumberedNames(c.count);
    SCOPED_TRACE(::testing::Message() << c.count << (c.wide ? " UTF-16" : " ANSI") << " names");
    ASSERT_EQ(InitializeWith(names, c.wide), S_OK);
    ASSERT_EQ(g_selectionList.count, c.count);
    EXPECT_EQ(ListedNames(), names);
    if (c.count <= kSelectionInlineEntries) {
      EXPECT_EQ(g_selectionList.overflow, nullptr);
    } else {
      ASSERT_NE(g_selectionList.overflow, nullptr);
      EXPECT_EQ(_msize(g_selectionList.overflow), (c.count - 200) * kPathBufferSize);
    }
  }
}

TEST_F(SelectionListTest, SmallerSelectionDropsTheOverflow) {
  ASSERT_EQ(InitializeWith(NumberedNames(250)), S_OK);
  ASSERT_NE(g_selectionList.overflow, nullptr);
  ASSERT_EQ(InitializeWith({"C:\\one.txt", "C:\\two.txt"}), S_OK);
  EXPECT_EQ(g_selectionList.count, 2u);
  EXPECT_EQ(g_selectionList.overflow, nullptr);
}

TEST_F(SelectionListTest, BusyCommandKeepsTheListUntouched) {
  std::vector<std::string> running = NumberedNames(250);
  ASSERT_EQ(InitializeWith(running), S_OK);
  PathEntry* overflow = g_selectionList.overflow;

  g_fCommandBusy = 1;
  EXPECT_EQ(InitializeWith({"C:\\new\\a.txt", "C:\\new\\b.txt"}), S_OK);
  EXPECT_EQ(g_selectionList.overflow, overflow);
  EXPECT_EQ(ListedNames(), running);
}

TEST_F(SelectionListTest, UnusableSelectionsAreRefusedAndChangeNothing) {
  const std::vector<std::string> before = {"C:\\kept\\a.txt", "C:\\kept\\b.txt"};
  ASSERT_EQ(InitializeWith(before), S_OK);

  DropDataObject noDropList({"C:\\x.txt"}, true, false);
  struct Case {
    const char* what;
    IDataObject* data;
  };
  const Case cases[] = {{"no drop list", &noDropList}, {"no data object", nullptr}};
  for (const Case& c : cases) {
    EXPECT_EQ(InitializeWith(c.data), E_INVALIDARG) << c.what;
    EXPECT_EQ(ListedNames(), before) << c.what;
  }
}

TEST_F(SelectionListTest, EmptyDropListIsRefused) {
  // The system's drop-list reader counts an empty list as one empty name; either way the
  // selection is refused.
  for (bool wide : {true, false}) {
    DropDataObject empty({}, wide);
    EXPECT_EQ(InitializeWith(&empty), E_INVALIDARG) << (wide ? "UTF-16" : "ANSI");
  }
}

TEST_F(SelectionListTest, NameLongerThanAPathBufferFailsTheSelection) {
  const std::string longest = "C:\\" + std::string(256, 'n');  // 259 characters: fits
  const std::string tooLong = longest + "x";                   // 260: would be cut
  struct Case {
    std::vector<std::string> names;
    HRESULT result;
    std::vector<std::string> listed;
  };
  const Case cases[] = {
      {{longest, "C:\\b.txt"}, S_OK, {longest, "C:\\b.txt"}},
      {{"C:\\a.txt", tooLong, "C:\\b.txt"}, E_INVALIDARG, {"C:\\a.txt", "", "C:\\b.txt"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InitializeWith(c.names), c.result) << c.names[1].size();
    EXPECT_EQ(ListedNames(), c.listed);
  }
}

TEST_F(SelectionListTest, ShellDataObjectGivesFullAnsiPaths) {
  vexlor_test::ComApartment com;
  vexlor_test::ScratchFolder folder;
  std::string first = folder.AddFile("alpha.txt");
  std::string second = folder.AddFile("beta.vxl");
  std::string third = folder.AddFolder("gamma");

  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> paths;
  };
  const Case cases[] = {
      {{"beta.vxl"}, {second}},
      {{"gamma"}, {third}},
      {{"alpha.txt", "beta.vxl", "gamma"}, {first, second, third}},
  };
  for (const Case& c : cases) {
    IDataObject* data = vexlor_test::ShellDataObject(folder.path(), c.names);
    ASSERT_NE(data, nullptr) << c.names[0];
    EXPECT_EQ(InitializeWith(data), S_OK);
    data->Release();
    EXPECT_EQ(ListedNames(), c.paths);
  }
}

}  // namespace
}  // namespace vexlor
