// Files of the command-line tools, read and written in blocks so that
// memory stays the same whatever the length: byte inputs and outputs (with
// "-" for the standard streams and outputs renamed into place when
// complete), WAV and headerless 16-bit PCM, mixing down and rate conversion.
#include <fcntl.h>
#include <samplerate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio_io.h"

namespace vokio {
namespace {

constexpr std::size_t kBlockBytes = 1 << 16;
constexpr std::size_t kBlockFrames = 4096;
// The data size of a WAV header written where it cannot be corrected later.
constexpr uint32_t kUnknownWavData = 0x7ffff000u;

// The temporary file of the output in progress, for removePendingOutput().
char pendingPath[PATH_MAX + 32];
volatile std::sig_atomic_t pendingSet = 0;

std::string why() { return std::strerror(errno); }

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int16_t toPcm16(float v) {
  float s = std::nearbyint(v * 32768.0f);
  return static_cast<int16_t>(std::max(-32768.0f, std::min(32767.0f, s)));
}

}  // namespace

// ---- Rate conversion in blocks -------------------------------------------------

// libsamplerate over a stream whose length is known only at its end: the
// output is held back to round(input so far * ratio) samples and completed
// (cut or padded with silence) to round(input * ratio) at the end.
class Resampler {
 public:
  ~Resampler() {
    if (state_) src_delete(state_);
  }
  bool open(int from, int to, std::string& err) {
    ratio_ = double(to) / double(from);
    int e = 0;
    if (from <= 0 || to <= 0 || !src_is_valid_ratio(ratio_) || !(state_ = src_new(SRC_SINC_BEST_QUALITY, 1, &e))) {
      err = "cannot convert from " + std::to_string(from) + " Hz to " + std::to_string(to) + " Hz";
      return false;
    }
    return true;
  }
  // Appends the output of `in` (n samples) to out; last: the input ended.
  bool process(const float* in, std::size_t n, bool last, std::vector<float>& out, std::string& err) {
    inCount_ += static_cast<long long>(n);
    std::vector<float> gen(static_cast<std::size_t>(double(n) * ratio_) + 256);
    for (;;) {
      SRC_DATA d{};
      d.data_in = in;
      d.input_frames = static_cast<long>(n);
      d.data_out = gen.data();
      d.output_frames = static_cast<long>(gen.size());
      d.src_ratio = ratio_;
      d.end_of_input = last ? 1 : 0;
      if (int e = src_process(state_, &d)) {
        err = std::string("sample-rate conversion failed: ") + src_strerror(e);
        return false;
      }
      held_.insert(held_.end(), gen.begin(), gen.begin() + d.output_frames_gen);
      in += d.input_frames_used;
      n -= static_cast<std::size_t>(d.input_frames_used);
      if (n == 0 && (!last || d.output_frames_gen == 0)) break;
    }
    const long long allowed = std::llround(double(inCount_) * ratio_);
    long long take = std::min<long long>(static_cast<long long>(held_.size()), allowed - outCount_);
    take = std::max<long long>(take, 0);
    out.insert(out.end(), held_.begin(), held_.begin() + take);
    held_.erase(held_.begin(), held_.begin() + take);
    outCount_ += take;
    if (last) {
      out.insert(out.end(), static_cast<std::size_t>(std::max<long long>(0, allowed - outCount_)), 0.0f);
      outCount_ = allowed;
    }
    return true;
  }

 private:
  SRC_STATE* state_ = nullptr;
  double ratio_ = 1;
  long long inCount_ = 0, outCount_ = 0;
  std::vector<float> held_;
};

// ---- Byte inputs -----------------------------------------------------------------

InputFile::~InputFile() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

bool InputFile::open(const std::string& path, std::string& err) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
    name_ = "standard input";
  } else {
    name_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      err = "cannot open " + path + ": " + why();
      return false;
    }
    owned_ = true;
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    err = "cannot read " + name_ + ": it is a folder";
    return false;
  }
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    size_ = static_cast<long long>(st.st_size) - (at > 0 ? at : 0);
  }
  buf_.resize(kBlockBytes);
  return true;
}

