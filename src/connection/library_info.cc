// The library-information functions; they touch no connection.
#include <string>

#include "connection/text_convert.h"
#include "paloma.h"
#include "platform/os.h"
#include "platform/api_lock.h"

using namespace paloma;

extern "C" {

int about(void) {
  paloma::ApiLock lock;
  os().message("Windows DLL Version V1.0.0.2", "DLL Version", MessageIcon::Information);
  return 1;
}

const char* dllversion(void) { paloma::ApiLock lock; return "1.00"; }

int showunicode(const paloma_wchar* text, int count) {
  paloma::ApiLock lock;
  static constexpr int kUnits = 1024;
  std::u16string shown;
  if (text) {
    // Copy at most `count` units, stopping at the text's NUL; 1023 keep the
    // buffer terminated.
    int limit = count < kUnits - 1 ? count : kUnits - 1;
    for (int i = 0; i < limit && text[i] != 0; ++i) shown.push_back(static_cast<char16_t>(text[i]));
  }
  os().message(utf16ToUtf8(shown), "", MessageIcon::None);
  return 1;
}

const char* testthread(void) {
  paloma::ApiLock lock;
  static const char kText[] = "PALOMA runs on the caller's thread";
  os().message(kText, "", MessageIcon::None);
  return kText;
}

}  // extern "C"

const paloma_wchar* muta1() {
  paloma::ApiLock lock;
  static const paloma_wchar kText[] = {static_cast<paloma_wchar>(0x57D7), 0};
  return kText;
}
