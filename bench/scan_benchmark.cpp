// The scan's own cost per process-list entry, over the fake's snapshot: what the name filter and
// the walk cost beside the platform's calls, which the fake answers at once.
#include <benchmark/benchmark.h>

#include <string>

#include "fake_windows.h"
#include "instance_check/scan_instances.h"

namespace {

constexpr const wchar_t* kTarget = L"C:\\Apps\\Tavelune\\Tavelune.exe";

// `entries` processes, `candidates` of them named "Tavelune.exe" (spread evenly, each from another
// path, so the walk reads the whole list), the rest with ordinary names of similar length.
FakeSystem ProcessList(int entries, int candidates) {
  FakeSystem script;
  int spacing = candidates > 0 ? entries / candidates : entries + 1;
  for (int i = 0; i < entries; ++i) {
    bool candidate = candidates > 0 && i % spacing == spacing - 1;
    script.processes.push_back({static_cast<DWORD>(4 * (i + 1)),
                                candidate ? L"Tavelune.exe" : L"svchost.exe",
                                L"D:\\Old\\Tavelune.exe"});
  }
  return script;
}

void ScanOverFakeSnapshot(benchmark::State& state) {
  int entries = static_cast<int>(state.range(0));
  int candidates = static_cast<int>(state.range(1));
  ResetFake(ProcessList(entries, candidates));
  for (auto _ : state) {
    RewindFake();
    benchmark::DoNotOptimize(ScanInstances(kTarget));
  }
  if (Fake().entriesDelivered != static_cast<size_t>(entries) ||
      Fake().openedProcessIds.size() != static_cast<size_t>(candidates)) {
    state.SkipWithError("the scan did not read the whole list or opened the wrong processes");
  }
  // Seconds per entry, shown with an SI prefix: "17.9n" is 17.9 ns.
  state.counters["per_entry"] = benchmark::Counter(
      static_cast<double>(entries),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(ScanOverFakeSnapshot)
    ->Args({10000, 0})
    ->Args({10000, 100})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
