#include "base/diagnostic_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(DiagnosticTrace, EventsRoundTripWithAnyBytes) {
  const std::string awkward("a:b\n12:\0x\xff", 10);
  const std::vector<std::vector<std::string>> cases = {
      {}, {""}, {"Expanding files..."}, {"123", "Error", awkward, "1", "OK"}, {std::string(70000, 'p')}};
  for (const auto& fields : cases) {
    std::string kind, message = encodeTraceEvent("dialog", fields);
    std::vector<std::string> back;
    ASSERT_TRUE(decodeTraceEvent(message, kind, back)) << message.substr(0, 40);
    EXPECT_EQ(kind, "dialog");
    EXPECT_EQ(back, fields);
  }
}

TEST(DiagnosticTrace, MalformedMessagesAreRefused) {
  for (const std::string& bad : {std::string(), std::string("status"), std::string("6:status5:abc"),
                                 std::string(":x"), std::string("6status"), std::string("99999999999:x"),
                                 std::string("6:status-1:x")}) {
    std::string kind;
    std::vector<std::string> fields;
    EXPECT_FALSE(decodeTraceEvent(bad, kind, fields)) << bad;
  }
}

}  // namespace
