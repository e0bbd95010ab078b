// The menu and help texts as the shell gets them: activation through the registry, the
// system shell's data object for real files and folders, a real menu.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "library_under_test.h"
#include "shell_items.h"
#include "trace_capture.h"

namespace vexlor_test {
namespace {

bool EnvironmentFlag(const char* name, char on) {
  char value[8] = "";
  GetEnvironmentVariableA(name, value, sizeof(value));
  return value[0] == on;
}

// Set by the test script: "1" after it has stored useDefaultPassword = 1, and "1" when it has
// switched the system to Windows 98.
bool DefaultPasswordOn() { return EnvironmentFlag("VEXLOR_TEST_DEFAULT_PASSWORD", '1'); }
bool Windows9x() { return EnvironmentFlag("VEXLOR_TEST_PLATFORM", '1'); }

// An offset past the three commands: InvokeCommand answers it without doing anything.
constexpr UINT kOffsetPastTheCommands = 5;

class ShellMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoCreateInstance(kVexlorClass, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                               reinterpret_cast<void**>(&menu_)),
              S_OK);
    ASSERT_EQ(menu_->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init_)), S_OK);
    popup_ = CreatePopupMenu();
    AppendMenuA(popup_, MF_STRING, 1, "Open");
    AppendMenuA(popup_, MF_STRING, 2, "Properties");
  }
  void TearDown() override {
    DestroyMenu(popup_);
    if (init_ != nullptr) init_->Release();
    if (menu_ != nullptr) menu_->Release();
  }

  HRESULT InitializeOn(const std::vector<std::string>& names) {
    IDataObject* data = ShellDataObject(folder_.path(), names);
    if (data == nullptr) return E_FAIL;
    HRESULT hr = init_->Initialize(nullptr, data, nullptr);
    data->Release();
    return hr;
  }

  // Public for the table of calls in EachMethodWritesItsTraceLine.
 public:
  ComApartment com_;
  ScratchFolder folder_;
  IContextMenu* menu_ = nullptr;
  IShellExtInit* init_ = nullptr;
  HMENU popup_ = nullptr;
};

struct ExpectedItem {
  UINT type;  // MFT_STRING or MFT_SEPARATOR
  UINT id;
  const char* text;
  bool picture;
  bool checked;
};

void ExpectMenu(HMENU menu, const std::vector<ExpectedItem>& expected, const std::string& what) {
  ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(expected.size())) << what;
  for (UINT position = 0; position < expected.size(); ++position) {
    const ExpectedItem& e = expected[position];
    char text[64] = "";
    MENUITEMINFOA item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_CHECKMARKS | MIIM_STRING;
    item.dwTypeData = text;
    item.cch = sizeof(text);
    ASSERT_TRUE(GetMenuItemInfoA(menu, position, TRUE, &item)) << what << " " << position;
    SCOPED_TRACE(what + " position " + std::to_string(position));
    EXPECT_EQ(item.fType & MFT_SEPARATOR, e.type & MFT_SEPARATOR);
    if (e.type == MFT_SEPARATOR) continue;
    EXPECT_EQ(item.wID, e.id);
    EXPECT_STREQ(text, e.text);
    EXPECT_EQ((item.fState & MFS_CHECKED) != 0, e.checked);
    EXPECT_EQ(item.hbmpChecked, nullptr);
    if (!e.picture) {
      EXPECT_EQ(item.hbmpUnchecked, nullptr);
      continue;
    }
    BITMAP picture = {};
    ASSERT_NE(item.hbmpUnchecked, nullptr);
    ASSERT_EQ(GetObjectA(item.hbmpUnchecked, sizeof(picture), &picture), (int)sizeof(picture));
    EXPECT_EQ(picture.bmWidth, 13);
    EXPECT_EQ(picture.bmHeight, 13);
  }
}

