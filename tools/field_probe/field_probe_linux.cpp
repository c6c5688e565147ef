// Reads the focused field through AT-SPI a number of times and prints what
// each read cost, then the median and the worst: the cost of the check after
// a record's keys (tools/bench/field_read_bench.py runs it).
//   tarvik_field_probe COUNT LIMIT_MS [--text]
// Each line: microseconds, then the field's length and selection, or why
// none; --text adds the text itself (for tests of the reader).
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "keys/linux/field_reader_linux.h"

namespace {
// Focus events that were on their way when the probe started are taken first.
constexpr int kSettleMs = 200;
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s COUNT LIMIT_MS [--text]\n", argv[0]);
    return 2;
  }
  const int count = std::atoi(argv[1]);
  const std::chrono::milliseconds limit(std::atoi(argv[2]));
  const bool showText = argc > 3 && std::strcmp(argv[3], "--text") == 0;
  tarvik::lnx::AtSpiFieldReader reader(tarvik::NoLog());
  QTimer::singleShot(kSettleMs, &app, [&] {
    std::vector<double> costs;
    for (int i = 0; i < count; ++i) {
      QCoreApplication::processEvents();
      const auto start = std::chrono::steady_clock::now();
      const tarvik::FieldReading r = reader.Read(limit);
      const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
      costs.push_back(us);
      if (r.field) {
        std::printf("%.0f field %zu %zu %zu %s", us, r.field->text.size(), r.field->selStart, r.field->selEnd,
                    r.which.c_str());
        if (showText) std::printf(" %s", QString::fromStdU32String(r.field->text).toUtf8().constData());
        std::printf("\n");
      } else {
        std::printf("%.0f none %s\n", us, r.why.c_str());
      }
    }
    std::sort(costs.begin(), costs.end());
    if (!costs.empty()) std::printf("median_us %.0f worst_us %.0f\n", costs[costs.size() / 2], costs.back());
    std::fflush(stdout);
    app.quit();
  });
  return app.exec();
}
