// Audio and bitstream files of the vokcodec tool: WAV through libsndfile
// (mixed down and converted to the codec's rate), raw 16-bit little-endian
// PCM, and outputs written through a temporary file renamed into place.
#include <fcntl.h>
#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "registry.h"

namespace vokc {
namespace {

bool isWavName(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".wav";
}

std::string oneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s;
}

// Opens an input for reading; a folder is refused with a clear reason.
int openInput(const std::string& path, std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    error = "cannot read " + path + ": it is a folder";
    return -1;
  }
  return fd;
}

int16_t toPcm16(float v) {
  float s = std::nearbyint(v * 32768.0f);
  return static_cast<int16_t>(std::max(-32768.0f, std::min(32767.0f, s)));
}

bool readWav(const std::string& path, int rate, std::vector<int16_t>& pcm, std::string& error) {
  int fd = openInput(path, error);
  if (fd < 0) return false;
  SF_INFO info{};
  SNDFILE* f = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
  if (!f) {
    error = path + ": not a WAV file (" + oneLine(sf_strerror(nullptr)) + ")";
    return false;  // libsndfile closed the descriptor
  }
  if (info.channels < 1 || info.samplerate < 1) {
    sf_close(f);
    error = path + ": not a WAV file (no channels or no sample rate)";
    return false;
  }
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  const std::size_t channels = static_cast<std::size_t>(info.channels);
  const std::size_t block = 4096;
  pcm.clear();
  if (channels == 1 && info.samplerate == rate && subtype == SF_FORMAT_PCM_16) {
    // The common case stays bit-exact: 16-bit mono at the codec rate.
    std::vector<short> buf(block);
    sf_count_t got;
    while ((got = sf_read_short(f, buf.data(), static_cast<sf_count_t>(block))) > 0)
      pcm.insert(pcm.end(), buf.begin(), buf.begin() + got);
  } else {
    std::vector<float> mono, buf(block * channels);
    sf_count_t got;
    while ((got = sf_readf_float(f, buf.data(), static_cast<sf_count_t>(block))) > 0) {
      for (sf_count_t i = 0; i < got; ++i) {
        float sum = 0;
        for (std::size_t c = 0; c < channels; ++c) sum += buf[static_cast<std::size_t>(i) * channels + c];
        mono.push_back(sum / static_cast<float>(channels));
      }
    }
    if (info.samplerate != rate) {
      std::vector<float> converted;
      if (!resampleAudio(mono, info.samplerate, rate, converted, error)) {
        sf_close(f);
        error = path + ": " + error;
        return false;
      }
      mono.swap(converted);
    }
    pcm.resize(mono.size());
    for (std::size_t i = 0; i < mono.size(); ++i) pcm[i] = toPcm16(mono[i]);
  }
  int err = sf_error(f);
  sf_close(f);
  if (err != SF_ERR_NO_ERROR) {
    error = path + ": cannot read the WAV data (" + oneLine(sf_error_number(err)) + ")";
    return false;
  }
  return true;
}

// A growable in-memory file for libsndfile's virtual I/O, so a WAV output
// goes through the same atomic write as every other output.
struct MemoryFile {
  std::vector<uint8_t> data;
  sf_count_t pos = 0;
};
sf_count_t memLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->data.size()); }
sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : static_cast<sf_count_t>(m->data.size());
  if (base + offset < 0) return -1;
  m->pos = base + offset;
  return m->pos;
}
sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  sf_count_t size = static_cast<sf_count_t>(m->data.size());
  sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - m->pos));
  if (n > 0) std::memcpy(ptr, m->data.data() + m->pos, static_cast<std::size_t>(n));
  m->pos += n;
  return n;
}
sf_count_t memWrite(const void* ptr, sf_count_t count, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  std::size_t end = static_cast<std::size_t>(m->pos + count);
  if (end > m->data.size()) m->data.resize(end);
  std::memcpy(m->data.data() + m->pos, ptr, static_cast<std::size_t>(count));
  m->pos += count;
  return count;
}
sf_count_t memTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

// The temporary file of the write in progress, for removePendingOutput().
char pendingPath[PATH_MAX + 32];
volatile std::sig_atomic_t pendingSet = 0;

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool readInputFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  int fd = openInput(path, error);
  if (fd < 0) return false;
  out.clear();
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return true;
}

