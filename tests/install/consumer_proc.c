/* A program built against an installed vokproc: an echo canceller in its
 * own memory removes the echo of a noise far end (half its amplitude, one
 * sample late) from the near end. */
#include <stdio.h>
#include <stdlib.h>

#include <vokproc.h>

int main(void) {
  VokpEchoConfig config;
  VokpEcho* echo;
  int size;
  if (vokpEchoConfigDefault(&config, 8000) != vokOk || vokpEchoGetSize(&config, &size) != vokOk) return 1;
  void* mem = malloc((size_t)size);
  if (!mem || vokpEchoInit(&config, mem, size, &echo) != vokOk) return 2;
  Vok16s far[80], near[80], out[80], last = 0;
  double in = 0, left = 0;
  unsigned seed = 1;
  for (int frame = 0; frame < 300; ++frame) {
    for (int i = 0; i < 80; ++i) {
      seed = seed * 1664525u + 1013904223u;
      far[i] = (Vok16s)((int)(seed >> 20) - 2048);
      near[i] = (Vok16s)(last / 2);
      last = far[i];
    }
    if (vokpEchoProcess(echo, far, near, out) != vokOk) return 3;
    for (int i = 0; i < 80 && frame >= 200; ++i) in += (double)near[i] * near[i], left += (double)out[i] * out[i];
  }
  free(mem);
  printf("vokproc: echo reduced by %.0f times in power\n", left > 0 ? in / left : 1e9);
  return left * 100 < in ? 0 : 4;
}
