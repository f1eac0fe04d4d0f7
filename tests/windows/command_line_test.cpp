// The helper's command-line forms, run for real. Under Wine these runs get no display, so the
// notice cannot be shown and "--error" with a text ends at once; where a notice does appear, it is
// dismissed. The notice itself is tested on its own.
#include <gtest/gtest.h>

#include "process_harness.h"

namespace {

struct CommandLineCase {
  const char* situation;
  std::vector<std::wstring> arguments;
  DWORD expectedStatus;
};

const CommandLineCase kCommandLineCases[] = {
    {"no argument", {}, 20},
    {"option and text, no display for the notice", {L"--error", L"Update stopped"}, 0},
    {"option and empty text", {L"--error", L""}, 0},
    {"option in capitals", {L"--ERROR", L"Update stopped"}, 20},
    {"option abbreviated", {L"--err", L"Update stopped"}, 20},
    {"option with one dash", {L"-error", L"Update stopped"}, 20},
    {"option with a suffix", {L"--error=", L"Update stopped"}, 20},
    {"option with trailing space", {L"--error ", L"Update stopped"}, 20},
    {"two texts after the option", {L"--error", L"a", L"b"}, 20},
    {"two paths", {L"C:\\A\\Tavelune.exe", L"C:\\B\\Tavelune.exe"}, 20},
    {"four arguments", {L"a", L"b", L"c", L"d"}, 20},
    {"option alone is a path in the current directory", {L"--error"}, 0},
    {"one path, nothing running", {L"C:\\Program Files\\Tavelune\\Tavelune.exe"}, 0},
    {"one empty argument, which cannot be made absolute", {L""}, 20},
};

TEST(CommandLine, EachFormEndsWithItsStatusAndWritesNothing) {
  for (const CommandLineCase& row : kCommandLineCases) {
    SCOPED_TRACE(row.situation);
    HelperRun run = RunHelperDismissingNotice(row.arguments);
    ASSERT_TRUE(run.finished) << run.problem;
    EXPECT_EQ(run.exitCode, row.expectedStatus);
    EXPECT_EQ(run.standardOutput, "");
    EXPECT_EQ(run.standardError, "");
  }
}

}  // namespace
