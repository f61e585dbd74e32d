// The command line: argument splitting, the switch grammar, the installer's variable, and damaged
// lines.
#include "driver/cmdline.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "base/convert.h"
#include "guarded.h"

namespace {

std::vector<std::wstring> SplitAll(const wchar_t* text, unsigned capacity = kArgumentSize) {
  std::vector<std::wstring> parts;
  std::vector<wchar_t> argument(capacity + 1);
  while ((text = NextArgument(text, argument.data(), capacity)) != nullptr)
    parts.emplace_back(argument.data());
  return parts;
}

using Parts = std::vector<std::wstring>;

}  // namespace

TEST(NextArgument, SplitsOnSpacesAndTabsAndEndsWithNone) {
  EXPECT_EQ(SplitAll(L"  a\tb  \t c "), (Parts{L"a", L"b", L"c"}));
  wchar_t argument[8] = L"junk";
  EXPECT_EQ(NextArgument(L" \t  ", argument, 8), nullptr);
  EXPECT_EQ(NextArgument(L"", argument, 8), nullptr);
}

TEST(NextArgument, QuotedBlanksStayInOneArgumentAndTheQuotesGo) {
  EXPECT_EQ(SplitAll(L"\"C:\\Program Files\\Ombrix\\uninstall.exe\" /S"),
            (Parts{L"C:\\Program Files\\Ombrix\\uninstall.exe", L"/S"}));
  EXPECT_EQ(SplitAll(L"a\"b c\"d e"), (Parts{L"ab cd", L"e"}));
  EXPECT_EQ(SplitAll(L"\"a b"), (Parts{L"a b"}));  // an unclosed quote runs to the end
}

TEST(NextArgument, DoubledQuoteGivesOneLiteralQuoteAndKeepsTheQuotedState) {
  EXPECT_EQ(SplitAll(L"a\"\"b"), (Parts{L"a\"b"}));
  EXPECT_EQ(SplitAll(L"\"x \"\" y\" z"), (Parts{L"x \" y", L"z"}));
  EXPECT_EQ(SplitAll(L"\"\"\"\" q"), (Parts{L"\"\"", L"q"}));
}

TEST(NextArgument, OverlongArgumentIsCutTerminatedAndSkippedWhole) {
  wchar_t argument[8];
  wmemset(argument, L'#', 8);
  const wchar_t* text = L"abcdefg h";
  const wchar_t* next = NextArgument(text, argument, 4);
  EXPECT_STREQ(argument, L"abc");
  EXPECT_EQ(argument[4], L'#');  // nothing written past the capacity
  EXPECT_EQ(next, text + 7);     // at the blank after the argument
  EXPECT_EQ(SplitAll(text, 4), (Parts{L"abc", L"h"}));
}

class ParseSwitchesTest : public ::testing::Test {
 protected:
  void Parse(const wchar_t* text, bool fromEnvironment = false) {
    ParseSwitches(fromEnvironment, text, line);
  }
  // A fresh line with the program path in front, as GetCommandLineW gives it.
  void ParseFresh(const std::wstring& switches) {
    line = CommandLine{};
    Parse((L"\"C:\\Program Files\\Ombrix\\uninstall.exe\" " + switches).c_str());
  }

  CommandLine line;
};

TEST_F(ParseSwitchesTest, NoSwitchRequestsUninstallOnlyOnTheCommandLine) {
  Parse(L"");
  EXPECT_TRUE(line.uninstall);
  ParseFresh(L"readme.txt S");  // arguments without a switch character do not count
  EXPECT_TRUE(line.uninstall);
  EXPECT_FALSE(line.setup);
  EXPECT_FALSE(line.silent);

  line = CommandLine{};
  Parse(L"", true);
  EXPECT_FALSE(line.uninstall);
}

TEST_F(ParseSwitchesTest, SilentSwitchFormsSetSilentAndStillUninstall) {
  for (const wchar_t* form : {L"/S", L"-s", L"/S1", L"/s:", L"/S-", L"\"/S\""}) {
    ParseFresh(form);
    EXPECT_TRUE(line.silent) << form;
    EXPECT_TRUE(line.uninstall) << form;
  }
}

