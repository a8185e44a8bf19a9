// The cost of a shortcut's display text with the X11 layout, which reads the keymap
// anew on every call (so that it follows a layout switch). Needs $DISPLAY.
//   Xvfb :57 & DISPLAY=:57 build/release/bench/shortcut_bench

#include "KeyboardShortcuts/Shortcut.h"
#include "backends/x11/X11KeyboardLayout.h"

#include <benchmark/benchmark.h>

namespace {

void shortcutDescriptionOnX11(benchmark::State& state) {
    const auto layout = X11KeyboardLayout::create();
    if (!layout) {
        state.SkipWithError("needs an X server ($DISPLAY)");
        return;
    }
    const KeyboardShortcuts::Shortcut optionC(KeyboardShortcuts::Key::c,
                                              KeyboardShortcuts::ModifierFlag::option);
    for (auto _ : state)
        benchmark::DoNotOptimize(optionC.description(*layout));
}
BENCHMARK(shortcutDescriptionOnX11)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
