// The JSON lines' encoding: names in any encoding never end a run, numbers read as scripts expect,
// and the fields keep their order.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cli/Json.h"
#include "cli/Report.h"

namespace klarwell {
namespace {

TEST(JsonTest, NamesAreEscapedAndBytesThatAreNotUtf8BecomeReplacementCharacters) {
  // A strict encoder throws on the Latin-1 names of old archives; a lax one passes a lone surrogate
  // through and the line is no longer valid UTF-8 for the script that reads it.
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string name, quoted;
  } cases[] = {
      {"Seite \xC3\xA4.wav", "\"Seite \xC3\xA4.wav\""},
      {"a \"b\" \\c", "\"a \\\"b\\\" \\\\c\""},
      {"t\tn\n\x01", "\"t\\tn\\n\\u0001\""},
      {"\xE4.wav", "\"" + fffd + ".wav\""},                // Latin-1
      {"\xC3(", "\"" + fffd + "(\""},                      // a sequence cut short
      {"\xED\xA0\x80", "\"" + fffd + fffd + fffd + "\""},  // a surrogate
  };
  for (const Case& c : cases) EXPECT_EQ(cli::JsonQuote(c.name), c.quoted) << c.name;
}

TEST(JsonTest, NumbersAreWrittenAsBeforeAndFieldsKeepTheirOrder) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {{0.0, "0"}, {3.0, "3"}, {1.25, "1.25"}, {0.001, "0.001"}, {4321.5, "4321.5"},
               {std::nan(""), "null"}, {std::numeric_limits<double>::infinity(), "null"}};
  for (const Case& c : cases) EXPECT_EQ(cli::JsonDump(cli::JsonNumber(c.value)), c.text) << c.value;

  EXPECT_EQ(cli::JsonLine("a.wav", cli::TOutcome{}),
            "{\"file\":\"a.wav\",\"output\":null,\"ok\":false,\"code\":\"not_started\","
            "\"status\":\"not started\",\"reason\":null,\"warnings\":[],\"container\":null,\"format\":\"\","
            "\"length\":\"\",\"sample_rate\":0,"
            "\"channels\":0,\"bits_per_sample\":0,\"format_kind\":null,\"frames\":0,\"clicks\":0,"
            "\"clicks_per_sec\":0,\"seconds\":0,\"blocks\":[],\"repairs\":[]}");
}

}  // namespace
}  // namespace klarwell
