// The command line: argument splitting, the switch grammar and the installer's variable.
#include "driver/cmdline.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

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
