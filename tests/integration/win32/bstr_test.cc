// The vb6 results on Windows are OLE Automation strings: the system's
// SysStringByteLen gives their byte length, the bytes are the reply's
// unwidened, and paloma_bstr_free hands the block back to the task allocator
// (watched with a malloc spy, with the string cache turned off so that a
// released string reaches the allocator at once).
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peer.h"
// After windows.h (peer.h).
#include <objidl.h>
#include <oleauto.h>

#include "paloma.h"

namespace paloma::test {
namespace {

// Records every block the task allocator hands out or takes back.
class AllocationSpy final : public IMallocSpy {
 public:
  std::vector<void*> allocated() {
    std::lock_guard<std::mutex> lock(mutex_);
    return allocated_;
  }
  std::vector<void*> freed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return freed_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    allocated_.clear();
    freed_.clear();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IMallocSpy))) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // lives as long as the process
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cb) override { return cb; }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
    if (actual) {
      std::lock_guard<std::mutex> lock(mutex_);
      allocated_.push_back(actual);
    }
    return actual;
  }
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
    if (request) {
      std::lock_guard<std::mutex> lock(mutex_);
      freed_.push_back(request);
    }
    return request;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T cb, void** newRequest, BOOL) override {
    *newRequest = request;
    return cb;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cb, BOOL) override { return cb; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  std::mutex mutex_;
  std::vector<void*> allocated_;
  std::vector<void*> freed_;
};

using RegisterSpy = HRESULT(WINAPI*)(IMallocSpy*);
using RevokeSpy = HRESULT(WINAPI*)();
using NoCache = void(WINAPI*)();

template <typename F>
F procOf(HMODULE m, const char* name) {
  return m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

class Win32Bstr : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ole32_ = LoadLibraryA("ole32.dll");
    // Without the cache, SysFreeString gives every block back to the
    // allocator at once.
    auto noCache = procOf<NoCache>(GetModuleHandleA("oleaut32.dll"), "SetOaNoCache");
    if (noCache) noCache();
    cacheOff_ = noCache != nullptr;
    auto reg = procOf<RegisterSpy>(ole32_, "CoRegisterMallocSpy");
    spying_ = reg && reg(spy()) == S_OK;
  }
  static void TearDownTestSuite() {
    auto revoke = procOf<RevokeSpy>(ole32_, "CoRevokeMallocSpy");
    if (spying_ && revoke) revoke();  // deferred by the system while spied blocks live
    spying_ = false;
    // ole32 stays loaded: the spy may still be called until it is revoked.
  }
  void SetUp() override {
    ASSERT_TRUE(cacheOff_) << "oleaut32 has no SetOaNoCache";
    ASSERT_TRUE(spying_) << "CoRegisterMallocSpy failed";
  }
  void TearDown() override {
    while (closeport() == 1) {
    }
  }

  static AllocationSpy* spy() {
    static AllocationSpy* s = new AllocationSpy;  // never destroyed: the system holds it
    return s;
  }

  // Checks that `s` holds exactly `bytes`, as the system reads it, and that
  // paloma_bstr_free hands its block back to the task allocator.
  void expectStringAndRelease(paloma_bstr s, const std::string& bytes) {
    ASSERT_NE(s, nullptr);
    BSTR b = reinterpret_cast<BSTR>(s);
    EXPECT_EQ(SysStringByteLen(b), bytes.size());
    EXPECT_EQ(paloma_bstr_bytelen(s), bytes.size());
    EXPECT_EQ(std::string(s, bytes.size()), bytes);
    EXPECT_EQ(s[bytes.size()], '\0');
    EXPECT_EQ(s[bytes.size() + 1], '\0');

    // The block the allocator handed out for it: the one just in front of
    // the text (its length prefix).
    void* block = nullptr;
    for (void* p : spy()->allocated()) {
      auto* start = static_cast<char*>(p);
      if (start < s && s - start <= 16) block = p;
    }
    ASSERT_NE(block, nullptr) << "the string does not come from the task allocator";
    paloma_bstr_free(s);
    bool released = false;
    for (void* p : spy()->freed()) released = released || p == block;
    EXPECT_TRUE(released) << "paloma_bstr_free did not release the block";
  }

  static HMODULE ole32_;
  static bool cacheOff_;
  static bool spying_;
  WinsockScope winsock_;
};

HMODULE Win32Bstr::ole32_ = nullptr;
bool Win32Bstr::cacheOff_ = false;
bool Win32Bstr::spying_ = false;

TEST_F(Win32Bstr, RfidDataIsAnAutomationStringOfTheReplyBytes) {
  LoopbackListener listener;
  ASSERT_EQ(openethernet("127.0.0.1", listener.port()), 1);
  PeerSocket printer(listener.accept(2000));
  ASSERT_TRUE(printer.valid());

  // The printer answers the empty request and the marker request (19 bytes
  // with their line end and NULs) with the data, then the marker.
  const std::string data = "E2\xE9\xFF" "0034\r\n";
  std::string request;
  std::thread answer([&] {
    request = printer.readAtLeast(19, 2000);
    printer.sendBytes(data + "ENDLINE\r\n");
  });
  spy()->clear();
  paloma_bstr s = rfidGetReadDatavb6();
  answer.join();
  EXPECT_EQ(request, std::string("\r\n\0OUT \"ENDLINE\"\r\n\0", 19));
  expectStringAndRelease(s, data);
}

TEST_F(Win32Bstr, FailureAndEmptyResultsAreAutomationStringsToo) {
  spy()->clear();
  expectStringAndRelease(usbprinternamevb6(), "-1");  // no USB printer here
  spy()->clear();
  expectStringAndRelease(rfidGetReadDatavb6(), "");   // no reading transport
  paloma_bstr_free(nullptr);
}

}  // namespace
}  // namespace paloma::test
