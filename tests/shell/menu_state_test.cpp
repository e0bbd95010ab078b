// The menu's dependence on the process's settings and busy flag, seen from inside the library.
#include <gtest/gtest.h>

#include "command_busy.h"
#include "context_menu.h"
#include "settings_record.h"

namespace vexlor {
namespace {

class MenuStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    menu_ = CreatePopupMenu();
    object_ = new CContextMenu();
  }
  void TearDown() override {
    object_->Release();
    DestroyMenu(menu_);
    g_fCommandBusy = 0;
    g_settings.useDefaultPassword = 0;
  }
  HMENU menu_ = nullptr;
  CContextMenu* object_ = nullptr;
};

TEST_F(MenuStateTest, ConfigIsCheckedWhenTheDefaultPasswordIsOn) {
  struct Case {
    uint32_t useDefaultPassword;
    bool checked;
  };
  for (const Case& c : {Case{0, false}, Case{1, true}, Case{256, true}}) {
    HMENU menu = CreatePopupMenu();
    g_settings.useDefaultPassword = c.useDefaultPassword;
    ASSERT_EQ(object_->QueryContextMenu(menu, 0, 40, 60, CMF_NORMAL), MAKE_HRESULT(0, 0, 3));
    UINT state = GetMenuState(menu, 42, MF_BYCOMMAND);
    EXPECT_EQ((state & MF_CHECKED) != 0, c.checked) << c.useDefaultPassword;
    // The other items never carry a check.
    EXPECT_EQ(GetMenuState(menu, 40, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(GetMenuState(menu, 41, MF_BYCOMMAND) & MF_CHECKED, 0u);
    DestroyMenu(menu);
  }
}

TEST_F(MenuStateTest, BusyCommandAddsNothing) {
  AppendMenuA(menu_, MF_STRING, 1, "Open");
  g_fCommandBusy = 1;
  EXPECT_EQ(object_->QueryContextMenu(menu_, 1, 40, 60, CMF_NORMAL), S_OK);
  EXPECT_EQ(GetMenuItemCount(menu_), 1);
}

TEST_F(MenuStateTest, ItemsHaveNoPictureWhenBitmapsCannotBeLoaded) {
  // This test program carries none of the library's bitmaps.
  ASSERT_EQ(object_->QueryContextMenu(menu_, 0, 40, 60, CMF_NORMAL), MAKE_HRESULT(0, 0, 3));
  for (UINT id = 40; id <= 42; ++id) {
    MENUITEMINFOA item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_CHECKMARKS;
    ASSERT_TRUE(GetMenuItemInfoA(menu_, id, FALSE, &item));
    EXPECT_EQ(item.hbmpUnchecked, nullptr) << id;
  }
}

}  // namespace
}  // namespace vexlor
