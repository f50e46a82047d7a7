// SPDX-License-Identifier: GPL-2.0-or-later
// Where tonewell-render writes its output. A regular file, or a path that does not exist yet,
// is written through a temporary file in the same folder that replaces it only when complete,
// so a failed render never leaves half a file under OUT's name. Anything else that exists (a
// device, a FIFO, a socket, a symbolic link to one, "-" for standard output) is written
// directly and never replaced. A symbolic link to a regular file stays: its target is replaced.
#pragma once
#include <cstdio>
#include <string>

struct RenderOutput {
  std::FILE* Sink;        // where the bytes go
  std::string Target;     // the path the output ends up under (a link's target for a link)
  std::string Temporary;  // the temporary file in Target's folder; empty when written directly
  bool ToStdout;          // OUT was "-"
};

// Opens OUT for writing. False, with *error naming the cause ("is a directory", the system's
// reason), when it cannot be written; then nothing was created.
bool OpenRenderOutput(const std::string& out, RenderOutput* output, std::string* error);
// Flushes and closes the sink. When ok, a temporary file replaces Target; when not (or when
// the flush, close or rename fails) it is removed. True when the output is complete.
bool CloseRenderOutput(RenderOutput* output, bool ok, std::string* error);
