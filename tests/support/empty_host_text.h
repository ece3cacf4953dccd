// Host-font calls whose text is empty, and the bytes each sends over the
// network. The Linux and the Windows integration tests both run this list on
// their own backend against a printer on 127.0.0.1, so the two backends
// cannot drift apart.
//
// An empty text measures 0 x 0 whatever the face, height, style and turn: the
// functions that draw it send a header of no width and no rows at the
// reference point, then the line end; those that refuse an empty text send
// nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "paloma.h"

namespace paloma::test {

struct EmptyTextCall {
  std::string what;
  std::function<int()> call;
  int result = 0;
  std::string bytes;  // what the printer receives
};

inline std::vector<EmptyTextCall> emptyHostTextCalls(const char* face) {
  static const paloma_wchar kEmpty[] = {0};
  static const paloma_wchar kText[] = {'A', 'B', 0};
  const std::string kNothing;
  std::vector<EmptyTextCall> calls;
  auto add = [&](std::string what, std::function<int()> call, int x, int y) {
    const std::string bytes =
        "BITMAP " + std::to_string(x) + "," + std::to_string(y) + ",0,0,1,\r\n";
    calls.push_back({std::move(what), std::move(call), 1, bytes});
  };
  for (int rotation : {0, 45, 90, 180, 270, -30}) {
    const std::string turn = " at " + std::to_string(rotation);
    add("windowsfontM" + turn,
        [=] { return windowsfontM(10, 20, 40, rotation, 0, 0, face, kEmpty); }, 10, 20);
    add("windowsfontUnicode" + turn,
        [=] { return windowsfontUnicode(30, 40, -24, rotation, 3, 1, face, kEmpty); }, 30, 40);
    add("windowsfontUnicodeLengh of an empty text" + turn,
        [=] { return windowsfontUnicodeLengh(50, 60, 0, rotation, 2, 0, face, kEmpty, 8); }, 50,
        60);
    add("windowsfontUnicodeLengh of no units" + turn,
        [=] { return windowsfontUnicodeLengh(70, 80, 32, rotation, 1, 0, face, kText, 0); }, 70,
        80);
  }
  // An empty face name as well: nothing to draw either way.
  add("windowsfontM with no face", [] { return windowsfontM(5, 6, 40, 0, 0, 0, "", kEmpty); }, 5,
      6);
  // The origin corner: nothing lies left of or above it.
  add("windowsfontM at the origin turned half",
      [=] { return windowsfontM(0, 0, 40, 180, 0, 0, face, kEmpty); }, 0, 0);
  // The 8-bit and narrowing functions refuse an empty text.
  calls.push_back({"windowsfont", [=] { return windowsfont(10, 20, 40, 0, 0, 0, face, ""); }, 0,
                   kNothing});
  calls.push_back({"windowsfontW",
                   [=] { return windowsfontW(10, 20, 40, 0, 0, 0, face, kEmpty); }, 0, kNothing});
  return calls;
}

}  // namespace paloma::test
