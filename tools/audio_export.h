// SPDX-License-Identifier: GPL-2.0-or-later
// The containers tonewell-render writes. WAVE and raw frames are written by the renderer itself
// (their bytes never change); FLAC, Ogg Vorbis, Opus and MP3 go through libsndfile, which the
// Linux build requires and the Windows build leaves out (there they are refused by name).
// Opus takes 48000 Hz only, so its frames are resampled with libsamplerate on the way.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

struct ExportFormat {
  const char* Name;       // "wav", "raw", "flac", "ogg", "opus", "mp3"
  const char* Extension;  // ".wav", ".raw", ...
  int32_t Container;      // libsndfile's major | minor format; 0 for WAVE and raw
  int32_t EncodedRate;    // Hz the codec gets: 44100, 48000 for Opus
};

extern const ExportFormat WaveFormat;
extern const ExportFormat RawFormat;

// The format named name (lower case, as in Name), or null.
const ExportFormat* ExportFormatByName(const std::string& name);
// The format of path's extension (".wav", ".flac", ".ogg", ".opus", ".mp3", in any case);
// RawFormat for anything else and for "-".
const ExportFormat* ExportFormatOfPath(const std::string& path);
// False, with why, when this build cannot write format ("FLAC needs the Linux build").
bool ExportFormatAvailable(const ExportFormat& format, std::string* why);
// "wav, raw, flac, ..." for messages.
std::string ExportFormatNames();

// An encoder at work on one output; fields are the encoder's own.
struct Encoder {
  void* File;       // SNDFILE*
  void* Resampler;  // SRC_STATE*, only when EncodedRate differs from 44100
  float* In;        // resampler buffers
  float* Out;
  int64_t OutFrames;
};

// Starts writing format to sink (not written to before), with the title and author tags where
// the container has them (empty: none) and the compression / VBR level quality 0..1 (libsndfile's:
// 0 best quality, 1 smallest; negative: libsndfile's default). False with why on failure.
bool OpenEncoder(std::FILE* sink, const ExportFormat& format, const std::string& title, const std::string& author,
                 double quality, Encoder* encoder, std::string* why);
// Encodes count stereo s16 frames at 44100 Hz. False with why on failure.
bool EncodeFrames(Encoder* encoder, const int16_t* frames, int32_t count, std::string* why);
// Flushes the codec and ends the stream (when ok) and releases the encoder. The sink stays
// open. False with why when the end could not be written.
bool CloseEncoder(Encoder* encoder, bool ok, std::string* why);