TEST_F(ParseSwitchesTest, SwitchesThatOnlyStartWithSAreNotSilentAndMakeTheLineInvalid) {
  for (const wchar_t* form : {L"/Sx", L"/silentx", L"/set", L"/", L"-", L"/unknown", L"/logx",
                              L"/qnx", L"/norestarts", L"/??", L"/helpme"}) {
    ParseFresh(form);
    EXPECT_FALSE(line.silent) << form;
    EXPECT_FALSE(line.uninstall) << form;
    EXPECT_FALSE(line.setup) << form;
    EXPECT_TRUE(line.invalid) << form;
  }
}

// What deployment systems pass by habit: other installers' silent switches, "/norestart" and
// "/log" leave the uninstallation as it is; help rules it out.
TEST_F(ParseSwitchesTest, DeploymentSwitchesAreUnderstood) {
  struct Case {
    const wchar_t* switches;
    bool uninstall, silent, help, log;
    const wchar_t* logPath;
  };
  const Case cases[] = {
      {L"/quiet", true, true, false, false, L""},
      {L"/SILENT /norestart", true, true, false, false, L""},
      {L"/verysilent", true, true, false, false, L""},
      {L"/qn /log", true, true, false, true, L""},
      {L"/S \"/log=C:\\my logs\\run.txt\"", true, true, false, true, L"C:\\my logs\\run.txt"},
      {L"/setup /LOG=x.txt", false, false, false, true, L"x.txt"},
      {L"/?", false, false, true, false, L""},
      {L"-Help /S", false, true, true, false, L""},
  };
  for (const Case& c : cases) {
    ParseFresh(c.switches);
    EXPECT_EQ(line.uninstall, c.uninstall) << c.switches;
    EXPECT_EQ(line.silent, c.silent) << c.switches;
    EXPECT_EQ(line.help, c.help) << c.switches;
    EXPECT_EQ(line.log, c.log) << c.switches;
    EXPECT_STREQ(line.logPath, c.logPath) << c.switches;
    EXPECT_FALSE(line.invalid) << c.switches;
  }
  // Only the silent ones count from the installer's variable.
  line = CommandLine{};
  Parse(L"/quiet /log /?", true);
  EXPECT_TRUE(line.silent);
  EXPECT_FALSE(line.log || line.help);
}

TEST_F(ParseSwitchesTest, SetupSwitchIgnoresCaseAndTrailingText) {
  for (const wchar_t* form : {L"/setup", L"-SETUP", L"/Setup", L"/setupnow"}) {
    ParseFresh(form);
    EXPECT_TRUE(line.setup) << form;
    EXPECT_FALSE(line.uninstall) << form;
  }
}

TEST_F(ParseSwitchesTest, ModeFlagsNeedTheirComparedPrefix) {
  ParseFresh(L"/msi /noex");
  EXPECT_TRUE(line.msiMode);
  EXPECT_TRUE(line.noExplorer);
  ParseFresh(L"-NoExplorer");
  EXPECT_TRUE(line.noExplorer);
  ParseFresh(L"/ms /noe /wai /warn");
  EXPECT_FALSE(line.msiMode);
  EXPECT_FALSE(line.noExplorer);
  EXPECT_FALSE(line.uninstall);
}

// An MSI package takes the integration back with "/msi"; any other switch still rules it out.
TEST_F(ParseSwitchesTest, MsiSwitchAloneOrSilentRequestsTheMsiUninstallation) {
  struct Case {
    const wchar_t* switches;
    bool uninstall, setup, silent;
  };
  const Case cases[] = {
      {L"/msi", true, false, false},        {L"/S /MSI", true, false, true},
      {L"-msi -s", true, false, true},      {L"/setup /msi", false, true, false},
      {L"/msi /setup /S", false, true, true}, {L"/msi /noex", false, false, false},
      {L"/msi /unknown", false, false, false},
  };
  for (const Case& c : cases) {
    ParseFresh(c.switches);
    EXPECT_TRUE(line.msiMode) << c.switches;
    EXPECT_EQ(line.uninstall, c.uninstall) << c.switches;
    EXPECT_EQ(line.setup, c.setup) << c.switches;
    EXPECT_EQ(line.silent, c.silent) << c.switches;
  }
}

