// Welding speed: the toolkit's hashed search against a search of every kept
// vertex, on the same grid meshes (vertices shared as generated grids share
// them, heights random). The full search is quadratic, so its largest size
// runs once.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "mesh_helpers.h"

namespace {

mesh_record* bench_grid(unsigned cells) {
  std::vector<float> heights(4099);
  std::mt19937 random(1);
  for (float& h : heights) h = std::uniform_real_distribution<float>(-0.3f, 0.3f)(random);
  return grid_mesh(cells, cells, heights);
}

template <void (*weld)(mesh_record*, float)>
void weld_grid(benchmark::State& state) {
  const unsigned cells = static_cast<unsigned>(state.range(0));
  mesh_record* source = bench_grid(cells);
  unsigned kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    mesh_record* m = copy_mesh(source);
    state.ResumeTiming();
    weld(m, 0.001f);
    kept = m->vertex_count;
    state.PauseTiming();
    free_mesh(m);
    state.ResumeTiming();
  }
  state.counters["triangles"] = source->triangle_count;
  state.counters["kept"] = kept;
  free_mesh(source);
}

BENCHMARK(weld_grid<consolidate>)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(weld_grid<consolidate_by_full_search>)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(weld_grid<consolidate_by_full_search>)
    ->Arg(256)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
