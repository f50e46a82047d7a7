// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/audio_export.h"

#include <cctype>
#include <cstdlib>

#if defined(TONEWELL_HAVE_SNDFILE)
#include <samplerate.h>
#include <sndfile.h>
#endif

namespace {

constexpr int32_t SOURCE_RATE = 44100;  // Hz, the renderer's frames
constexpr int32_t CHANNELS = 2;

#if defined(TONEWELL_HAVE_SNDFILE)
constexpr int32_t FLAC_16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
constexpr int32_t OGG_VORBIS = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
constexpr int32_t OGG_OPUS = SF_FORMAT_OGG | SF_FORMAT_OPUS;
constexpr int32_t MPEG_III = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
#else
constexpr int32_t FLAC_16 = 1, OGG_VORBIS = 2, OGG_OPUS = 3, MPEG_III = 4;  // never opened
#endif

const ExportFormat Flac = {.Name = "flac", .Extension = ".flac", .Container = FLAC_16, .EncodedRate = SOURCE_RATE};
const ExportFormat Vorbis = {.Name = "ogg", .Extension = ".ogg", .Container = OGG_VORBIS, .EncodedRate = SOURCE_RATE};
const ExportFormat Opus = {.Name = "opus", .Extension = ".opus", .Container = OGG_OPUS, .EncodedRate = 48000};
const ExportFormat Mp3 = {.Name = "mp3", .Extension = ".mp3", .Container = MPEG_III, .EncodedRate = SOURCE_RATE};

const ExportFormat* const Formats[] = {&WaveFormat, &RawFormat, &Flac, &Vorbis, &Opus, &Mp3};

bool Fail(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

}  // namespace

const ExportFormat WaveFormat = {.Name = "wav", .Extension = ".wav", .Container = 0, .EncodedRate = SOURCE_RATE};
const ExportFormat RawFormat = {.Name = "raw", .Extension = ".raw", .Container = 0, .EncodedRate = SOURCE_RATE};

const ExportFormat* ExportFormatByName(const std::string& name) {
  for (const ExportFormat* format : Formats)
    if (name == format->Name) return format;
  return nullptr;
}

const ExportFormat* ExportFormatOfPath(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return &RawFormat;
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const ExportFormat* format : Formats)
    if (extension == format->Extension) return format;
  return &RawFormat;
}

std::string ExportFormatNames() {
  std::string names;
  for (const ExportFormat* format : Formats) names += (names.empty() ? "" : ", ") + std::string(format->Name);
  return names;
}

#if defined(TONEWELL_HAVE_SNDFILE)

bool ExportFormatAvailable(const ExportFormat&, std::string*) { return true; }

bool OpenEncoder(std::FILE* sink, const ExportFormat& format, const std::string& title, const std::string& author,
                 double quality, Encoder* encoder, std::string* why) {
  *encoder = Encoder{};
  SF_INFO info = {};
  info.samplerate = format.EncodedRate;
  info.channels = CHANNELS;
  info.format = format.Container;
  SNDFILE* file = sf_open_fd(fileno(sink), SFM_WRITE, &info, 0);
  if (!file) return Fail(why, sf_strerror(nullptr));
  encoder->File = file;
  if (!title.empty()) sf_set_string(file, SF_STR_TITLE, title.c_str());
  if (!author.empty()) sf_set_string(file, SF_STR_ARTIST, author.c_str());
  if (quality >= 0 && !sf_command(file, SFC_SET_COMPRESSION_LEVEL, &quality, sizeof quality)) {
    CloseEncoder(encoder, false, why);
    return Fail(why, std::string(format.Name) + " takes no compression level");
  }
  if (format.EncodedRate != SOURCE_RATE) {
    int error = 0;
    encoder->Resampler = src_new(SRC_SINC_MEDIUM_QUALITY, CHANNELS, &error);
    if (!encoder->Resampler) {
      CloseEncoder(encoder, false, why);
      return Fail(why, src_strerror(error));
    }
  }
  return true;
}

namespace {

// Feeds count frames of encoder->In (count 0 with last: the end) through the resampler and
// writes what comes out.
bool Resample(Encoder* encoder, int32_t count, bool last, std::string* why) {
  SRC_DATA data = {};
  data.data_in = encoder->In;
  data.input_frames = count;
  data.src_ratio = 48000.0 / SOURCE_RATE;
  data.end_of_input = last;
  const long room = static_cast<long>(count * data.src_ratio) + 256;
  encoder->Out = static_cast<float*>(std::realloc(encoder->Out, sizeof(float) * CHANNELS * room));
  if (!encoder->Out) return Fail(why, "out of memory");
  for (;;) {
    data.data_out = encoder->Out;
    data.output_frames = room;
    const int error = src_process(static_cast<SRC_STATE*>(encoder->Resampler), &data);
    if (error) return Fail(why, src_strerror(error));
    if (data.output_frames_gen > 0 &&
        sf_writef_float(static_cast<SNDFILE*>(encoder->File), encoder->Out, data.output_frames_gen) !=
            data.output_frames_gen)
      return Fail(why, sf_strerror(static_cast<SNDFILE*>(encoder->File)));
    data.data_in += data.input_frames_used * CHANNELS;
    data.input_frames -= data.input_frames_used;
    if (data.input_frames == 0 && (!last || data.output_frames_gen == 0)) return true;
  }
}

}  // namespace

bool EncodeFrames(Encoder* encoder, const int16_t* frames, int32_t count, std::string* why) {
  SNDFILE* file = static_cast<SNDFILE*>(encoder->File);
  if (!encoder->Resampler) {
    if (sf_writef_short(file, frames, count) != count) return Fail(why, sf_strerror(file));
    return true;
  }
  encoder->In = static_cast<float*>(std::realloc(encoder->In, sizeof(float) * CHANNELS * count));
  if (!encoder->In) return Fail(why, "out of memory");
  src_short_to_float_array(frames, encoder->In, CHANNELS * count);
  return Resample(encoder, count, false, why);
}

bool CloseEncoder(Encoder* encoder, bool ok, std::string* why) {
  if (ok && encoder->Resampler) ok = Resample(encoder, 0, true, why);
  if (encoder->Resampler) src_delete(static_cast<SRC_STATE*>(encoder->Resampler));
  if (encoder->File && sf_close(static_cast<SNDFILE*>(encoder->File)) != 0 && ok)
    ok = Fail(why, "the encoder could not end the stream");
  std::free(encoder->In);
  std::free(encoder->Out);
  *encoder = Encoder{};
  return ok;
}

#else  // A build without libsndfile: WAVE and raw only.

bool ExportFormatAvailable(const ExportFormat& format, std::string* why) {
  if (format.Container == 0) return true;
  std::string name = format.Name;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "OGG") name = "Ogg Vorbis";
  return Fail(why, name + " needs the Linux build (this one writes .wav and raw frames only)");
}

bool OpenEncoder(std::FILE*, const ExportFormat& format, const std::string&, const std::string&, double, Encoder*,
                 std::string* why) {
  return ExportFormatAvailable(format, why);
}
bool EncodeFrames(Encoder*, const int16_t*, int32_t, std::string* why) { return Fail(why, "no encoder"); }
bool CloseEncoder(Encoder*, bool ok, std::string*) { return ok; }

#endif
