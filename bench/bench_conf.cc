// Configuration text: "conf/load/<n>/<order>" loads n names each assigned
// twice (the second time in file order, "forward", or in reverse order,
// "reverse"), and "conf/load/<n>/distinct" 2n names each assigned once:
// redefining a name costs what defining one does, so the three take about
// the same time at each n, and the time grows linearly with n.

#include <string>

#include <benchmark/benchmark.h>
#include <morvane/bio.h>
#include <morvane/conf.h>

#include "bench.h"

namespace bench {
namespace {

// The text of n names (order 0: 2n distinct names; 1: n names twice; 2:
// n names, then the same in reverse order).
std::string Text(int n, int order) {
  std::string t;
  for (int pass = 0; pass < 2; pass++) {
    for (int i = 0; i < n; i++) {
      const int k = order == 0 ? pass * n + i : (pass == 1 && order == 2 ? n - 1 - i : i);
      t += "k" + std::to_string(k) + " = " + std::to_string(pass) + "\n";
    }
  }
  return t;
}

}  // namespace

void RegisterConf() {
  const char* kOrders[] = {"distinct", "forward", "reverse"};
  for (int n : {2000, 20000, 80000}) {
    for (int order = 0; order < 3; order++) {
      benchmark::RegisterBenchmark(
          ("conf/load/" + std::to_string(n) + "/" + kOrders[order]).c_str(),
          [n, order](benchmark::State& state) {
            const std::string text = Text(n, order);
            for (auto _ : state) {
              CONF* conf = NCONF_new(nullptr);
              BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()),
                                        static_cast<int>(text.size()));
              if (NCONF_load_bio(conf, in, nullptr) != 1) state.SkipWithError("load failed");
              BIO_free(in);
              NCONF_free(conf);
            }
          })
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace bench