TEST_F(ShellMenu, FiveEntriesBetweenTheShellsOwn) {
  folder_.AddFile("report.txt");
  folder_.AddFile("archive.vxl");
  folder_.AddFolder("photos");
  const std::vector<std::vector<std::string>> selections = {
      {"report.txt"}, {"photos"}, {"report.txt", "archive.vxl", "photos"}};
  for (const std::vector<std::string>& selection : selections) {
    std::string what = std::to_string(selection.size()) + " item(s) from " + selection[0];
    HMENU popup = CreatePopupMenu();
    AppendMenuA(popup, MF_STRING, 1, "Open");
    AppendMenuA(popup, MF_STRING, 2, "Properties");
    ASSERT_EQ(InitializeOn(selection), S_OK) << what;
    HRESULT hr = menu_->QueryContextMenu(popup, 1, 100, 199, CMF_NORMAL);
    EXPECT_EQ(hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3)) << what;
    // The Config item shows its picture only while unchecked.
    bool checked = DefaultPasswordOn();
    ExpectMenu(popup,
               {{MFT_STRING, 1, "Open", false, false},
                {MFT_SEPARATOR, 0, "", false, false},
                {MFT_STRING, 100, "&Encrypt", true, false},
                {MFT_STRING, 101, "&Decrypt", true, false},
                {MFT_STRING, 102, "&Config Vexlor", true, checked},
                {MFT_SEPARATOR, 0, "", false, false},
                {MFT_STRING, 2, "Properties", false, false}},
               what);
    DestroyMenu(popup);
  }
}

TEST_F(ShellMenu, DefaultOnlyAddsNothing) {
  folder_.AddFile("report.txt");
  ASSERT_EQ(InitializeOn({"report.txt"}), S_OK);
  for (UINT flags : {UINT{CMF_DEFAULTONLY}, UINT{CMF_DEFAULTONLY | CMF_EXPLORE}}) {
    EXPECT_EQ(menu_->QueryContextMenu(popup_, 1, 100, 199, flags), S_OK) << flags;
    EXPECT_EQ(GetMenuItemCount(popup_), 2) << flags;
  }
}

TEST_F(ShellMenu, EachMethodWritesItsTraceLine) {
  folder_.AddFile("report.txt");
  IDataObject* data = ShellDataObject(folder_.path(), {"report.txt"});
  ASSERT_NE(data, nullptr);
  CMINVOKECOMMANDINFO invoke = {};
  invoke.cbSize = sizeof(invoke);
  invoke.lpVerb = MAKEINTRESOURCEA(kOffsetPastTheCommands);
  char help[128];  // room for 64 UTF-16 characters

  TraceCapture traces;
  struct Case {
    const char* line;
    HRESULT result;
    HRESULT (*call)(ShellMenu*, IDataObject*, CMINVOKECOMMANDINFO*, char*);
  };
  const Case cases[] = {
      {"CContextMenu::Initialize\n", S_OK,
       [](ShellMenu* t, IDataObject* d, CMINVOKECOMMANDINFO*, char*) {
         return t->init_->Initialize(nullptr, d, nullptr);
       }},
      {"CContextMenu::QueryContextMenu\n", MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3),
       [](ShellMenu* t, IDataObject*, CMINVOKECOMMANDINFO*, char*) {
         return t->menu_->QueryContextMenu(t->popup_, 0, 100, 199, CMF_NORMAL);
       }},
      {"CContextMenu::GetCommandString\n", S_OK,
       [](ShellMenu* t, IDataObject*, CMINVOKECOMMANDINFO*, char* h) {
         return t->menu_->GetCommandString(0, GCS_HELPTEXTA, nullptr, h, 64);
       }},
      {"CContextMenu::InvokeCommand\n", S_OK,
       [](ShellMenu* t, IDataObject*, CMINVOKECOMMANDINFO* i, char*) {
         return t->menu_->InvokeCommand(i);
       }},
  };
  for (const Case& c : cases) {
    traces.Take();
    EXPECT_EQ(c.call(this, data, &invoke, help), c.result) << c.line;
    std::vector<std::string> lines = traces.Take();
    ASSERT_FALSE(lines.empty()) << c.line;
    EXPECT_EQ(lines[0], c.line);
  }
  data->Release();
}

const UINT kAssociationsChanged = WM_APP + 7;
LONG g_notifiedEvents = 0;

// The shell may send the notification (straight to this procedure) or post it.
LRESULT CALLBACK NotificationWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kAssociationsChanged) return DefWindowProcA(window, message, wParam, lParam);
  LONG event = 0;
  PIDLIST_ABSOLUTE* items = nullptr;
  HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam),
                                          static_cast<DWORD>(lParam), &items, &event);
  g_notifiedEvents |= event;
  if (lock != nullptr) SHChangeNotification_Unlock(lock);
  return 0;
}

