// Audio and byte files of the command-line tools (vokcodec, vokproc): read
// and written in blocks so that memory stays the same whatever the length,
// "-" for the standard streams, outputs renamed into place when complete,
// WAV and headerless 16-bit PCM, mixing down and rate conversion.
#ifndef VOK_CLI_AUDIO_IO_H
#define VOK_CLI_AUDIO_IO_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vokio {

// ---- Files in blocks ------------------------------------------------------------
// "-" is the standard input or output.  Every failure is a one-line message
// naming the file.

// A byte input read in blocks, with a look-ahead for sniffing headers.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();
  bool open(const std::string& path, std::string& err);
  // Up to n bytes (fewer only at the end; 0 at the end or on an error).
  std::size_t read(uint8_t* dst, std::size_t n, std::string& err);
  // The next n bytes without consuming them (fewer at the end).
  std::size_t peek(uint8_t* dst, std::size_t n, std::string& err);
  long long size() const { return size_; }  // bytes of a regular file, -1 for a pipe
  long long consumed() const { return consumed_; }
  // Fraction of the file consumed, -1 when its size is unknown.
  double fraction() const { return size_ > 0 ? double(consumed_) / double(size_) : -1.0; }
  const std::string& name() const { return name_; }
  int fd() const { return fd_; }

 private:
  bool fill(std::size_t want, std::string& err);
  int fd_ = -1;
  bool owned_ = false, eof_ = false;
  std::string name_;
  long long size_ = -1, consumed_ = 0;
  std::vector<uint8_t> buf_;
  std::size_t pos_ = 0, len_ = 0;
};

// A byte output: a regular file is written as PATH.tmp.XXXXXX beside it and
// renamed over PATH by commit(), so a failed or interrupted run leaves no
// partial file (through a symbolic link the file it points to is replaced);
// FIFOs, devices and "-" are written directly.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // without commit(): the temporary file is removed
  bool open(const std::string& path, std::string& err);
  bool write(const uint8_t* data, std::size_t n, std::string& err);
  // Rewrites bytes already written at `offset` from the start; false when
  // the output cannot seek (a pipe).
  bool rewrite(long long offset, const uint8_t* data, std::size_t n);
  bool commit(std::string& err);

 private:
  bool flush(std::string& err);
  int fd_ = -1;
  bool owned_ = false, temporary_ = false;
  long long start_ = 0, written_ = 0;
  std::string name_, target_, tmp_;
  std::vector<uint8_t> buf_;
};

// Refused before anything is written: an output that is the input file
// (also through links, or the standard output redirected to it).
bool sameFile(const InputFile& in, const std::string& outPath);

// ---- Audio -------------------------------------------------------------------------

// How to read a headerless input.
struct RawLayout {
  int rate = 0;      // Hz; 0: the codec's rate
  int channels = 1;  // interleaved 16-bit little-endian samples
};

class Resampler;

// Speech from a WAV file (recognised by its RIFF/WAVE header: integer PCM of
// 8 to 32 bits or float, any rate and channel count) or headerless 16-bit
// PCM, as mono 16-bit samples at `rate`: channels are mixed down and the
// rate converted (libsamplerate, best sinc, the output holding
// round(n * rate / input rate) samples).  16-bit mono at `rate` passes
// unchanged.
class AudioReader {
 public:
  AudioReader();
  ~AudioReader();
  bool open(const std::string& path, const RawLayout& raw, int rate, std::string& err);
  // Another output rate, before the first read (for a rate chosen from the input's).
  bool setRate(int rate, std::string& err);
  // Up to n samples; fewer only at the end (0: the end, or an error in err).
  std::size_t read(int16_t* dst, std::size_t n, std::string& err);
  bool isWav() const { return wav_; }
  int inputRate() const { return inRate_; }
  double fraction() const { return file_.fraction(); }
  const InputFile& file() const { return file_; }

 private:
  bool parseWav(std::string& err);
  bool refill(std::string& err);
  InputFile file_;
  bool wav_ = false, ended_ = false;
  int inRate_ = 0, channels_ = 1, rate_ = 0, format_ = 1, bytesPerSample_ = 2;
  long long dataLeft_ = -1;  // bytes of the WAV data chunk left, -1: until the end
  std::vector<uint8_t> raw_;
  std::vector<float> mono_;
  std::vector<int16_t> out_;
  std::size_t outPos_ = 0;
  std::unique_ptr<Resampler> resampler_;
};

// Mono 16-bit speech at `rate` written as headerless PCM or as WAV at
// `outRate` (converted as above when the rates differ).  A WAV header whose
// sizes cannot be rewritten at the end (a pipe) states the unknown length
// as sox does: 0x7ffff000 bytes of data.
class AudioWriter {
 public:
  AudioWriter();
  ~AudioWriter();
  bool open(const std::string& path, bool wav, int rate, int outRate, std::string& err);
  bool write(const int16_t* pcm, std::size_t n, std::string& err);
  bool finish(std::string& err);
  OutputFile& file() { return file_; }

 private:
  bool put(const int16_t* pcm, std::size_t n, std::string& err);
  OutputFile file_;
  bool wav_ = false;
  int outRate_ = 0;
  long long samples_ = 0;
  std::unique_ptr<Resampler> resampler_;
  std::vector<float> in_;
  std::vector<int16_t> conv_;
};

// Deletes the temporary file of an output in progress; async-signal-safe,
// for the tool's signal handlers.
void removePendingOutput();

// A name ending in .wav (any case): such outputs are written as WAV.
bool wavName(const std::string& path);

}  // namespace vokio

#endif  // VOK_CLI_AUDIO_IO_H
