// Cost of one copy text, per format: the loupe asks for one on every mouse move.
//
// Run (release build, median of 10 repetitions), from the source root:
// clang-format off
//   cmake --preset release && cmake --build --preset release --target color_format_bench -j2 && build/release/bench/color_format_bench
// clang-format on
//
// Each iteration formats one colour of a fixed set (in gamut, wide gamut, extended and
// degenerate), cycling through the set, so the time per iteration is the mean cost of a
// call over the set. "derivations" shows how often the cross-gamut matrices were
// computed in the whole process: 2 (one per matrix), however many calls ran.

#include "colors/ColorFormat.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

const std::vector<PickedColor>& colors() {
    static const std::vector<PickedColor> set = [] {
        auto p3 = [](double r, double g, double b) {
            return PickedColor{matrices::linearP3ToLinearSRGB() * RGB{r, g, b}};
        };
        auto srgb = [](double r, double g, double b) {
            return PickedColor{{srgbDecode(r), srgbDecode(g), srgbDecode(b)}};
        };
        return std::vector<PickedColor>{
            PickedColor::sample(),                       // in sRGB
            {{1, 0, 0}},                                 // sRGB red
            srgb(128.0 / 255, 128.0 / 255, 128.0 / 255), // grey: noisy hue
            srgb(0.2, 0.6, 0.3),                         // in sRGB
            {{0, 0, 0}},                                 // black
            {{1, 1, 1}},                                 // white
            p3(1, 0, 0),                                 // outside sRGB: chroma reduction
            p3(0, 1, 0),                                 // outside sRGB
            p3(0, 0, 1),                                 // outside sRGB
            {{-0.2, 0.5, 1.3}},                          // outside both gamuts
            {{0.02, -0.05, 0.9}},                        // outside both gamuts
            {{2, 2, 1.5}},                               // brighter than white
        };
    }();
    return set;
}

void textOf(benchmark::State& state, ColorFormat format) {
    const auto& set = colors();
    std::size_t i = 0;
    for (auto _ : state) {
        std::string result = text(set[i], format);
        benchmark::DoNotOptimize(result);
        i = i + 1 == set.size() ? 0 : i + 1;
    }
    state.counters["derivations"] = matrices::derivationCount();
}

void mappedInto(benchmark::State& state, ColorGamut gamut) {
    const auto& set = colors();
    std::size_t i = 0;
    for (auto _ : state) {
        RGB result = set[i].mapped(gamut);
        benchmark::DoNotOptimize(result);
        i = i + 1 == set.size() ? 0 : i + 1;
    }
    state.counters["derivations"] = matrices::derivationCount();
}

} // namespace

#define DAUBLY_TEXT_BENCH(name)                                                                    \
    BENCHMARK_CAPTURE(textOf, name, ColorFormat::name)                                             \
        ->Repetitions(10)                                                                          \
        ->ReportAggregatesOnly(true)                                                               \
        ->Unit(benchmark::kNanosecond)

DAUBLY_TEXT_BENCH(oklch);
DAUBLY_TEXT_BENCH(hex);
DAUBLY_TEXT_BENCH(rgba);
DAUBLY_TEXT_BENCH(hsl);
DAUBLY_TEXT_BENCH(oklab);
DAUBLY_TEXT_BENCH(nsColor);
DAUBLY_TEXT_BENCH(swiftUIColor);
DAUBLY_TEXT_BENCH(displayP3);

BENCHMARK_CAPTURE(mappedInto, sRGB, ColorGamut::sRGB)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(mappedInto, displayP3, ColorGamut::displayP3)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