TEST_F(ParseSwitchesTest, InitKeepsTheRestOfTheArgumentCutTo39Characters) {
  ParseFresh(L"/initialize");
  EXPECT_STREQ(line.initString, L"ialize");
  std::wstring preset(50, L'x');
  preset[38] = L'9';
  ParseFresh(L"-INIT" + preset);
  EXPECT_EQ(std::wstring(line.initString), preset.substr(0, 39));
  ParseFresh(L"/init");
  EXPECT_STREQ(line.initString, L"");
  EXPECT_FALSE(line.uninstall);
}

TEST_F(ParseSwitchesTest, InstallerVariableOnlyCarriesTheSilentSwitch) {
  Parse(L"/setup /msi /noexplorer /initabc /wait /warning", true);
  EXPECT_FALSE(line.setup);
  EXPECT_FALSE(line.uninstall);
  EXPECT_FALSE(line.msiMode);
  EXPECT_FALSE(line.noExplorer);
  EXPECT_STREQ(line.initString, L"");

  Parse(L"/S", true);
  EXPECT_TRUE(line.silent);
  Parse(L"uninstall.exe /setup");
  EXPECT_TRUE(line.setup);
  EXPECT_TRUE(line.silent);  // a silent setup: the two sources add up
}

// Parsing only notes them: the start-up pauses and warns once the whole line is known.
TEST_F(ParseSwitchesTest, WaitAndWarningAreAskedOnlyOnTheCommandLine) {
  Parse(L"/wait /warning", true);
  EXPECT_FALSE(line.wait || line.warning);
  Parse(L"/warning /s /wait");
  EXPECT_TRUE(line.wait && line.warning && line.silent);
  EXPECT_FALSE(line.uninstall || line.invalid);
  ParseFresh(L"/wait /bogus");
  EXPECT_TRUE(line.wait && line.invalid);
}

class InstallerSwitchesTest : public ParseSwitchesTest {
 protected:
  void TearDown() override { SetEnvironmentVariableW(L"sfxcmd", nullptr); }
};

TEST_F(InstallerSwitchesTest, ReadsTheSilentSwitchFromTheVariable) {
  ParseInstallerSwitches(line);
  EXPECT_FALSE(line.silent);
  SetEnvironmentVariableW(L"sfxcmd", L"/setup -s");
  ParseInstallerSwitches(line);
  EXPECT_TRUE(line.silent);
}

TEST_F(InstallerSwitchesTest, OverlongVariableIsCutNotDropped) {
  std::wstring value = L"/S " + std::wstring(3000, L'x');
  SetEnvironmentVariableW(L"sfxcmd", value.c_str());
  ParseInstallerSwitches(line);
  EXPECT_TRUE(line.silent);
}

// Seeded mutation of the command line: each damaged form placed right before a no-access page, so
// that a read or write past its end faults.
namespace {

class CommandLineMutator {
 public:
  explicit CommandLineMutator(unsigned seed) : random_(seed) {}

  unsigned Below(size_t n) { return n == 0 ? 0 : static_cast<unsigned>(random_() % n); }

  wchar_t Unit() {
    static const wchar_t kInteresting[] = L" \t\"\"/-sSiIn\\:=%\x3000\xFEFF\x00A0\x00E9\xD800\xFFFF";
    if (Below(4) == 0) return static_cast<wchar_t>(1 + Below(0xFFFF));  // any unit but zero
    return kInteresting[Below(sizeof kInteresting / sizeof(wchar_t) - 1)];
  }

  std::wstring Damage(std::wstring text) {
    for (unsigned s = 0, steps = 1 + Below(5); s < steps; s++) {
      size_t at = Below(text.size() + 1);
      switch (Below(8)) {
        case 0:  // cut anywhere
          text.resize(at);
          break;
        case 1:  // replaced units
          for (unsigned k = 0, n = 1 + Below(8); k < n && !text.empty(); k++)
            text[Below(text.size())] = Unit();
          break;
        case 2:  // quote runs, odd and even
          text.insert(at, std::wstring(1 + Below(7), L'"'));
          break;
        case 3:  // a giant argument, maybe quoted
          text.insert(at, std::wstring(1 + Below(40000), L"x\"/ \tI"[Below(6)]));
          break;
        case 4:  // a giant preset
          text.insert(at, L" /init" + std::wstring(1 + Below(3000), L"A1D0\""[Below(5)]));
          break;
        case 5:  // many switches
          for (unsigned k = 0, n = 1 + Below(400); k < n; k++)
            text.insert(at, kSwitchForms[Below(sizeof kSwitchForms / sizeof kSwitchForms[0])]);
          break;
        case 6:  // blanks and tabs
          text.insert(at, std::wstring(1 + Below(20), Below(2) ? L' ' : L'\t'));
          break;
        default:  // duplicated piece
          if (!text.empty()) text.insert(at, text.substr(Below(text.size()), Below(200)));
          break;
      }
    }
    return text;
  }

