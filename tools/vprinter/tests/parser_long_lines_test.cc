// A line too long to keep is skipped up to its own line end, whichever line
// end that is, and the commands after it in the same chunk are read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_parser.h"

namespace vprinter {
namespace {

TEST(StreamParser, ASkippedLineEndsAtItsFirstLineEnd) {
  ParserLimits limits;
  limits.maxLine = 16;
  const std::string longLine(40, 'Z');
  for (const char* end : {"\n", "\r", "\r\n"}) {
    SCOPED_TRACE(end[0] == '\n' ? "LF" : end[1] ? "CR LF" : "CR");
    std::vector<Command> out;
    StreamParser p([&](Command&& c) { out.push_back(std::move(c)); }, limits);
    const std::string in = longLine + end + "CLS\r\n" + "PRINT 1\n";
    p.feed(reinterpret_cast<const uint8_t*>(in.data()), in.size());
    p.finish();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_NE(out[0].error.find("line longer"), std::string::npos);
    EXPECT_EQ(out[1].name, "CLS");
    EXPECT_EQ(out[1].offset, longLine.size() + std::string(end).size());
    EXPECT_EQ(out[2].name, "PRINT");
  }
}

}  // namespace
}  // namespace vprinter
