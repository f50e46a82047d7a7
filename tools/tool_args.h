// SPDX-License-Identifier: GPL-2.0-or-later
// The options every command-line tool answers alike: --help and --version on standard output
// with exit status 0, a bad argument as a one-line reason and the usage on standard error with
// exit status 2.
#pragma once

// What a tool says about itself. Usage is the synopsis line without "usage: "; Options is the
// option list printed under it by --help (lines ending in '\n'), or null.
struct ToolHelp {
  const char* Name;     // program name, e.g. "tonewell-render"
  const char* Usage;    // e.g. "tonewell-render [--frames N] [--level L] DUMP OUT"
  const char* Summary;  // one sentence on what the tool does
  const char* Options;  // option descriptions, or null
};

// When arg is "--help" or "--version", prints the help text or the line "NAME VERSION" on
// standard output and returns true: the caller then exits with status 0. Otherwise returns
// false and prints nothing.
bool AnswerStandardOption(const ToolHelp& tool, const char* arg);

// Prints "NAME: why" and the usage line on standard error; returns 2, the exit status of a
// usage error.
int ToolUsageError(const ToolHelp& tool, const char* why);

// The version of the project, e.g. "0.3.0".
const char* ToolVersion();

// Reads text as decimal digits only: no sign, no blanks, nothing after the number. DIGITS_OK
// with *value 0..limit, or why not, whichever comes first from the left: DIGITS_EMPTY,
// DIGITS_NOT_DIGIT (a character other than 0-9), DIGITS_OVER_LIMIT (the digits so far exceed
// limit). *value is set only on DIGITS_OK. limit is at most 2^62.
enum DigitsResult { DIGITS_OK, DIGITS_EMPTY, DIGITS_NOT_DIGIT, DIGITS_OVER_LIMIT };
DigitsResult ParseDigits(const char* text, long long limit, long long* value);
