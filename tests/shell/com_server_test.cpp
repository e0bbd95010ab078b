// The class object and the context-menu object as COM hands them to the shell.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "library_under_test.h"
#include "shell_items.h"
#include "trace_capture.h"

namespace vexlor_test {
namespace {

using Lines = std::vector<std::string>;

const IID kSomeOtherClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

DWORD WINAPI DoNothing(void*) { return 0; }

// Runs alone in its own process (the test script filters it), so the library is fresh.
TEST(FreshLoad, UnloadableUntilTheClassObjectIsHandedOut) {
  TraceCapture traces;
  ASSERT_EQ(GetModuleHandleA(LibraryPath().c_str()), nullptr) << "library loaded before the test";
  ASSERT_NE(Library(), nullptr) << LibraryPath();
  EXPECT_EQ(traces.Take(), Lines({"DLL_PROCESS_ATTACH\n"}));

  HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(traces.Take(), Lines({"DLL_THREAD_ATTACH\n", "DLL_THREAD_DETACH\n"}));

  auto canUnload = Export<DllCanUnloadNowFn>("DllCanUnloadNow");
  EXPECT_EQ(canUnload(), S_OK);
  EXPECT_EQ(traces.Take(), Lines({"DllCanUnloadNow g_cRefThisDll = 0\n"}));

  IClassFactory* factory = nullptr;
  ASSERT_EQ(Export<DllGetClassObjectFn>("DllGetClassObject")(
                kVexlorClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->Release();
  EXPECT_EQ(canUnload(), S_FALSE);
  EXPECT_EQ(LiveObjects(traces), 1);
}

TEST(ClassObject, ResultsByClassAndInterface) {
  struct Case {
    const char* what;
    const CLSID* classId;
    const IID* interfaceId;
    HRESULT result;
  };
  const Case cases[] = {
      {"unknown class", &kSomeOtherClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
      {"IClassFactory", &kVexlorClass, &IID_IClassFactory, S_OK},
      {"IUnknown", &kVexlorClass, &IID_IUnknown, S_OK},
      {"IContextMenu of the class object", &kVexlorClass, &IID_IContextMenu, E_NOINTERFACE},
  };
  auto getClassObject = Export<DllGetClassObjectFn>("DllGetClassObject");
  for (const Case& c : cases) {
    void* object = reinterpret_cast<void*>(0x1234);
    HRESULT hr = getClassObject(*c.classId, *c.interfaceId, &object);
    EXPECT_EQ(hr, c.result) << c.what << ": 0x" << std::hex << hr;
    EXPECT_EQ(object == nullptr, FAILED(c.result)) << c.what;
    if (object != nullptr && SUCCEEDED(hr)) static_cast<IUnknown*>(object)->Release();
  }
}

TEST(ClassObject, FactoryKeepsOneReferenceAfterTheCallerReleases) {
  TraceCapture traces;
  IClassFactory* factory = nullptr;
  ASSERT_EQ(Export<DllGetClassObjectFn>("DllGetClassObject")(
                kVexlorClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(traces.Take(), Lines({"DllGetClassObject\n", "CClassFactory::CClassFactory\n",
                                  "CClassFactory::QueryInterface\n",
                                  "CClassFactory::AddRef m_cRef = 2\n",
                                  "CClassFactory::AddRef m_cRef = 3\n",
                                  "CClassFactory::Release m_cRef = 2\n"}));
  long live = LiveObjects(traces);

  EXPECT_EQ(factory->AddRef(), 3u);
  EXPECT_EQ(factory->Release(), 2u);
  EXPECT_EQ(factory->Release(), 1u);  // the caller is done; the factory stays
  EXPECT_EQ(traces.Take(), Lines({"CClassFactory::AddRef m_cRef = 3\n",
                                  "CClassFactory::Release m_cRef = 2\n",
                                  "CClassFactory::Release m_cRef = 1\n"}));
  EXPECT_EQ(LiveObjects(traces), live);
  EXPECT_EQ(Export<DllCanUnloadNowFn>("DllCanUnloadNow")(), S_FALSE);
}

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Export<DllGetClassObjectFn>("DllGetClassObject")(
                  kVexlorClass, IID_IClassFactory, reinterpret_cast<void**>(&factory_)),
              S_OK);
  }
  void TearDown() override {
    if (factory_ != nullptr) factory_->Release();
  }
  IClassFactory* factory_ = nullptr;
};

TEST_F(FactoryTest, CreateInstanceResults) {
  TraceCapture traces;
  IUnknown* outer = factory_;  // any object will do as an aggregating outer
  struct Case {
    const char* what;
    IUnknown* outer;
    const IID* interfaceId;
    HRESULT result;
  };
  const Case cases[] = {
      {"aggregation", outer, &IID_IContextMenu, CLASS_E_NOAGGREGATION},
      {"unsupported interface", nullptr, &IID_IDataObject, E_NOINTERFACE},
      {"IUnknown", nullptr, &IID_IUnknown, S_OK},
      {"IContextMenu", nullptr, &IID_IContextMenu, S_OK},
      {"IShellExtInit", nullptr, &IID_IShellExtInit, S_OK},
  };
  for (const Case& c : cases) {
    long before = LiveObjects(traces);
    void* object = reinterpret_cast<void*>(0x1234);
    HRESULT hr = factory_->CreateInstance(c.outer, *c.interfaceId, &object);
    EXPECT_EQ(hr, c.result) << c.what << ": 0x" << std::hex << hr;
    if (SUCCEEDED(hr)) {
      ASSERT_NE(object, nullptr) << c.what;
      EXPECT_EQ(LiveObjects(traces), before + 1) << c.what;
      EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u) << c.what;
    } else {
      EXPECT_EQ(object, nullptr) << c.what;
    }
    EXPECT_EQ(LiveObjects(traces), before) << c.what;
  }
}

TEST_F(FactoryTest, LockServerIsNotImplemented) {
  EXPECT_EQ(factory_->LockServer(TRUE), E_NOTIMPL);
  EXPECT_EQ(factory_->LockServer(FALSE), E_NOTIMPL);
}

TEST(ContextMenuObject, OneReferenceCountBehindBothInterfaces) {
  ComApartment com;
  TraceCapture traces;
  IContextMenu* menu = nullptr;
  ASSERT_EQ(CoCreateInstance(kVexlorClass, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                             reinterpret_cast<void**>(&menu)),
            S_OK);
  traces.Take();

  struct Case {
    const IID* interfaceId;
    const char* trace;
    HRESULT result;
  };
  const Case cases[] = {
      {&IID_IUnknown, "CContextMenu::QueryInterface  IID_IUnknown\n", S_OK},
      {&IID_IContextMenu, "CContextMenu::QueryInterface  IID_IContextMenu\n", S_OK},
      {&IID_IShellExtInit, "CContextMenu::QueryInterface  IID_IShellExtInit\n", S_OK},
      {&IID_IDataObject, "CContextMenu::QueryInterface  E_NOINTERFACE\n", E_NOINTERFACE},
  };
  void* pointers[4] = {};
  ULONG expectedCount = 1;
  for (int i = 0; i < 4; ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(menu->QueryInterface(*c.interfaceId, &pointers[i]), c.result) << c.trace;
    Lines lines = traces.Take();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], c.trace);
    if (c.result == S_OK) {
      ++expectedCount;
      EXPECT_EQ(lines, Lines({c.trace, "CContextMenu::AddRef m_cRef = " +
                                           std::to_string(expectedCount) + "\n"}));
    } else {
      EXPECT_EQ(pointers[i], nullptr);
    }
  }
  EXPECT_EQ(pointers[0], static_cast<void*>(menu));
  EXPECT_EQ(pointers[1], static_cast<void*>(menu));
  EXPECT_NE(pointers[2], static_cast<void*>(menu));

  // Every reference, through whichever interface, moves the same count.
  auto* init = static_cast<IShellExtInit*>(pointers[2]);
  EXPECT_EQ(init->AddRef(), expectedCount + 1);
  EXPECT_EQ(menu->Release(), expectedCount);
  EXPECT_EQ(init->Release(), expectedCount - 1);
  EXPECT_EQ(init->Release(), expectedCount - 2);
  EXPECT_EQ(static_cast<IUnknown*>(pointers[1])->Release(), expectedCount - 3);
  traces.Take();
  EXPECT_EQ(static_cast<IUnknown*>(pointers[0])->Release(), 0u);
  EXPECT_EQ(traces.Take(), Lines({"CContextMenu::Release m_cRef = 0\n",
                                  "CContextMenu::~CContextMenu m_cRef = 0\n"}));
}

}  // namespace
}  // namespace vexlor_test