TEST(FileAssociations, UpdateFileExtensionNotifiesTheShell) {
  ComApartment com;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = NotificationWindow;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VexlorTestNotifications";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                              windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr) << "error " << GetLastError();
  SHChangeNotifyEntry entry = {nullptr, TRUE};
  ULONG registration = SHChangeNotifyRegister(window, SHCNRF_ShellLevel | SHCNRF_NewDelivery,
                                              SHCNE_ASSOCCHANGED, kAssociationsChanged, 1, &entry);
  ASSERT_NE(registration, 0u);

  g_notifiedEvents = 0;
  Export<void(WINAPI*)()>("UpdateFileExtension")();
  for (int i = 0; i < 50 && g_notifiedEvents == 0; ++i) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    if (g_notifiedEvents == 0) Sleep(20);
  }
  EXPECT_EQ(g_notifiedEvents, SHCNE_ASSOCCHANGED);
  SHChangeNotifyDeregister(registration);
  DestroyWindow(window);
}

// Help texts come in the platform's character set, whichever the request names.
class HelpText : public ShellMenu {
 protected:
  // Asks for the help text of `command` into a buffer of `length` characters that is filled
  // with 0x7E bytes beforehand; returns all 128 bytes of the buffer.
  std::vector<char> Ask(UINT_PTR command, UINT requestType, UINT length) {
    std::vector<char> buffer(128, 0x7E);
    EXPECT_EQ(menu_->GetCommandString(command, requestType, nullptr, buffer.data(), length), S_OK);
    return buffer;
  }
  // What a buffer holds after receiving `text` cut to `length` characters.
  static std::vector<char> Filled(const std::string& text, UINT length) {
    std::vector<char> buffer(128, 0x7E);
    std::string cut = text.substr(0, length - 1);
    if (Windows9x()) {
      std::memcpy(buffer.data(), cut.c_str(), cut.size() + 1);
    } else {
      for (size_t i = 0; i <= cut.size(); ++i) {
        buffer[2 * i] = i < cut.size() ? cut[i] : 0;
        buffer[2 * i + 1] = 0;
      }
    }
    return buffer;
  }
};

TEST_F(HelpText, FollowsThePlatformNotTheRequest) {
  struct Case {
    UINT_PTR command;
    const char* text;
  };
  const Case cases[] = {{0, "encrypt the selected files and folders"},
                        {1, "decrypt the selected files and folders"},
                        {2, "config default settings"}};
  for (const Case& c : cases) {
    for (UINT request : {UINT{GCS_HELPTEXTA}, UINT{GCS_HELPTEXTW}}) {
      EXPECT_EQ(Ask(c.command, request, 39), Filled(c.text, 39))
          << "offset " << c.command << " request " << request
          << (Windows9x() ? " (ANSI expected)" : " (UTF-16 expected)");
    }
  }
}

TEST_F(HelpText, OtherRequestsAndOffsetsWriteNothing) {
  const std::vector<char> untouched(128, 0x7E);
  struct Case {
    UINT_PTR command;
    UINT request;
  };
  const Case cases[] = {{0, GCS_VERBA}, {1, GCS_VERBW}, {0, GCS_VALIDATEA}, {2, GCS_VALIDATEW},
                        {3, GCS_HELPTEXTA}, {3, GCS_HELPTEXTW}, {0x10000, GCS_HELPTEXTW}};
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(c.command, c.request, 64), untouched)
        << "offset " << c.command << " request " << c.request;
  }
}

TEST_F(HelpText, StaysInsideTheCallersBuffer) {
  const std::vector<char> untouched(128, 0x7E);
  for (UINT request : {UINT{GCS_HELPTEXTA}, UINT{GCS_HELPTEXTW}}) {
    EXPECT_EQ(Ask(1, request, 8), Filled("decrypt the selected files and folders", 8)) << request;
    EXPECT_EQ(Ask(1, request, 1), Filled("", 1)) << request;
    EXPECT_EQ(Ask(1, request, 0), untouched) << request;
  }
}

}  // namespace
}  // namespace vexlor_test
