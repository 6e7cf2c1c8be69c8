// Segments of complex subband frames and the table of pointers to them that
// the subband filters and controllers take (copies point at their own frames).
#ifndef VOKSC_TESTS_EC_FRAMES_H
#define VOKSC_TESTS_EC_FRAMES_H

#include <vector>

template <class T>
struct Frames {
  std::vector<std::vector<T>> v;
  std::vector<T*> p;
  Frames(int segs, int len) : v(segs, std::vector<T>(len, T{})) { point(); }
  Frames(const Frames& o) : v(o.v) { point(); }
  void point() {
    for (auto& f : v) p.push_back(f.data());
  }
};

#endif  // VOKSC_TESTS_EC_FRAMES_H