bool resampleAudio(const std::vector<float>& in, int from, int to, std::vector<float>& out, std::string& error) {
  if (from <= 0 || to <= 0) {
    error = "cannot convert from " + std::to_string(from) + " Hz to " + std::to_string(to) + " Hz";
    return false;
  }
  const std::size_t want = static_cast<std::size_t>(std::llround(double(in.size()) * to / from));
  if (from == to || in.empty()) {
    out = in;
    return true;
  }
  const double ratio = double(to) / double(from);
  if (!src_is_valid_ratio(ratio)) {
    error = "cannot convert from " + std::to_string(from) + " Hz to " + std::to_string(to) + " Hz";
    return false;
  }
  out.assign(want + 64, 0.0f);
  SRC_DATA d{};
  d.data_in = in.data();
  d.input_frames = static_cast<long>(in.size());
  d.data_out = out.data();
  d.output_frames = static_cast<long>(out.size());
  d.src_ratio = ratio;
  d.end_of_input = 1;
  int err = src_simple(&d, SRC_SINC_BEST_QUALITY, 1);
  if (err) {
    error = std::string("sample-rate conversion failed: ") + src_strerror(err);
    return false;
  }
  // libsamplerate may stop a sample or two short of the exact length at the end.
  out.resize(static_cast<std::size_t>(d.output_frames_gen));
  out.resize(want, 0.0f);
  return true;
}

bool readAudio(const std::string& path, int rate, std::vector<int16_t>& pcm, std::string& error) {
  if (isWavName(path)) return readWav(path, rate, pcm, error);
  std::vector<uint8_t> bytes;
  if (!readInputFile(path, bytes, error)) return false;
  if (bytes.size() % 2) {
    error = path + ": odd number of bytes, not headerless 16-bit PCM";
    return false;
  }
  pcm.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
  return true;
}

bool writeAudio(const std::string& path, const std::vector<int16_t>& pcm, int rate, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!isWavName(path)) {
    bytes.resize(pcm.size() * 2);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
      bytes[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) & 0xFF);
      bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
    }
    return writeFileAtomically(path, bytes, error);
  }
  MemoryFile mem;
  SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open_virtual(&io, SFM_WRITE, &info, &mem);
  if (!f) {
    error = "cannot write " + path + " (" + oneLine(sf_strerror(nullptr)) + ")";
    return false;
  }
  sf_count_t n = sf_write_short(f, pcm.data(), static_cast<sf_count_t>(pcm.size()));
  sf_close(f);
  if (n != static_cast<sf_count_t>(pcm.size())) {
    error = "cannot write " + path + ": WAV encoding failed";
    return false;
  }
  return writeFileAtomically(path, mem.data, error);
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  auto failWith = [&](const std::string& why) {
    error = "cannot write " + path + ": " + why;
    return false;
  };
  // Through a symbolic link: replace the file it points to, not the link.
  std::string target = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  mode_t mode;
  bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return failWith("it is a folder");
  if (exists && !S_ISREG(st.st_mode)) {
    // A FIFO or a device (/dev/null): renaming over it would replace it.
    int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return failWith(std::strerror(errno));
    bool ok = writeAll(fd, bytes);
    int e = errno;
    ::close(fd);
    return ok ? true : failWith(std::strerror(e));
  }
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  std::string tmp = target + ".tmp.XXXXXX";
  if (tmp.size() >= sizeof pendingPath) return failWith("name too long");
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) return failWith(std::strerror(errno));
  std::memcpy(pendingPath, name.data(), name.size());
  pendingSet = 1;
  int e = 0;
  if (::fchmod(fd, mode) != 0) {
    // mkstemp's 0600 is a safe fallback; not worth failing the run for
  }
  bool ok = writeAll(fd, bytes);
  if (!ok) e = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok && ::rename(name.data(), target.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  if (!ok) ::unlink(name.data());
  pendingSet = 0;
  return ok ? true : failWith(std::strerror(e ? e : EIO));
}

void removePendingOutput() {
  if (pendingSet) ::unlink(pendingPath);
}

}  // namespace vokc
