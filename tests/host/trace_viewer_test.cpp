// LumenkeepTrace's command line and its output lines, without Windows.
#include <gtest/gtest.h>

#include "tools/trace/format.h"
#include "tools/trace/options.h"
#include "tools/trace/output.h"

namespace {

using trace::Options;
using trace::ParseOptions;

std::string Describe(const std::vector<std::wstring>& arguments) {
  std::string out;
  for (const std::wstring& a : arguments) out += "[" + std::string(a.begin(), a.end()) + "]";
  return out;
}

TEST(TraceViewerOptions, ReadsOptionsBeforeTheProgramOrListen) {
  const struct {
    std::vector<std::wstring> arguments;
    Options expected;  // its error only said or not: see `bad`
    bool bad;
  } cases[] = {
      {{L"Lumenkeep.exe", L"-OFF"}, {}, false},
      {{L"--time", L"--only", L"[Glimmer]", L"L.exe", L"--time"},
       {.time = true, .only = L"[Glimmer]", .program = 3},
       false},
      {{L"--time", L"--only", L"[Glimmer]", L"--listen", L"60"},
       {.time = true, .only = L"[Glimmer]", .listen = true, .seconds = 60},
       false},
      {{L"--listen"}, {.listen = true}, false},
      {{L"--listen", L"86400"}, {.listen = true, .seconds = 86400}, false},
      {{L"/?"}, {.help = true}, false},
      {{L"--time", L"-h"}, {.help = true, .time = true}, false},
      {{L"--help", L"--bogus"}, {.help = true}, false},
      {{}, {}, true},
      {{L"--time"}, {.time = true}, true},
      {{L"--only"}, {}, true},
      {{L"--only", L""}, {}, true},
      {{L"--bogus", L"L.exe"}, {}, true},
      {{L"--listen", L"60", L"more"}, {.listen = true, .seconds = 60}, true},
      {{L"--only", L"a", L"--only", L"b", L"L.exe"}, {.only = L"a"}, true},
  };
  for (const auto& c : cases) {
    const Options got = ParseOptions(c.arguments);
    const std::string what = Describe(c.arguments) + " error: " + got.error;
    EXPECT_EQ(c.expected.help, got.help) << what;
    EXPECT_EQ(c.expected.time, got.time) << what;
    EXPECT_EQ(c.expected.listen, got.listen) << what;
    EXPECT_EQ(c.expected.only, got.only) << what;
    EXPECT_EQ(c.expected.seconds, got.seconds) << what;
    if (!c.bad && !c.expected.help && !c.expected.listen) {
      EXPECT_EQ(c.expected.program, got.program) << what;
    }
    EXPECT_EQ(c.bad, !got.error.empty()) << what;
  }
}

TEST(TraceViewerOptions, ListenTakesOnlyPlainDigitsFromOneTo86400) {
  for (const wchar_t* text : {L"1", L"60", L"86400", L"00001"})
    EXPECT_NE(0u, trace::ParseSeconds(text)) << "refused: " << Describe({text});
  for (const wchar_t* text : {L"0", L"86401", L" 1", L"1 ", L"+1", L"-1", L"-4294967295",
                              L"4294967297", L"\xFF11", L"1e3", L"0x10", L""})
    EXPECT_EQ(0u, trace::ParseSeconds(text)) << "taken: " << Describe({text});
}

TEST(TraceViewerOptions, FindsTheProgramAsTheRuntimeSplitsTheCommandLine) {
  struct {
    std::wstring line;
    std::size_t skip;
    std::wstring rest;
  } const cases[] = {
      {L"LumenkeepTrace.exe prog.exe -OFF", 1, L"prog.exe -OFF"},
      {L"\"Z:\\tmp\\LumenkeepTrace\".exe Z:\\tmp\\prog.exe", 1, L"Z:\\tmp\\prog.exe"},
      {L"\"C:\\a b\\LumenkeepTrace.exe\"\t  \"C:\\c d\\prog.exe\" x", 1,
       L"\"C:\\c d\\prog.exe\" x"},
      {L"v.exe --only \"a \\\"b\\\" c\" prog.exe \"x  y\"", 3, L"prog.exe \"x  y\""},
      {L"v.exe --only \"a\"\"b c\" prog.exe", 3, L"prog.exe"},
      {L"v.exe --only a\\\\\" b\" prog.exe", 3, L"prog.exe"},
      {L"v.exe --only \"a\\\" b\" prog.exe", 3, L"prog.exe"},
      {L"v.exe --time", 2, L""},
      {L"v.exe", 0, L"v.exe"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.rest, trace::CommandLineAfter(c.line, c.skip))
        << Describe({c.line}) << " after " << c.skip;
}

TEST(TraceViewerFormat, OneLineWhateverTheMessageHolds) {
  trace::Line line;
  line.message = "[Glimmer]one\nexit code: 0\r\n1234: [Glimmer]forged\x1b[2K\tend\x7f";
  EXPECT_EQ("[Glimmer]one\\nexit code: 0\\r\\n1234: [Glimmer]forged\\x1B[2K\tend\\x7F",
            trace::FormatLine(line));
  // C1 controls (U+0080 to U+009F: CSI, OSC, NEL, ...) too; other text stays.
  line.message = "\u0085line\u009B2K\u009D0;title\u0080 caf\u00e9 \u00a0\u0100";
  EXPECT_EQ("\\u0085line\\u009B2K\\u009D0;title\\u0080 caf\u00e9 \u00a0\u0100",
            trace::FormatLine(line));
  EXPECT_EQ("text", trace::StripEnd(std::string("text\r\n\0", 7)));
}

TEST(TraceViewerFormat, TimeOriginAndCut) {
  trace::Line line{.time = true, .seconds = 1.2346, .message = "[Glimmer]SetIntelADB"};
  EXPECT_EQ("1.235 [Glimmer]SetIntelADB", trace::FormatLine(line));
  line.origin = true;
  line.pid = 1234;
  line.image = "Lumenkeep.exe";
  EXPECT_EQ("1.235 1234 Lumenkeep.exe: [Glimmer]SetIntelADB", trace::FormatLine(line));
  line.time = false;
  line.cut = trace::Cut::kByViewer;
  EXPECT_EQ("1234 Lumenkeep.exe: [Glimmer]SetIntelADB (cut at 1048576 characters)",
            trace::FormatLine(line));
  line.cut = trace::Cut::kMaybeByChannel;
  EXPECT_EQ(
      "1234 Lumenkeep.exe: [Glimmer]SetIntelADB (4091 bytes, where the system-wide channel cuts "
      "longer messages)",
      trace::FormatLine(line));
}

TEST(TraceViewerFormat, CountLineSystemMessageInsertsAndA64BitProgramRefused) {
  EXPECT_EQ("caught 1 message", trace::CountLine(1, false, 1, 0));
  EXPECT_EQ("caught 0 messages, 0 shown, 2 of them dropped while the output was not read",
            trace::CountLine(0, true, 0, 2));
  EXPECT_EQ("README.txt is not a valid Win32 application; 100% README.txt%0",
            trace::FillInserts("%1 is not a valid Win32 application; 100% %12%0", "README.txt"));
  EXPECT_EQ(
      "cannot start app64.exe -STATUS: it is a 64-bit program, which this 32-bit viewer cannot "
      "watch (error 50); to see its messages, run LumenkeepTrace.exe --listen in another command "
      "prompt, then the program",
      trace::CannotWatchLine("app64.exe -STATUS", 50, true));
  EXPECT_EQ("", trace::CannotWatchLine("app.exe", 50, false)) << "a 64-bit viewer";
  EXPECT_EQ("", trace::CannotWatchLine("app.exe", 2, true)) << "another error";
}

TEST(TraceViewerFormat, ConsoleTextGoesInPiecesThatKeepSurrogatePairsWhole) {
  constexpr std::size_t N = trace::kConsolePieceUnits;  // 16 KB, well under Windows 7's 64 KB
  const std::u16string pair = u"\U0001F600";
  std::u16string pairs;
  for (std::size_t i = 0; i < N; ++i) pairs += pair;
  struct {
    const char* what;
    std::u16string text;
    std::vector<std::size_t> pieces;
  } const cases[] = {
      {"one piece's worth", std::u16string(N, u'a'), {N}},
      {"one unit more", std::u16string(N + 1, u'a'), {N, 1}},
      {"a pair across the end", std::u16string(N - 1, u'a') + pair + u"b", {N - 1, 3}},
      {"pairs after one unit", u"a" + pairs, {N - 1, N, 2}},
  };
  for (const auto& c : cases) {
    std::vector<std::size_t> pieces;
    for (std::size_t at = 0; at < c.text.size(); at += pieces.back())
      pieces.push_back(trace::ConsolePiece(c.text.data() + at, c.text.size() - at));
    EXPECT_EQ(c.pieces, pieces) << c.what;
  }
}

TEST(TraceViewerFormat, OnlyLetsThroughMessagesContainingTheText) {
  EXPECT_TRUE(trace::Shown("[Glimmer]AC mode", ""));
  EXPECT_TRUE(trace::Shown("[Glimmer]AC mode", "[Glimmer]"));
  EXPECT_TRUE(trace::Shown("x [Glimmer]", "[Glimmer]"));
  EXPECT_FALSE(trace::Shown("[glimmer]AC mode", "[Glimmer]"));
  EXPECT_FALSE(trace::Shown("", "[Glimmer]"));
}

// Takes three lines, then fails.
struct SimSink final : trace::Sink {
  std::vector<std::string> lines;
  int attempts = 0;
  bool Write(const std::string& line) override {
    if (++attempts > 3) return false;
    lines.push_back(line);
    return true;
  }
};

TEST(TraceViewerOutput, FiltersStampsAndStopsWritingOnceTheOutputFails) {
  SimSink sink;
  const Options options{.time = true, .only = L"[Glimmer]"};
  trace::Output output(sink, options);
  output.Say("said");
  for (const char* message : {"[Glimmer]a", "other", "[Glimmer]b", "[Glimmer]c", "[Glimmer]d"})
    output.Show({.message = message}, 1.5);
  EXPECT_EQ((std::vector<std::string>{"said", "1.500 [Glimmer]a", "1.500 [Glimmer]b"}), sink.lines);
  EXPECT_EQ(4, sink.attempts) << "wrote on after the output failed";
}

}  // namespace