bool InputFile::fill(std::size_t want, std::string& err) {
  if (len_ - pos_ >= want || eof_) return true;
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
  }
  while (len_ < want && !eof_) {
    const ssize_t n = ::read(fd_, buf_.data() + len_, buf_.size() - len_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = "cannot read " + name_ + ": " + why();
      return false;
    }
    if (n == 0) eof_ = true;
    len_ += static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t InputFile::peek(uint8_t* dst, std::size_t n, std::string& err) {
  n = std::min(n, buf_.size());
  if (!fill(n, err)) return 0;
  const std::size_t k = std::min(n, len_ - pos_);
  std::memcpy(dst, buf_.data() + pos_, k);
  return k;
}

std::size_t InputFile::read(uint8_t* dst, std::size_t n, std::string& err) {
  std::size_t done = 0;
  while (done < n) {
    if (pos_ == len_ && !fill(std::min(n - done, buf_.size()), err)) return 0;
    if (pos_ == len_) break;
    const std::size_t k = std::min(n - done, len_ - pos_);
    std::memcpy(dst + done, buf_.data() + pos_, k);
    pos_ += k;
    done += k;
  }
  consumed_ += static_cast<long long>(done);
  return done;
}

// ---- Byte outputs ----------------------------------------------------------------

OutputFile::~OutputFile() {
  if (temporary_) {
    ::close(fd_);
    ::unlink(tmp_.c_str());
    pendingSet = 0;
  } else if (owned_ && fd_ >= 0) {
    ::close(fd_);
  }
}

bool OutputFile::open(const std::string& path, std::string& err) {
  auto failWith = [&](const std::string& reason) {
    err = "cannot write " + name_ + ": " + reason;
    return false;
  };
  buf_.reserve(kBlockBytes);
  if (path == "-") {
    name_ = "standard output";
    fd_ = STDOUT_FILENO;
    start_ = ::lseek(fd_, 0, SEEK_CUR);
    return true;
  }
  name_ = target_ = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Through a symbolic link: replace the file it points to, not the link.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target_ = real;
      std::free(real);
    }
  }
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return failWith("it is a folder");
  if (exists && !S_ISREG(st.st_mode)) {
    // A FIFO or a device (/dev/null): renaming over it would replace it.
    fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) return failWith(why());
    owned_ = true;
    start_ = ::lseek(fd_, 0, SEEK_CUR);
    return true;
  }
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  tmp_ = target_ + ".tmp.XXXXXX";
  if (tmp_.size() >= sizeof pendingPath) return failWith("name too long");
  std::vector<char> name(tmp_.begin(), tmp_.end());
  name.push_back('\0');
  fd_ = ::mkstemp(name.data());
  if (fd_ < 0) return failWith(why());
  tmp_ = name.data();
  std::memcpy(pendingPath, name.data(), name.size());
  pendingSet = 1;
  temporary_ = owned_ = true;
  if (::fchmod(fd_, mode) != 0) {
    // mkstemp's 0600 is a safe fallback; not worth failing the run for
  }
  return true;
}