 private:
  static constexpr const wchar_t* kSwitchForms[] = {L" /S", L" -s", L" /S1", L" /setup", L" /msi",
                                                     L" -noex", L" /initA1", L" /x", L" \"/S\"",
                                                     L" /", L" -", L" /in\"it\"C1", L" /wait",
                                                     L" -Warning"};
  std::mt19937 random_;
};

const std::vector<std::wstring>& CommandLineCorpus() {
  static const std::vector<std::wstring> corpus = {
      L"\"C:\\Program Files\\Ombrix\\uninstall.exe\"",
      L"\"C:\\Program Files\\Ombrix\\uninstall.exe\" /S",
      L"\"C:\\Program Files\\Ombrix\\uninstall.exe\" /setup /S /initA1101D1S0M1P1C1I0",
      L"uninstall.exe -setup -msi -noexplorer",
      L"\"C:\\Ombrix\\uninstall.exe\" /init\"A1 D1\" \"\"\"quoted\"\"\" /S:",
      L"x \"/setup\" \"\" \"a\"\"b\" /msi\t/S1 -s",
  };
  return corpus;
}

// Splits text (which ends right before a guard page) with arguments written right before another
// one; checks what every split must give, whatever the text.
std::vector<std::wstring> SplitGuarded(const wchar_t* text, size_t length, unsigned capacity,
                                       std::vector<size_t>* positions) {
  GuardedBuffer out(capacity * sizeof(wchar_t));
  wchar_t* argument = out.wide();
  std::vector<std::wstring> parts;
  const wchar_t* at = text;
  for (;;) {
    const wchar_t* next = NextArgument(at, argument, capacity);
    if (next == nullptr) {
      for (const wchar_t* p = at; *p; p++)
        if (!IsBlank(*p)) {
          ADD_FAILURE() << "none reported before the argument at " << (p - text);
          break;
        }
      return parts;
    }
    if (next <= at || next > text + length) {
      ADD_FAILURE() << "position " << (next - text) << " after " << (at - text);
      return parts;
    }
    size_t stored = wcsnlen(argument, capacity);
    if (stored >= capacity) {
      ADD_FAILURE() << "argument not terminated within its capacity " << capacity;
      return parts;
    }
    parts.emplace_back(argument, stored);
    if (positions) positions->push_back(static_cast<size_t>(next - text));
    at = next;
  }
}

// Splitting on blanks alone, for texts without quotes.
std::vector<std::wstring> SplitOnBlanks(const std::wstring& text) {
  std::vector<std::wstring> parts;
  std::wstring current;
  for (wchar_t ch : text) {
    if (!IsBlank(ch)) {
      current += ch;
    } else if (!current.empty()) {
      parts.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

CommandLine ParseFresh(bool fromEnvironment, const wchar_t* text) {
  CommandLine line;
  // What the installer's variable must never reach starts from a mark.
  if (fromEnvironment) {
    wcscpy(line.initString, L"mark");
    line.setup = true;
  }
  ParseSwitches(fromEnvironment, text, line);
  return line;
}

void ExpectConsistentState(const CommandLine& line, const CommandLine& variable,
                           const std::wstring& text) {
  size_t initLength = wcsnlen(line.initString, kInitStringSize);
  ASSERT_LT(initLength, kInitStringSize) << "preset not terminated";
  EXPECT_LE(initLength, 39u);
  EXPECT_FALSE(line.setup && line.uninstall);
  // An unknown switch makes the line invalid and rules out uninstallation; the variable's
  // unknown switches are passed over.
  EXPECT_FALSE(line.invalid && line.uninstall);
  EXPECT_FALSE(variable.invalid);
  if (text.find(L'/') == std::wstring::npos && text.find(L'-') == std::wstring::npos) {
    EXPECT_TRUE(line.uninstall) << "no switch at all, yet no uninstallation";
    EXPECT_FALSE(line.silent || line.msiMode || line.noExplorer || line.setup);
  }
  // From the variable only the silent switch counts, and it counts as on the command line.
  EXPECT_EQ(variable.silent, line.silent);
  EXPECT_FALSE(variable.uninstall);
  EXPECT_TRUE(variable.setup);
  EXPECT_FALSE(variable.msiMode || variable.noExplorer || variable.wait || variable.warning ||
               variable.help || variable.log);
  EXPECT_STREQ(variable.initString, L"mark");
}

TEST(CommandLineHardening, DamagedCommandLinesNeverReadOrWritePastTheirEnds) {
  FaultGuard guard;
  CommandLineMutator mutator(20261208);
  const auto& corpus = CommandLineCorpus();
  const unsigned kCapacities[] = {1, 2, 7, 40, kArgumentSize};
  unsigned withPreset = 0, withSetup = 0, uninstalling = 0, cutArguments = 0;
  const unsigned kRounds = 3000;
  for (unsigned round = 0; round < kRounds; round++) {
    std::wstring text = mutator.Damage(corpus[round % corpus.size()]);
    SCOPED_TRACE(testing::Message() << "round " << round << ", " << text.size() << " units");
    GuardedBuffer buffer((text.size() + 1) * sizeof(wchar_t), text.c_str());
    wchar_t* guarded = buffer.wide();

    // Cutting an argument only drops its tail: positions stay, each part is a prefix.
    std::vector<size_t> fullPositions;
    // Room for the whole text: nothing is cut.
    std::vector<std::wstring> full =
        SplitGuarded(guarded, text.size(), static_cast<unsigned>(text.size() + 1), &fullPositions);
    if (HasFailure()) return;
    for (unsigned capacity : kCapacities) {
      std::vector<size_t> positions;
      std::vector<std::wstring> cut = SplitGuarded(guarded, text.size(), capacity, &positions);
      if (HasFailure()) return;
      ASSERT_EQ(positions, fullPositions) << "capacity " << capacity;
      for (size_t i = 0; i < cut.size(); i++) {
        ASSERT_LT(cut[i].size(), capacity);
        ASSERT_EQ(full[i].compare(0, cut[i].size(), cut[i]), 0) << "capacity " << capacity;
        if (cut[i].size() < full[i].size()) cutArguments++;
      }
    }
    if (text.find(L'"') == std::wstring::npos) {
      std::vector<std::wstring> words = SplitOnBlanks(text);
      ASSERT_EQ(full.size(), words.size());
      for (size_t i = 0; i < words.size(); i++) ASSERT_TRUE(full[i] == words[i]) << "argument " << i;
    }

    CommandLine line = ParseFresh(false, guarded);
    CommandLine variable = ParseFresh(true, guarded);
    ExpectConsistentState(line, variable, text);
    if (HasFailure()) return;
    if (line.initString[0]) withPreset++;
    if (line.setup) withSetup++;
    if (line.uninstall) uninstalling++;
  }
  // The damage really reached every branch of the grammar.
  EXPECT_GT(withPreset, kRounds / 20);
  EXPECT_GT(withSetup, kRounds / 20);
  EXPECT_GT(uninstalling, kRounds / 50);
  EXPECT_GT(cutArguments, kRounds / 10);
}

TEST(CommandLineHardening, GiantPresetIsCutTo39CharactersWithTheTextAgainstTheGuard) {
  FaultGuard guard;
  for (size_t length : {0u, 38u, 39u, 40u, 1023u, 1024u, 1025u, 32000u}) {
    std::wstring text = L"u.exe /S /init" + std::wstring(length, L'7');
    GuardedBuffer buffer((text.size() + 1) * sizeof(wchar_t), text.c_str());
    CommandLine line = ParseFresh(false, buffer.wide());
    // "/init" itself is 5 of the argument's 1023 stored characters.
    size_t expected = std::min<size_t>({length, 39, kArgumentSize - 1 - 5});
    EXPECT_EQ(std::wstring(line.initString), std::wstring(expected, L'7')) << length;
    EXPECT_TRUE(line.silent);
    EXPECT_FALSE(line.uninstall);
  }
}

}  // namespace
