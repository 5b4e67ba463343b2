// A minimal host: one scan of a session on a volume; prints the run's result.
#include <tarn/scanner/scanner.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 5) return std::fprintf(stderr, "usage: host VOLUME OUTPUT_DIR MOUNT SESSION\n"), 2;
  tarn::scanner::scanner scanner(argv[1], argv[2], argv[3]);
  std::error_code ec = scanner.initiate_scan(argv[4]);
  std::printf("%d %s\n", ec.value(), ec.message().c_str());
  return ec ? 1 : 0;
}