bool OutputFile::flush(std::string& err) {
  std::size_t done = 0;
  while (done < buf_.size()) {
    const ssize_t n = ::write(fd_, buf_.data() + done, buf_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = "cannot write " + name_ + ": " + (n < 0 ? why() : std::string("nothing written"));
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  written_ += static_cast<long long>(buf_.size());
  buf_.clear();
  return true;
}

bool OutputFile::write(const uint8_t* data, std::size_t n, std::string& err) {
  while (n > 0) {
    const std::size_t k = std::min(n, kBlockBytes - buf_.size());
    buf_.insert(buf_.end(), data, data + k);
    data += k;
    n -= k;
    if (buf_.size() == kBlockBytes && !flush(err)) return false;
  }
  return true;
}

bool OutputFile::rewrite(long long offset, const uint8_t* data, std::size_t n) {
  std::string ignored;
  struct stat st {};
  if (start_ < 0 || !flush(ignored) || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return ::pwrite(fd_, data, n, static_cast<off_t>(start_ + offset)) == static_cast<ssize_t>(n);
}

bool OutputFile::commit(std::string& err) {
  if (!flush(err)) return false;
  if (!temporary_) return true;
  bool ok = ::close(fd_) == 0;
  const int e = errno;
  fd_ = -1;
  if (ok && ::rename(tmp_.c_str(), target_.c_str()) != 0) ok = false;
  if (!ok) {
    err = "cannot write " + name_ + ": " + std::strerror(ok ? errno : e);
    ::unlink(tmp_.c_str());
  }
  temporary_ = owned_ = false;
  pendingSet = 0;
  return ok;
}

bool sameFile(const InputFile& in, const std::string& outPath) {
  struct stat a {}, b {};
  if (::fstat(in.fd(), &a) != 0 || !S_ISREG(a.st_mode)) return false;
  const int got = outPath == "-" ? ::fstat(STDOUT_FILENO, &b) : ::stat(outPath.c_str(), &b);
  return got == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void removePendingOutput() {
  if (pendingSet) ::unlink(pendingPath);
}

// ---- Audio input ------------------------------------------------------------------

AudioReader::AudioReader() = default;
AudioReader::~AudioReader() = default;

bool AudioReader::open(const std::string& path, const RawLayout& raw, int rate, std::string& err) {
  if (!file_.open(path, err)) return false;
  rate_ = rate;
  uint8_t head[12];
  const std::size_t got = file_.peek(head, sizeof head, err);
  if (!err.empty()) return false;
  if (got >= 4 && std::memcmp(head, "RIFF", 4) == 0) {
    if (got < 12 || std::memcmp(head + 8, "WAVE", 4) != 0) {
      err = file_.name() + ": not a WAV file (a RIFF file of another form)";
      return false;
    }
    wav_ = true;
    if (!parseWav(err)) return false;
  } else {
    inRate_ = raw.rate > 0 ? raw.rate : rate;
    channels_ = raw.channels;
  }
  return setRate(rate_, err);
}

bool AudioReader::setRate(int rate, std::string& err) {
  rate_ = rate;
  resampler_.reset();
  if (inRate_ != rate_ && !(resampler_ = std::make_unique<Resampler>())->open(inRate_, rate_, err)) {
    err = file_.name() + ": " + err;
    return false;
  }
  return true;
}

bool AudioReader::parseWav(std::string& err) {
  const std::string bad = file_.name() + ": not a WAV file (";
  uint8_t h[40];
  file_.read(h, 12, err);
  bool haveFormat = false;
  int bits = 0, align = 0;
  for (;;) {
    if (file_.read(h, 8, err) < 8) {
      err = err.empty() ? bad + (haveFormat ? "no data chunk)" : "no format chunk)") : err;
      return false;
    }
    const uint32_t size = le32(h + 4);
    if (std::memcmp(h, "data", 4) == 0) {
      if (!haveFormat) {
        err = bad + "data before the format chunk)";
        return false;
      }
      // 0 and sox's 0x7ffff000 (or more) mark a stream written without its length.
      dataLeft_ = size == 0 || size >= kUnknownWavData ? -1 : static_cast<long long>(size);
      break;
    }
    long long skip = static_cast<long long>(size) + (size & 1);
    if (std::memcmp(h, "fmt ", 4) == 0) {
      if (size < 16) {
        err = bad + "short format chunk)";
        return false;
      }
      const std::size_t take = std::min<std::size_t>(size, sizeof h);
      if (file_.read(h, take, err) < take) {
        err = err.empty() ? bad + "cut in its format chunk)" : err;
        return false;
      }
      skip -= static_cast<long long>(take);
      format_ = le16(h);
      channels_ = le16(h + 2);
      inRate_ = static_cast<int>(std::min<uint32_t>(le32(h + 4), INT_MAX));
      align = le16(h + 12);
      bits = le16(h + 14);
      if (format_ == 0xFFFE && take >= 26) format_ = le16(h + 24);  // extensible: the sub-format's tag
      haveFormat = true;
    }
    for (uint8_t sink[256]; skip > 0;) {
      const std::size_t k = static_cast<std::size_t>(std::min<long long>(skip, sizeof sink));
      if (file_.read(sink, k, err) < k) {
        err = err.empty() ? bad + "cut in a chunk)" : err;
        return false;
      }
      skip -= static_cast<long long>(k);
    }
  }
  bytesPerSample_ = bits / 8;
  const bool integer = format_ == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool floating = format_ == 3 && (bits == 32 || bits == 64);
  if (channels_ < 1 || inRate_ < 1 || align != channels_ * bytesPerSample_) {
    err = bad + "no channels, no sample rate or a block size that does not match)";
    return false;
  }
  if (!integer && !floating) {
    err = file_.name() + ": WAV samples of format " + std::to_string(format_) + " with " + std::to_string(bits) +
          " bits are not supported (integer PCM of 8 to 32 bits, or float)";
    return false;
  }
  return true;
}

// Reads the next block of the input and converts it into out_.
bool AudioReader::refill(std::string& err) {
  const std::size_t frameBytes = static_cast<std::size_t>(channels_ * bytesPerSample_);
  std::size_t want = kBlockFrames * frameBytes;
  if (dataLeft_ >= 0) want = static_cast<std::size_t>(std::min<long long>(dataLeft_, static_cast<long long>(want)));
  const std::size_t carry = raw_.size();  // a partial frame of the last block
  raw_.resize(carry + want);
  const std::size_t got = want ? file_.read(raw_.data() + carry, want, err) : 0;
  if (!err.empty()) return false;
  if (dataLeft_ >= 0) dataLeft_ -= static_cast<long long>(got);
  raw_.resize(carry + got);
  if (got < want || dataLeft_ == 0) ended_ = true;
  const std::size_t frames = raw_.size() / frameBytes;
  if (ended_ && raw_.size() % frameBytes && !wav_) {
    err = file_.name() + (channels_ == 1 ? ": odd number of bytes, not headerless 16-bit PCM"
                                          : ": not a whole number of " + std::to_string(channels_) +
                                                "-channel 16-bit sample frames");
    return false;
  }
  out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outPos_));
  outPos_ = 0;
  const uint8_t* p = raw_.data();
  if (format_ == 1 && bytesPerSample_ == 2 && channels_ == 1 && !resampler_) {
    for (std::size_t i = 0; i < frames; ++i) out_.push_back(static_cast<int16_t>(le16(p + 2 * i)));
  } else {
    mono_.clear();
    for (std::size_t f = 0; f < frames; ++f) {
      double sum = 0;
      for (int ch = 0; ch < channels_; ++ch, p += bytesPerSample_) {
        if (format_ == 3) {
          if (bytesPerSample_ == 4) {
            float v;
            const uint32_t w = le32(p);
            std::memcpy(&v, &w, 4);
            sum += v;
          } else {
            double v;
            const uint64_t w = le32(p) | uint64_t(le32(p + 4)) << 32;
            std::memcpy(&v, &w, 8);
            sum += v;
          }
        } else if (bytesPerSample_ == 1) {
          sum += (double(p[0]) - 128.0) / 128.0;
        } else {
          // Integer samples: the top bytes as a signed value scaled to [-1, 1).
          uint32_t w = 0;
          for (int b = 0; b < bytesPerSample_; ++b) w |= uint32_t(p[b]) << (8 * (4 - bytesPerSample_ + b));
          sum += double(static_cast<int32_t>(w)) / 2147483648.0;
        }
      }
      mono_.push_back(static_cast<float>(sum / channels_));
    }
    std::vector<float> converted;
    const std::vector<float>* ready = &mono_;
    if (resampler_) {
      if (!resampler_->process(mono_.data(), mono_.size(), ended_, converted, err)) return false;
      ready = &converted;
    }
    for (float v : *ready) out_.push_back(toPcm16(v));
  }
  raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes));
  if (ended_) raw_.clear();  // a WAV cut inside a sample frame: the partial frame is dropped
  return true;
}

