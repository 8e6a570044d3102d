// What the Python layer pays per call: building and dropping a seeded registry
// (every py_list_constants and py_get_constant call does), and one lookup or
// listing on a built one. Construction, names() and len() run at 8, 64, 512
// and 4096 shards: the shard count follows the machine, the 17 names do not.
#include <benchmark/benchmark.h>

#include <cstddef>

#include "constants/registry.hpp"

namespace {

using norvel::FormulasRegistry;

void BM_BuildAndDrop(benchmark::State& state) {
    const auto shards = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        FormulasRegistry registry(shards);
        benchmark::DoNotOptimize(registry);
    }
}
BENCHMARK(BM_BuildAndDrop)->Arg(8)->Arg(64)->Arg(512)->Arg(4096);

void BM_BuildAndDropEmpty(benchmark::State& state) {
    const auto shards = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        FormulasRegistry registry = FormulasRegistry::empty(shards);
        benchmark::DoNotOptimize(registry);
    }
}
BENCHMARK(BM_BuildAndDropEmpty)->Arg(8)->Arg(512)->Arg(4096);

void BM_Get(benchmark::State& state) {
    const FormulasRegistry registry(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(registry.get("phi"));
}
BENCHMARK(BM_Get)->Arg(8)->Arg(512);

// A pending entry: its expression and dependencies are copied too.
void BM_GetPending(benchmark::State& state) {
    const FormulasRegistry registry(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(registry.get("sterile_check"));
}
BENCHMARK(BM_GetPending)->Arg(8);

void BM_Value(benchmark::State& state) {
    const FormulasRegistry registry(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(registry.value("phi"));
}
BENCHMARK(BM_Value)->Arg(8)->Arg(512);

// The listing as the Python layer takes it: views, each copied once later.
void BM_NameViews(benchmark::State& state) {
    const FormulasRegistry registry(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(registry.name_views());
}
BENCHMARK(BM_NameViews)->Arg(8)->Arg(64)->Arg(512)->Arg(4096);

void BM_Names(benchmark::State& state) {
    const FormulasRegistry registry(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(registry.names());
}
BENCHMARK(BM_Names)->Arg(8)->Arg(64)->Arg(512)->Arg(4096);

void BM_Len(benchmark::State& state) {
    const FormulasRegistry registry(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(registry.len());
}
BENCHMARK(BM_Len)->Arg(8)->Arg(64)->Arg(512)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
