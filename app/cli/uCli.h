// The command-line front end: drives the same engines as the window, for
// scripting and for checking the product without a screen.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quenlo::cli {

struct TCliStreams {
  std::ostream &out;
  std::ostream &err;
  bool errIsTerminal = false; // draw a progress bar instead of plain lines
};

// Runs one command (args without the program name); returns the exit code:
// 0 done, 1 failed, 2 bad usage.
int RunCli(const std::vector<std::string> &args, TCliStreams streams);

// A JSON string literal for UTF-8 text (unpaired surrogates carried through
// as three-byte sequences become \u escapes, so the output stays valid).
std::string JsonString(const std::string &text);

} // namespace quenlo::cli