std::size_t AudioReader::read(int16_t* dst, std::size_t n, std::string& err) {
  err.clear();
  std::size_t done = 0;
  while (done < n) {
    if (outPos_ == out_.size()) {
      if (ended_) break;
      if (!refill(err)) return 0;
      continue;
    }
    const std::size_t k = std::min(n - done, out_.size() - outPos_);
    std::copy(out_.begin() + static_cast<std::ptrdiff_t>(outPos_), out_.begin() + static_cast<std::ptrdiff_t>(outPos_ + k),
              dst + done);
    outPos_ += k;
    done += k;
  }
  return done;
}

// ---- Audio output -----------------------------------------------------------------

AudioWriter::AudioWriter() = default;
AudioWriter::~AudioWriter() = default;

namespace {
void wavHeader(uint8_t h[44], int rate, uint32_t dataBytes) {
  std::memcpy(h, "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0", 24);
  put32(h + 4, dataBytes + 36);
  put32(h + 24, static_cast<uint32_t>(rate));
  put32(h + 28, static_cast<uint32_t>(rate) * 2);
  std::memcpy(h + 32, "\x02\0\x10\0data", 8);
  put32(h + 40, dataBytes);
}
}  // namespace

bool AudioWriter::open(const std::string& path, bool wav, int rate, int outRate, std::string& err) {
  wav_ = wav;
  outRate_ = outRate;
  if (!file_.open(path, err)) return false;
  if (outRate != rate && !(resampler_ = std::make_unique<Resampler>())->open(rate, outRate, err)) return false;
  if (!wav_) return true;
  uint8_t h[44];
  wavHeader(h, outRate_, kUnknownWavData);
  return file_.write(h, sizeof h, err);
}

