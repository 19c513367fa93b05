// image_psnr.cpp: the tests' image comparison as a command, for the checks
// that are not C++ programs (the web page's stills).
//   image-psnr A.png B.png   prints the PSNR of B against A in dB ("inf" for
//                            identical images); a file that cannot be read,
//                            or images of different sizes, end with one line
//                            on stderr and exit status 1
#include <cmath>
#include <cstdio>

#include "test_files.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: image-psnr A.png B.png\n");
    return 2;
  }
  rgb_image images[2];
  for (int i = 0; i < 2; ++i) {
    if (!read_png(argv[i + 1], &images[i])) {
      std::fprintf(stderr, "image-psnr: cannot use %s: not a readable image\n", argv[i + 1]);
      return 1;
    }
  }
  if (images[0].width != images[1].width || images[0].height != images[1].height) {
    std::fprintf(stderr, "image-psnr: cannot compare %s (%dx%d) with %s (%dx%d): sizes differ\n",
                 argv[1], images[0].width, images[0].height, argv[2], images[1].width,
                 images[1].height);
    return 1;
  }
  const double decibels = psnr(images[0], images[1]);
  if (std::isinf(decibels))
    std::printf("inf\n");
  else
    std::printf("%.2f\n", decibels);
  return 0;
}
