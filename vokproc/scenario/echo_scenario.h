// Echo-canceller scenarios after ITU-T G.168: the echo paths of Annex D
// (models D.2-D.9) scaled to a chosen echo return loss, far-end and
// near-end signals (white noise, the tone pairs of test 6), the echo of a
// signal through a path that may change, and the ERLE measure.  One module
// for vokproc's g168 self-test and the library's canceller tests; the
// canceller under test is supplied by the caller.
#ifndef VOKPROC_SCENARIO_ECHO_SCENARIO_H
#define VOKPROC_SCENARIO_ECHO_SCENARIO_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vokp::g168 {

// Echo path model D.<model> (2..9; empty for others) at 8000 or 16000 Hz
// (16 kHz: the 8 kHz response with midpoints inserted), scaled so that white
// noise through it loses erlDb.
std::vector<double> echoPath(int model, int sampleRate, double erlDb);

// The tone pairs (Hz) of G.168 test 6; a second frequency of 0 means one tone.
std::vector<std::pair<double, double>> narrowBandTones();

// Uniform white noise of the given RMS level (dB below 16-bit full scale 32768).
std::vector<double> whiteNoise(std::size_t n, double dbfs, uint32_t seed);

// A tone pair, each tone at the given RMS level (dBFS).
std::vector<double> tonePair(std::size_t n, double f1, double f2, int sampleRate, double dbfs);

// y = h * x; from sample `switchAt` on through h2 instead.
std::vector<double> echoOf(const std::vector<double>& x, const std::vector<double>& h,
                           const std::vector<double>& h2 = {}, std::size_t switchAt = SIZE_MAX);

// ERLE per block of `block` samples: 10 log10 of the echo power over the
// residual power, the residual delayed by `delay` samples against the echo.
std::vector<double> erleTrack(const std::vector<double>& echo, const std::vector<double>& residual,
                              std::size_t delay, std::size_t block);

// Seconds from `fromBlock` until the track first reaches `db` (-1: never).
double secondsToReach(const std::vector<double>& track, double db, std::size_t fromBlock, double blockSeconds);

// Mean of the track's blocks from..to-1 (dB values averaged; 0 when empty).
double meanDb(const std::vector<double>& track, std::size_t from, std::size_t to);

}  // namespace vokp::g168

#endif  // VOKPROC_SCENARIO_ECHO_SCENARIO_H