bool AudioWriter::put(const int16_t* pcm, std::size_t n, std::string& err) {
  uint8_t bytes[2 * kBlockFrames];
  for (std::size_t at = 0; at < n;) {
    const std::size_t k = std::min(n - at, kBlockFrames);
    for (std::size_t i = 0; i < k; ++i) {
      bytes[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[at + i]) & 0xFF);
      bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[at + i]) >> 8);
    }
    if (!file_.write(bytes, 2 * k, err)) return false;
    at += k;
  }
  samples_ += static_cast<long long>(n);
  return true;
}

bool AudioWriter::write(const int16_t* pcm, std::size_t n, std::string& err) {
  if (!resampler_) return put(pcm, n, err);
  in_.resize(n);
  for (std::size_t i = 0; i < n; ++i) in_[i] = float(pcm[i]) / 32768.0f;
  std::vector<float> out;
  if (!resampler_->process(in_.data(), n, false, out, err)) return false;
  conv_.resize(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) conv_[i] = toPcm16(out[i]);
  return put(conv_.data(), conv_.size(), err);
}

bool AudioWriter::finish(std::string& err) {
  if (resampler_) {
    std::vector<float> out;
    if (!resampler_->process(nullptr, 0, true, out, err)) return false;
    conv_.resize(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) conv_[i] = toPcm16(out[i]);
    if (!put(conv_.data(), conv_.size(), err)) return false;
  }
  const long long dataBytes = 2 * samples_;
  if (wav_ && dataBytes < kUnknownWavData) {
    uint8_t h[44];
    wavHeader(h, outRate_, static_cast<uint32_t>(dataBytes));
    file_.rewrite(0, h, sizeof h);  // a pipe keeps the header of unknown length
  }
  return file_.commit(err);
}

bool wavName(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& ch : tail) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return tail == ".wav";
}

}  // namespace vokio
