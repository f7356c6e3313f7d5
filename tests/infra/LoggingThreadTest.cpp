#include "infra/LoggingThread.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

#include "TestUtil.h"
#include "platform/Process.h"

using namespace kva;
using kva::test::ReadFileBytes;
using kva::test::WaitUntil;

namespace {

std::vector<std::string> SplitCrLf(const std::string& AText) {
  std::vector<std::string> Lines;
  size_t Start = 0;
  for (size_t End; (End = AText.find("\r\n", Start)) != std::string::npos; Start = End + 2) {
    Lines.push_back(AText.substr(Start, End - Start));
  }
  EXPECT_EQ(Start, AText.size()) << "every line, the last one too, ends with CR LF";
  return Lines;
}

class LoggingThreadTest : public ::testing::Test {
protected:
  std::string FileText(const std::string& AName) { return ReadFileBytes(Dir.File(AName)); }
  bool FileHas(const std::string& AName, const std::string& AText) {
    return WaitUntil([&] { return FileText(AName).find(AText) != std::string::npos; });
  }

  kva::test::TTempDir Dir;
};

TEST_F(LoggingThreadTest, LineFormatTimeThreadComponentAndText) {
  TLoggingThread Logger;
  Logger.SaveToFile(Dir.File("a.txt"));
  Logger.Log("TfrmKvaAgent3", "Started v3.0.0.0");
  Logger.Log("Multi", "two\r\nlines");
  ASSERT_TRUE(FileHas("a.txt", "lines\r\n"));
  const auto Lines = SplitCrLf(FileText("a.txt"));
  ASSERT_EQ(Lines.size(), 3u);
  const std::regex Format(R"((\d\d):(\d\d):(\d\d)\.(\d\d\d) T(\d+) TfrmKvaAgent3: Started v3\.0\.0\.0)");
  std::smatch Match;
  ASSERT_TRUE(std::regex_match(Lines[0], Match, Format)) << Lines[0];
  EXPECT_LT(std::stoi(Match[1]), 24);
  EXPECT_EQ(std::stoi(Match[5]), CurrentThreadId());
  EXPECT_EQ(Lines[1].substr(12), " T" + std::to_string(CurrentThreadId()) + " Multi: two");
  EXPECT_EQ(Lines[2], "lines");
}

TEST_F(LoggingThreadTest, LinesWaitForAFileAndReachTheNextOneOpened) {
  TLoggingThread Logger;
  Logger.Log("A", "before any file");
  Logger.SaveToFile(Dir.File("first.txt"));
  Logger.Log("A", "in first");
  ASSERT_TRUE(FileHas("first.txt", "in first"));

  Logger.SaveToFile("");  // no file: lines pile up
  Logger.Log("A", "pending 1");
  Logger.Log("A", "pending 2");
  Logger.FlushLogLines();  // nothing to write to: the lines stay
  test::WriteFileBytes(Dir.File("second.txt"), "old content that must go\r\n");
  Logger.SaveToFile(Dir.File("second.txt"));
  Logger.Log("A", "in second");
  ASSERT_TRUE(FileHas("second.txt", "in second"));

  const auto First = SplitCrLf(FileText("first.txt"));
  ASSERT_EQ(First.size(), 2u);
  EXPECT_NE(First[0].find("A: before any file"), std::string::npos) << "lines logged before the file come first";
  const auto Second = SplitCrLf(FileText("second.txt"));
  ASSERT_EQ(Second.size(), 3u) << "an existing file is emptied";
  EXPECT_NE(Second[0].find("A: pending 1"), std::string::npos);
  EXPECT_NE(Second[1].find("A: pending 2"), std::string::npos);
}

TEST_F(LoggingThreadTest, EachThreadWritesItsOwnKernelThreadId) {
  TLoggingThread Logger;
  Logger.SaveToFile(Dir.File("ids.txt"));
  int OtherId = 0;
  std::thread([&] {
    OtherId = CurrentThreadId();
    Logger.Log("Other", "x");
  }).join();
  Logger.Log("Main", "y");
  ASSERT_TRUE(FileHas("ids.txt", "Main: y"));
  const std::string Text = FileText("ids.txt");
  EXPECT_NE(OtherId, CurrentThreadId());
  EXPECT_NE(Text.find(" T" + std::to_string(OtherId) + " Other: x"), std::string::npos);
  EXPECT_NE(Text.find(" T" + std::to_string(CurrentThreadId()) + " Main: y"), std::string::npos);
}

TEST_F(LoggingThreadTest, NothingIsLostWhenManyThreadsLogUpToTheEnd) {
  // The lines logged after the thread's last flush are written at destruction too.
  constexpr int Threads = 4, LinesPerThread = 5000;
  {
    TLoggingThread Logger;
    Logger.SaveToFile(Dir.File("many.txt"));
    std::vector<std::thread> Loggers;
    for (int T = 0; T < Threads; ++T) {
      Loggers.emplace_back([&, T] {
        for (int I = 0; I < LinesPerThread; ++I) Logger.Log("T" + std::to_string(T), std::to_string(I));
      });
    }
    for (auto& Thread : Loggers) Thread.join();
  }
  const auto Lines = SplitCrLf(FileText("many.txt"));
  ASSERT_EQ(Lines.size(), size_t{Threads * LinesPerThread});
  std::vector<int> Next(Threads, 0);
  for (const std::string& Line : Lines) {
    const size_t Colon = Line.find(": ", 12);
    const size_t Blank = Line.rfind(' ', Colon);
    const int Thread = std::stoi(Line.substr(Blank + 2, Colon - Blank - 2));
    EXPECT_EQ(std::stoi(Line.substr(Colon + 2)), Next[Thread]++) << "each thread's lines stay in order";
  }
}

TEST_F(LoggingThreadTest, AFileThatCannotBeCreatedRaisesAndTheLinesStayPending) {
  TLoggingThread Logger;
  Logger.Log("A", "kept");
  EXPECT_THROW(Logger.SaveToFile(Dir.File("no/such/dir/log.txt")), std::system_error);
  Logger.SaveToFile(Dir.File("later.txt"));
  EXPECT_TRUE(FileHas("later.txt", "A: kept"));
}

TEST_F(LoggingThreadTest, StartupLineComesFirstInATimeNamedFile) {
  test::TWorkingDirectory InDir(Dir.Path());
  StartupLog();
  Log("TfrmKvaAgent3", "Started");
  FreeLoggingThread();

  std::vector<std::string> Names;
  for (const auto& Entry : std::filesystem::directory_iterator(Dir.Path())) {
    Names.push_back(Entry.path().filename().string());
  }
  ASSERT_EQ(Names.size(), 1u);
  EXPECT_TRUE(std::regex_match(Names[0], std::regex(R"(log_20\d{6}_\d{9}\.txt)"))) << Names[0];
  const auto Lines = SplitCrLf(FileText(Names[0]));
  ASSERT_EQ(Lines.size(), 2u);
  const std::regex Startup(R"(\d\d:\d\d:\d\d\.\d{3} T\d+ Startup (.*): (\d{4})\.(\d\d)\.(\d\d) \d\d:\d\d:\d\d\.\d{3})");
  std::smatch Match;
  ASSERT_TRUE(std::regex_match(Lines[0], Match, Startup)) << Lines[0];
  EXPECT_EQ(Match[1], ExecutablePath());
  EXPECT_EQ(Names[0].substr(4, 8), std::string(Match[2]) + std::string(Match[3]) + std::string(Match[4]));
}

}  // namespace
