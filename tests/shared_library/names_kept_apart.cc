// A program that includes the header with PALOMA_NO_LEGACY_API beside the
// system's <sys/sendfile.h>, defines functions of its own named like SDK
// functions (closeport, setup), calls the C library's sendfile(2) and the C++
// runtime's file copy (which uses it), and in another part of it uses the SDK's
// own closeport and sendfile. Built twice, against the shared and the static
// library: each call reaches the function its writer meant.
#define PALOMA_NO_LEGACY_API
#include "paloma.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "names_parts.h"
#include "support/loopback_peer.h"

namespace fs = std::filesystem;

namespace {
int g_ownCloseport = 0;
}

// The application's own functions of SDK names.
extern "C" int closeport(void) {
  ++g_ownCloseport;
  return 42;
}
extern "C" int setup(void) { return 7; }

namespace {

int fail(const std::string& why) {
  std::fprintf(stderr, "names_kept_apart: %s\n", why.c_str());
  return 1;
}

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int run(const fs::path& dir) {
  std::string content;
  for (int i = 0; i < 70000; ++i) content += static_cast<char>('A' + i % 26);
  const fs::path source = dir / "source.bin";
  std::ofstream(source, std::ios::binary) << content;

  paloma::test::LoopbackPeer peer;
  if (peer.port() == 0) return fail("the loopback peer could not listen");
  if (legacyOpen(peer.port()) != 1) return fail(std::string("openethernet: ") + paloma_last_error());

  // The application's closeport and setup are its own; the SDK's connection
  // stays open.
  if (closeport() != 42 || setup() != 7 || g_ownCloseport != 1)
    return fail("the application's own closeport or setup did not run");

  // The C library's sendfile(2): file to file.
  int in = ::open(source.c_str(), O_RDONLY);
  int out = ::open((dir / "copy1.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (in < 0 || out < 0) return fail("cannot open the scratch files");
  off_t offset = 0;
  ssize_t copied = ::sendfile(out, in, &offset, content.size());
  ::close(in);
  ::close(out);
  if (copied != static_cast<ssize_t>(content.size()))
    return fail("sendfile(2) copied " + std::to_string(copied) + " bytes, not " +
                std::to_string(content.size()));
  if (readAll(dir / "copy1.bin") != content) return fail("sendfile(2) copied other bytes");

  // The C++ runtime's copy, with the SDK's connection open.
  std::error_code ec;
  if (!fs::copy_file(source, dir / "copy2.bin", ec) || ec)
    return fail("std::filesystem::copy_file failed: " + ec.message());
  if (readAll(dir / "copy2.bin") != content) return fail("copy_file copied other bytes");

  // The SDK's own sendfile and closeport, called by the part written for them.
  if (legacySendFile(source.c_str()) != 1)
    return fail(std::string("the SDK's sendfile failed: ") + paloma_last_error());
  if (legacyClose() != 1) return fail("the SDK's closeport did not close its connection");
  auto got = peer.nextClosed(5000);
  if (!got.ended) return fail("the SDK's closeport left the connection open");
  if (got.bytes.compare(0, content.size(), content) != 0)
    return fail("the printer did not get the file from the SDK's sendfile");
  if (g_ownCloseport != 1) return fail("the SDK called the application's closeport");
  // The handle API is all a PALOMA_NO_LEGACY_API program sees.
  if (std::string(paloma_status_text(0x06)) != "paper jam, paper empty")
    return fail("paloma_status_text");
  return 0;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/paloma-names.XXXXXX";
  if (!mkdtemp(tmpl)) return fail("mkdtemp failed");
  int rc = run(tmpl);
  std::error_code ec;
  fs::remove_all(tmpl, ec);
  return rc;
}
