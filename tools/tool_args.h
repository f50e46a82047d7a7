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
