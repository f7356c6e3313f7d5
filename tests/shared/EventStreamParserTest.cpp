#include "Shared/EventStreamParser.h"

#include <gtest/gtest.h>

#include <random>

using namespace kva;

namespace {

using TEvents = std::vector<std::pair<std::string, std::string>>;

TEvents Parse(const std::vector<std::string>& APieces, size_t AMaxLine = TEventStreamParser::DefaultMaxLineLength) {
  TEvents Events;
  TEventStreamParser Parser([&](const std::string& AEvent, const std::string& AData) { Events.emplace_back(AEvent, AData); },
                            AMaxLine);
  for (const std::string& Piece : APieces) Parser.Feed(Piece);
  return Events;
}

const std::string Put = "event: put\ndata: {\"path\":\"/\",\"data\":null}\n\n";

TEST(EventStreamParserTest, OneEventInOnePiece) {
  TEvents Events;
  TEventStreamParser Parser([&](const std::string& AEvent, const std::string& AData) { Events.emplace_back(AEvent, AData); });
  Parser.Feed(Put);
  EXPECT_EQ(Events, (TEvents{{"put", R"({"path":"/","data":null})"}}));
  EXPECT_EQ(Parser.PendingBytes(), 0u);
}

TEST(EventStreamParserTest, BytesSplitAnywhereGiveTheSameEvents) {
  const std::string Stream = Put + "event: keep-alive\r\ndata: null\r\n\r\n" + "event: patch\rdata: {\"a\":1}\r\r";
  const TEvents Expected = {{"put", R"({"path":"/","data":null})"}, {"keep-alive", "null"}, {"patch", R"({"a":1})"}};
  for (size_t Split = 0; Split <= Stream.size(); ++Split) {
    EXPECT_EQ(Parse({Stream.substr(0, Split), Stream.substr(Split)}), Expected) << "split at " << Split;
  }
  std::vector<std::string> Bytes;
  for (char C : Stream) Bytes.emplace_back(1, C);
  EXPECT_EQ(Parse(Bytes), Expected) << "byte by byte";
}

TEST(EventStreamParserTest, EveryCompleteEventOfAPieceIsDeliveredAtOnceInOrder) {
  TEvents Events;
  TEventStreamParser Parser([&](const std::string& AEvent, const std::string& AData) { Events.emplace_back(AEvent, AData); });
  Parser.Feed("event: put\ndata: 1\n\nevent: patch\ndata: 2\n\nevent: put\ndata: 3\n\nevent: pa");
  EXPECT_EQ(Events, (TEvents{{"put", "1"}, {"patch", "2"}, {"put", "3"}}));
  EXPECT_EQ(Parser.PendingBytes(), 9u);
}

TEST(EventStreamParserTest, FieldsAndValues) {
  struct TCase {
    const char* Name;
    std::string Stream;
    TEvents Expected;
  };
  const TCase Cases[] = {
      {"no blank after the colon", "event:put\ndata:{}\n\n", {{"put", "{}"}}},
      {"only one blank is removed", "event:  put\ndata:  x\n\n", {{" put", " x"}}},
      {"colons in the data", "event: put\ndata: {\"a\":\"b:c\"}\n\n", {{"put", "{\"a\":\"b:c\"}"}}},
      {"several data lines", "event: put\ndata: a\ndata: b\n\n", {{"put", "a\nb"}}},
      {"comments and other fields", ": hello\nid: 7\nevent: put\nretry: 10\ndata: x\n\n", {{"put", "x"}}},
      {"a field without a colon", "event\nevent: put\ndata\n\n", {{"put", ""}}},
      {"no event name: dropped", "data: orphan\n\nevent: put\ndata: y\n\n", {{"put", "y"}}},
      {"an empty name: dropped", "event:\ndata: z\n\n", {}},
      {"blank lines between events", "\n\n\nevent: put\ndata: 1\n\n\n\n", {{"put", "1"}}},
      {"an unfinished event", "event: put\ndata: 1\n", {}},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(Parse({Case.Stream}), Case.Expected) << Case.Name;
}

TEST(EventStreamParserTest, HugeAndMalformedInputIsSurvived) {
  // A line longer than the limit is dropped up to its end; the stream goes on after it.
  const std::string Huge(5000, 'x');
  EXPECT_EQ(Parse({"event: put\ndata: " + Huge.substr(0, 2000), Huge, Huge, "\n\nevent: put\ndata: ok\n\n"}, 4096),
            (TEvents{{"put", "ok"}}));
  std::mt19937 Random(42);
  std::string Noise(1 << 16, '\0');
  for (char& C : Noise) C = static_cast<char>(Random());
  Parse({Noise, Noise, Put});
  EXPECT_EQ(Parse({Noise, "\n\n", Put}).back(), (std::pair<std::string, std::string>{"put", R"({"path":"/","data":null})"}));
}

}  // namespace
