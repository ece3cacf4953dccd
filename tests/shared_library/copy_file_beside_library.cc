// An application that talks to a printer and then copies a file with the C++
// runtime: the runtime's copy goes through the C library's sendfile(2), which
// must stay the C library's even though the SDK exports a function of that
// name. The copy is byte-exact and the process ends normally.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

#include "paloma.h"
#include "support/loopback_peer.h"

namespace fs = std::filesystem;

namespace {

int fail(const std::string& why) {
  std::fprintf(stderr, "copy_file_beside_library: %s\n", why.c_str());
  return 1;
}

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int run(const fs::path& dir) {
  paloma::test::LoopbackPeer peer;
  if (peer.port() == 0) return fail("the loopback peer could not listen");
  if (openethernet("127.0.0.1", peer.port()) != 1)
    return fail(std::string("openethernet failed: ") + paloma_last_error());
  if (sendcommand("CLS") != 1) return fail("sendcommand failed");
  if (!peer.waitReceived(5, 5000)) return fail("the peer did not get the command");

  // 10 MB of bytes that are not all alike, so a copy that loses or moves a
  // block shows.
  std::string content(10u * 1024u * 1024u, '\0');
  std::mt19937 gen(13);
  for (char& c : content) c = static_cast<char>(gen() & 0xFF);
  const fs::path from = dir / "from.bin", to = dir / "to.bin";
  {
    std::ofstream out(from, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) return fail("could not write the source file");
  }
  std::error_code ec;
  if (!fs::copy_file(from, to, ec)) return fail("copy_file failed: " + ec.message());
  if (readAll(to) != content) return fail("the copy differs from its source");

  closeethernetport(0);
  return 0;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/paloma-copy-XXXXXX";
  if (!mkdtemp(tmpl)) return fail("no temporary folder");
  const fs::path dir(tmpl);
  int rc = run(dir);
  std::error_code ec;
  fs::remove_all(dir, ec);  // the folder this program made
  return rc;
}
